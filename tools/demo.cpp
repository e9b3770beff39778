// Demo of the engine's main job: read a TOML file, edit a few values, and
// write it back with everything else untouched. Prints the edited document
// and the lines that changed.
//
//   morvelan-demo examples/pyproject.toml
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "document.hpp"
#include "encode.hpp"
#include "parser.hpp"

using namespace morvelan;

namespace {

std::vector<std::string> lines_of(std::string_view text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        out.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// Line diff by longest common subsequence (the demo's files are small).
void print_diff(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::size_t n = a.size(), m = b.size();
    std::vector<std::vector<unsigned>> lcs(n + 1, std::vector<unsigned>(m + 1, 0));
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;)
            lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    std::size_t i = 0, j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && a[i] == b[j]) {
            ++i, ++j;
        } else if (i < n && (j == m || lcs[i + 1][j] >= lcs[i][j + 1])) {
            std::printf("-%4zu | %s\n", i + 1, a[i].c_str());
            ++i;
        } else {
            std::printf("+%4zu | %s\n", j + 1, b[j].c_str());
            ++j;
        }
    }
}

// Replaces a value in place, keeping the spacing and comment around it.
void replace_value(TreeItem& slot, TreeItem value) {
    Decor decor = slot.decor();
    slot = std::move(value);
    slot.decor() = std::move(decor);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.toml\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();

    auto parsed = parse_document(text);
    if (!parsed.ok()) {
        std::fprintf(stderr, "%s", parsed.error().display().c_str());
        return 1;
    }
    DocumentRoot& doc = parsed.value();

    TreeItem* project = doc.table().get_visible("project");
    if (!project || !project->is_table()) {
        std::fprintf(stderr, "%s has no [project] table\n", argv[1]);
        return 1;
    }
    Table& p = project->as_table();
    if (TreeItem* name = p.get_visible("name"); name && name->kind() == ItemKind::String)
        std::printf("project: %.*s\n", static_cast<int>(name->as_string().size()), name->as_string().data());

    // Bump the version, keeping its alignment and comment.
    if (TreeItem* version = p.get_visible("version"); version && version->kind() == ItemKind::String) {
        std::string v(version->as_string());
        std::printf("version: %s -> ", v.c_str());
        std::size_t dot = v.rfind('.');
        std::string bumped = v.substr(0, dot + 1) + std::to_string(std::stoi(v.substr(dot + 1)) + 1);
        std::printf("%s\n", bumped.c_str());
        replace_value(*version, TreeItem::string(bumped));
    }

    // Add one dependency and remove another.
    TreeItem* tool = doc.table().get_visible("tool");
    TreeItem* poetry = tool && tool->is_table() ? tool->as_table().get_visible("poetry") : nullptr;
    TreeItem* deps = poetry && poetry->is_table() ? poetry->as_table().get_visible("dependencies") : nullptr;
    if (deps && deps->is_table()) {
        deps->as_table().insert("rich", TreeItem::string(">=13.7"), false);
        deps->as_table().remove("requests");
    }

    String out = write_document(doc);
    std::printf("\n--- %s\n+++ edited\n", argv[1]);
    print_diff(lines_of(text), lines_of({out.data(), out.size()}));
    return 0;
}
