#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "document.hpp"
#include "encode.hpp"
#include "helpers.hpp"
#include "parser.hpp"

using namespace morvelan;
using namespace morvelan::test;

namespace {

std::string decor_of(const TreeItem& v) {
    auto part = [](const RawText& t) {
        return t.is_absent() ? std::string("<absent>") : std::string(t.view());
    };
    return part(v.decor().prefix) + "|" + part(v.decor().suffix);
}

}  // namespace

// A packed array reads, writes, compares and copies like the items it stands
// for; unpacking gives exactly those items.
TEST(PackedArray, ReadsLikeItsItems) {
    struct Case {
        const char* array;
        bool packed;
    };
    const Case cases[] = {
        {"[1, 2, 3]", true},
        {"[ 1 , 2,  # two\n   3, ]", true},
        {"[\"a\\tb\", 'lit', \"\"\"multi\nline\"\"\", '''x''']", true},
        {"[1979-05-27T07:32:00Z, 1979-05-27 07:32:00.5, 07:32, 2024-01-01]", true},
        {"[0xFF, 1e3, inf, -nan, true, -0.0]", true},
        {"[\n  # first\n  1,\n  2 # last\n]", true},
        {"[]", false},
        {"[ # nothing\n]", false},
        {"[1, [2]]", false},
        {"[{a = 1}, 2]", false},
        {"[1,\r\n 2]", true},
        {"[\r\n  '''a\r\nb''', # c\r\n  2,\r\n]", true},
    };
    for (const Case& c : cases) {
        const std::string input = std::string("a = ") + c.array + "\nb = 1\n";
        auto parsed = parse_document(input);
        ASSERT_TRUE(parsed.ok()) << c.array;
        std::optional<DocumentRoot> doc(std::move(parsed.value()));
        const TreeItem& original = *doc->table().get("a");
        const Array& arr = original.as_array();
        EXPECT_EQ(arr.packed(), c.packed) << c.array;
        EXPECT_EQ(text_of(write_document(*doc)), input) << c.array;

        // Read without unpacking, from an unpacked copy, and compared.
        TreeItem unpacked = original;
        const Elements& items = unpacked.as_array().items();
        EXPECT_FALSE(unpacked.as_array().packed());
        ASSERT_EQ(items.size(), arr.size()) << c.array;
        ElementReader reader(arr);
        for (const TreeItem& item : items) {
            const TreeItem* read = reader.next();
            ASSERT_NE(read, nullptr) << c.array;
            EXPECT_TRUE(same_data(*read, item)) << c.array;
            EXPECT_EQ(decor_of(*read), decor_of(item)) << c.array;
        }
        EXPECT_EQ(reader.next(), nullptr) << c.array;
        EXPECT_EQ(arr.packed(), c.packed) << "reading unpacked it: " << c.array;
        EXPECT_TRUE(same_data(original, unpacked)) << c.array;
        EXPECT_EQ(text_of(write_item(unpacked)), text_of(write_item(original))) << c.array;

        // A detached copy outlives the document it came from.
        TreeItem moved = original;
        moved.detach();
        const std::string written = text_of(write_item(original));
        doc.reset();
        EXPECT_EQ(text_of(write_item(moved)), written) << c.array;
        EXPECT_EQ(moved.as_array().items().size(), items.size()) << c.array;
        EXPECT_EQ(text_of(write_item(moved)), written) << c.array;
    }
}

TEST(PackedArray, EditsUnpackFirst) {
    auto parsed = parse_document("a = [ 1,2 , 3 ] # c\n");
    ASSERT_TRUE(parsed.ok());
    Array& arr = parsed.value().table().get("a")->as_array();
    ASSERT_TRUE(arr.packed());
    arr.replace(1, TreeItem::integer(9));
    EXPECT_EQ(text_of(write_document(parsed.value())), "a = [ 1,9 , 3 ] # c\n");
    arr.fmt();
    EXPECT_EQ(text_of(write_document(parsed.value())), "a = [1, 9, 3] # c\n");

    auto again = parse_document("a = [1, 2]\n");
    Array& other = again.value().table().get("a")->as_array();
    other.clear();
    EXPECT_TRUE(other.empty());
    EXPECT_EQ(text_of(write_document(again.value())), "a = []\n");
}

TEST(PackedArray, NestedArraysArePackedInside) {
    auto parsed = parse_document("a = [[1, 2], [3], []]\n");
    ASSERT_TRUE(parsed.ok());
    const Array& outer = parsed.value().table().get("a")->as_array();
    EXPECT_FALSE(outer.packed());
    ASSERT_EQ(outer.size(), 3u);
    EXPECT_TRUE(outer.items()[0].as_array().packed());
    EXPECT_TRUE(outer.items()[1].as_array().packed());
    EXPECT_FALSE(outer.items()[2].as_array().packed());
}
