// The layout the writer records (WrittenLayout): where each line, array,
// element and comment of the written text stands, with offsets in code points.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "helpers.hpp"

using namespace morvelan;

namespace {

// The text from code point `begin` to code point `end` of the UTF-8 `text`.
std::string points(std::string_view text, std::size_t begin, std::size_t end) {
    std::size_t at = 0;
    std::size_t count = 0;
    std::size_t from = text.size();
    for (; at <= text.size(); ++at) {
        if (at == text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) {
            if (count == begin) from = at;
            if (count == end) break;
            ++count;
        }
    }
    return std::string(text.substr(from, at - from));
}

std::string path_text(const WrittenLayout& l, WrittenLayout::Path path, std::size_t table_size) {
    std::string out;
    for (std::uint32_t i = 0; i < path.size; ++i) {
        const WrittenLayout::Step& step = l.steps[path.first + i];
        if (i != 0) out += i == table_size ? ":" : "/";
        out += step.is_index ? std::to_string(step.index) : std::string(step.key);
    }
    return out;
}

// "path|text" for each line ("table path:keys"), "path|text|element|..."
// (with "inline|" first for an array inside an inline table) for each array,
// "text" for each comment.
struct Seen {
    std::vector<std::string> lines, arrays, comments;
};

Seen seen(const std::string& text, WrittenLayout& l) {
    count_code_points(text, l);
    Seen s;
    for (const WrittenLayout::Line& line : l.lines)
        s.lines.push_back(path_text(l, line.path, line.table_size) + "|" +
                          points(text, line.text.begin, line.text.end));
    for (const WrittenLayout::ArrayPlace& a : l.arrays) {
        std::string out = (a.in_inline_table ? "inline|" : "") + path_text(l, a.path, a.path.size) + "|" +
                          points(text, a.text.begin, a.text.end);
        for (std::uint32_t i = 0; i < a.count; ++i) {
            const WrittenLayout::Span& e = l.elements[a.first + i];
            out += "|" + points(text, e.begin, e.end);
        }
        s.arrays.push_back(out);
    }
    for (const WrittenLayout::Span& c : l.comments) s.comments.push_back(points(text, c.begin, c.end));
    return s;
}

struct LayoutCase {
    const char* name;
    std::string text;
    std::vector<std::string> lines, arrays, comments;
};

class WrittenLayoutCases : public testing::TestWithParam<LayoutCase> {};

TEST_P(WrittenLayoutCases, RecordsWhereEachPartStands) {
    const LayoutCase& c = GetParam();
    DocumentRoot doc = test::parse(c.text);
    WrittenLayout layout;
    const std::string text = test::text_of(write_document(doc, &layout));
    ASSERT_EQ(text, c.text);
    const Seen s = seen(text, layout);
    EXPECT_EQ(s.lines, c.lines);
    EXPECT_EQ(s.arrays, c.arrays);
    EXPECT_EQ(s.comments, c.comments);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, WrittenLayoutCases,
    testing::Values(
        LayoutCase{"Tables",
                   "# top\na = 1 # one\n[t]\n  b.c = \"#x\"\n[[p]]\nn = 1\n[[p]]\nn = 2\n[p.q]\nm = 3\n",
                   {"a|a = 1", "t:b/c|b.c = \"#x\"", "p/0:n|n = 1", "p/1:n|n = 2", "p/1/q:m|m = 3"},
                   {},
                   {"# top", "# one"}},
        // Packed (all scalars) and unpacked arrays, nested, with comments
        // between the elements, and arrays inside inline tables.
        LayoutCase{"Arrays",
                   "x = [ 1, 'a]' ,# c\n  2 ]\ny = [[1], [2, [3]]]\nz = { k = [4], i = { j = [] } }\n"
                   "[[w]]\nv = [{ u = [5] }]\n",
                   {"x|x = [ 1, 'a]' ,# c\n  2 ]", "y|y = [[1], [2, [3]]]",
                    "z|z = { k = [4], i = { j = [] } }", "w/0:v|v = [{ u = [5] }]"},
                   {"x|[ 1, 'a]' ,# c\n  2 ]|1|'a]'|2", "y/0|[1]|1", "y/1/1|[3]|3", "y/1|[2, [3]]|2|[3]",
                    "y|[[1], [2, [3]]]|[1]|[2, [3]]", "inline|z/k|[4]|4", "inline|z/i/j|[]",
                    "inline|w/0/v/0/u|[5]|5", "w/0/v|[{ u = [5] }]|{ u = [5] }"},
                   {"# c"}},
        // Offsets count code points, not bytes.
        LayoutCase{
            "NonAscii",
            "\xEF\xBB\xBF"
            "\"\xC3\xA9t\xC3\xA9\" = [\"\xE5\x90\x8D\", '\xF0\x9F\x99\x82'] # \xC3\xA0\n"
            "[\"\xC3\xBC\"]\nk = [1, # \xE2\x82\xAC\n 2]\n",
            {"\xC3\xA9t\xC3\xA9|\"\xC3\xA9t\xC3\xA9\" = [\"\xE5\x90\x8D\", '\xF0\x9F\x99\x82']",
             "\xC3\xBC:k|k = [1, # \xE2\x82\xAC\n 2]"},
            {"\xC3\xA9t\xC3\xA9|[\"\xE5\x90\x8D\", '\xF0\x9F\x99\x82']|\"\xE5\x90\x8D\"|'\xF0\x9F\x99\x82'",
             "\xC3\xBC/k|[1, # \xE2\x82\xAC\n 2]|1|2"},
            {"# \xC3\xA0", "# \xE2\x82\xAC"}},
        // A comment ends before the carriage return of its line.
        LayoutCase{"CrLf",
                   "a = [\r\n  1, # one\r\n]\r\n",
                   {"a|a = [\r\n  1, # one\r\n]"},
                   {"a|[\r\n  1, # one\r\n]|1"},
                   {"# one"}}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

// Written on its own, an item records the span of its value without the decor
// around it; the comments inside stay in the span.
TEST(WrittenLayout, ItemValueWithoutItsDecor) {
    DocumentRoot doc = test::parse("a = [ # in\n  1 ] # after\nb = 'x' # b\n");
    for (const auto& [path, value] : {std::pair{"a", "[ # in\n  1 ]"}, std::pair{"b", "'x'"}}) {
        WrittenLayout layout;
        const std::string text = test::text_of(write_item(*test::resolve(doc, path), &layout));
        count_code_points(text, layout);
        EXPECT_EQ(points(text, layout.value.begin, layout.value.end), value) << path;
    }
}

}  // namespace
