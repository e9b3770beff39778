// Conformance driver: parses each file named on the command line and prints
// one JSON object per line:
//   {"path": ..., "ok": true, "value": <tagged JSON>, "output": <written text>,
//    "reparse": true|false, "plain": [read, differ]}
//   {"path": ..., "ok": false, "error": <report text>}
// "value" follows the toml-test convention (tables are objects, scalars are
// {"type": ..., "value": ...}); "reparse" tells whether the written text
// parses again to the same data; "plain" counts the packed arrays that the
// plain reader (PlainElements) read whole, and those where it read anything
// other than what the parser reads back (PackedElements).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "array.hpp"
#include "document.hpp"
#include "encode.hpp"
#include "packed.hpp"
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

bool same_scalar(const BareScalar& plain, const TreeItem& item) {
    switch (plain.kind) {
        case ScalarKind::Integer:
            return item.kind() == ItemKind::Integer && item.as_integer() == plain.integer;
        case ScalarKind::Float:
            return item.kind() == ItemKind::Float &&
                   (item.as_float() == plain.floating ||
                    (item.as_float() != item.as_float() && plain.floating != plain.floating));
        case ScalarKind::Boolean: return item.kind() == ItemKind::Boolean && item.as_bool() == plain.boolean;
        case ScalarKind::Datetime: {
            if (item.kind() != ItemKind::Datetime) return false;
            String a, b;
            append_datetime(a, item.as_datetime());
            append_datetime(b, plain.datetime);
            return a == b;
        }
    }
    return false;
}

// Reads every packed array below `item` with both readers (before anything
// unpacks it); see "plain" above.
void check_plain(const TreeItem& item, int& read, int& differ) {
    if (item.is_table_like()) {
        for (const Entry& e : item.as_table().entries) check_plain(e.item, read, differ);
    } else if (item.is_array_of_tables()) {
        for (const TreeItem& m : item.as_array_of_tables().values) check_plain(m, read, differ);
    } else if (item.is_array() && !item.as_array().packed()) {
        for (const TreeItem& v : item.as_array().stored_items()) check_plain(v, read, differ);
    } else if (item.is_array()) {
        PlainElements plain(item.as_array().packed_text());
        ElementReader parsed(item.as_array());
        for (;;) {
            const PlainElements::Element e = plain.next();
            if (e.kind == PlainElements::Kind::Other) return;
            const TreeItem* v = parsed.next();
            if (e.kind == PlainElements::Kind::End) {
                ++(v ? differ : read);
                return;
            }
            const bool same = v && (e.kind == PlainElements::Kind::String
                                        ? v->kind() == ItemKind::String && v->as_string() == e.text
                                        : same_scalar(e.scalar, *v));
            if (!same) {
                ++differ;
                return;
            }
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
            int read = 0, differ = 0;
            check_plain(doc.root(), read, differ);
            line += ",\"ok\":true,\"plain\":[" + std::to_string(read) + "," + std::to_string(differ) + "]";
            line += ",\"value\":";
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
