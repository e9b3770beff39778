// Conformance driver: parses each file named on the command line and prints
// one JSON object per line:
//   {"path": ..., "ok": true, "value": <tagged JSON>, "output": <written text>,
//    "reparse": true|false}
//   {"path": ..., "ok": false, "error": <report text>}
// "value" follows the toml-test convention (tables are objects, scalars are
// {"type": ..., "value": ...}); "reparse" tells whether the written text
// parses again to the same data.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "document.hpp"
#include "encode.hpp"
#include "parser.hpp"
#include "string.hpp"

using namespace morvelan;

namespace {

void json_string(std::string& out, std::string_view s) {
    out.push_back('"');
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out.push_back('"');
}

void tagged(std::string& out, const char* type, std::string_view value) {
    out += "{\"type\":\"";
    out += type;
    out += "\",\"value\":";
    json_string(out, value);
    out += "}";
}

void to_json(std::string& out, const TreeItem& item) {
    String text;
    switch (item.kind()) {
        case ItemKind::None: out += "null"; return;
        case ItemKind::String: tagged(out, "string", item.as_string()); return;
        case ItemKind::Integer:
            append_integer_text(text, item.as_integer());
            tagged(out, "integer", {text.data(), text.size()});
            return;
        case ItemKind::Float:
            append_float_text(text, item.as_float());
            tagged(out, "float", {text.data(), text.size()});
            return;
        case ItemKind::Boolean: tagged(out, "bool", item.as_bool() ? "true" : "false"); return;
        case ItemKind::Datetime: {
            const Datetime& dt = item.as_datetime();
            append_datetime(text, dt);
            const char* type = dt.offset            ? "datetime"
                               : dt.date && dt.time ? "datetime-local"
                               : dt.date            ? "date-local"
                                                    : "time-local";
            tagged(out, type, {text.data(), text.size()});
            return;
        }
        case ItemKind::Array:
        case ItemKind::ArrayOfTables: {
            const auto& values = item.is_array() ? item.as_array().items() : item.as_array_of_tables().values;
            out.push_back('[');
            bool first = true;
            for (const TreeItem& v : values) {
                if (!first) out.push_back(',');
                first = false;
                to_json(out, v);
            }
            out.push_back(']');
            return;
        }
        case ItemKind::InlineTable:
        case ItemKind::Table: {
            out.push_back('{');
            bool first = true;
            for (const Entry& e : item.as_table().entries) {
                if (e.item.is_none()) continue;
                if (!first) out.push_back(',');
                first = false;
                json_string(out, e.key.text());
                out.push_back(':');
                to_json(out, e.item);
            }
            out.push_back('}');
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream f(argv[i], std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        std::string text = ss.str();
        std::string line = "{\"path\":";
        json_string(line, argv[i]);
        auto result = parse_document(text);
        if (!result.ok()) {
            line += ",\"ok\":false,\"error\":";
            json_string(line, result.error().display());
        } else {
            const DocumentRoot& doc = result.value();
            line += ",\"ok\":true,\"value\":";
            to_json(line, doc.root());
            String written = write_document(doc);
            line += ",\"output\":";
            json_string(line, {written.data(), written.size()});
            auto again = parse_document({written.data(), written.size()});
            bool same = again.ok() && same_data(doc.root(), again.value().root());
            line += same ? ",\"reparse\":true" : ",\"reparse\":false";
        }
        line += "}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}
