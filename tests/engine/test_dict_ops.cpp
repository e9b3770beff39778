// Table edits: assignment, deletion, popitem and clear on standard and inline
// tables, checked on the text they leave and on what that text reads back as.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "array.hpp"
#include "array_of_tables.hpp"
#include "edit/comments.hpp"
#include "edit/dict_ops.hpp"
#include "encode.hpp"
#include "helpers.hpp"
#include "parser.hpp"

using namespace morvelan;
using namespace morvelan::test;

namespace {

// What the value conversion makes: no spelling, no decor, no position, no flags.
void make_plain(TreeItem& item) {
    item.set_repr(RawText::absent());
    item.decor().clear();
    if (item.is_table_like()) {
        Table& t = item.as_table();
        t.trailing = RawText();
        t.trailing_comma = t.implicit = t.dotted = false;
        t.doc_position.reset();
        t.header_keys.reset();
        for (Entry& e : t.entries) {
            e.key.reset_format();
            make_plain(e.item);
        }
    } else if (item.is_array()) {
        item.as_array().trailing = RawText();
        item.as_array().trailing_comma = false;
        for (TreeItem& v : item.as_array().items()) make_plain(v);
    } else if (item.is_array_of_tables()) {
        for (TreeItem& m : item.as_array_of_tables().values) make_plain(m);
    }
}

using Maker = std::function<TreeItem(DocumentRoot&)>;

// A value written in TOML ("8080", "[1, 2]"), as if converted from Python.
Maker V(std::string text) {
    return [text](DocumentRoot&) {
        ParseResult<TreeItem> r = parse_value(text);
        EXPECT_TRUE(r.ok()) << text;
        TreeItem v = r.ok() ? std::move(r.value()) : TreeItem::integer(0);
        make_plain(v);
        return v;
    };
}
// A table (a Python mapping) given as document text.
Maker T(std::string text) {
    return [text](DocumentRoot&) {
        DocumentRoot d = parse(text);
        TreeItem t = std::move(d.root());
        t.detach();
        make_plain(t);
        return t;
    };
}
// An array of tables (a list of mappings).
Maker A(std::vector<std::string> members) {
    return [members](DocumentRoot& doc) {
        TreeItem a = TreeItem::array_of_tables();
        for (const std::string& m : members) a.as_array_of_tables().values.push_back(T(m)(doc));
        return a;
    };
}
// A copy of an item of another document, with its spelling and decor.
Maker C(std::string text, std::string path) {
    return [text, path](DocumentRoot&) {
        DocumentRoot d = parse(text);
        TreeItem* it = resolve(d, path);
        EXPECT_TRUE(it) << path;
        TreeItem copy = it ? *it : TreeItem::integer(0);
        copy.detach();
        return copy;
    };
}
// A copy of an item of the document being edited.
Maker Own(std::string path) {
    return [path](DocumentRoot& doc) {
        TreeItem* it = resolve(doc, path);
        EXPECT_TRUE(it) << path;
        return it ? *it : TreeItem::integer(0);
    };
}

enum class OpKind { Set, Del, Pop, Clear, Edit };

struct Op {
    OpKind kind;
    std::string path;  // the target table
    std::string key;   // Set, Del: the key; Pop: the key expected to go
    Maker make;
    std::function<void(TreeItem&)> edit;
};

Op set(std::string path, std::string key, Maker m) { return Op{OpKind::Set, path, key, std::move(m), {}}; }
Op del(std::string path, std::string key) { return Op{OpKind::Del, path, key, {}, {}}; }
Op pop(std::string path, std::string expected_key) { return Op{OpKind::Pop, path, expected_key, {}, {}}; }
Op clear(std::string path) { return Op{OpKind::Clear, path, "", {}, {}}; }
// A change made directly on the tree (as the comment setters make them).
Op edit(std::string path, std::function<void(TreeItem&)> f) {
    return Op{OpKind::Edit, path, "", {}, std::move(f)};
}

// Applies an operation and checks what it returns.
void apply(DocumentRoot& doc, const Op& op) {
    TreeItem* target = resolve(doc, op.path);
    ASSERT_TRUE(target) << "no target " << op.path;
    if (op.kind == OpKind::Edit) {
        op.edit(*target);
        return;
    }
    ASSERT_TRUE(target->is_table_like()) << op.path;
    switch (op.kind) {
        case OpKind::Set: {
            bool had = target->as_table().contains(op.key);
            TreeItem item = op.make(doc);
            TreeItem expected = item;
            EXPECT_EQ(assign_entry(doc, *target, op.key, std::move(item)), had) << op.key;
            const TreeItem* stored = target->as_table().get_visible(op.key);
            ASSERT_TRUE(stored) << op.key;
            EXPECT_TRUE(values_equal(*stored, expected)) << op.key;
            break;
        }
        case OpKind::Del: {
            TreeItem before = *target->as_table().get_visible(op.key);
            std::size_t n = target->as_table().visible_size();
            std::optional<Entry> e = remove_entry(doc, *target, op.key);
            ASSERT_TRUE(e) << op.key;
            EXPECT_EQ(e->key.text(), op.key);
            EXPECT_TRUE(values_equal(e->item, before));
            EXPECT_EQ(target->as_table().visible_size(), n - 1);
            EXPECT_FALSE(target->as_table().contains(op.key));
            break;
        }
        case OpKind::Pop: {
            std::optional<Entry> e = remove_last_entry(doc, *target);
            ASSERT_TRUE(e);
            EXPECT_EQ(e->key.text(), op.key);
            break;
        }
        case OpKind::Clear:
            clear_entries(doc, *target);
            EXPECT_EQ(target->as_table().visible_size(), 0u);
            break;
        case OpKind::Edit: break;
    }
}

struct Case {
    const char* name;
    const char* input;
    std::vector<Op> ops;
    const char* expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class TableEdit : public testing::TestWithParam<Case> {};

TEST_P(TableEdit, WritesExpectedTextThatReadsBack) {
    const Case& c = GetParam();
    DocumentRoot doc = parse(c.input);
    for (const Op& op : c.ops) {
        apply(doc, op);
        if (HasFatalFailure()) return;
    }
    const std::string out = write(doc);
    EXPECT_EQ(out, c.expected);
    expect_reads_back(doc, out);
}

// Marks the value of `key` in the target inline table with an inline comment
// stored after its comma or in the trailing text, as the comment setter does.
std::function<void(TreeItem&)> trailing_comment(const char* value_suffix, const char* trailing) {
    return [=](TreeItem& t) {
        Table& tab = t.as_table();
        tab.visible_at(tab.visible_size() - 1)->item.decor().suffix = RawText::owned(value_suffix);
        tab.trailing = RawText::owned(trailing);
    };
}

const Case kStandardCases[] = {
    // --- replacing a value ---
    {"ValueKeepsDecorAndComment",
     "[server]\nport = 80  # web\nhost = \"x\"\n",
     {set("server", "port", V("8080"))},
     "[server]\nport = 8080  # web\nhost = \"x\"\n"},
    {"ValueKeepsKeySpellingAndSpacing",
     "# c\n\"a b\"  =  1\nz = 0\n",
     {set("", "a b", V("[1, 2]"))},
     "# c\n\"a b\"  =  [1, 2]\nz = 0\n"},
    {"ValueInPlaceOfDottedLine",
     "x.a = 1  # one\nx.b = 2\n",
     {set("x", "a", V("'s'"))},
     "x.a = \"s\"  # one\nx.b = 2\n"},

    // --- new keys ---
    {"NewKeyIndentedLikeFirstEntry",
     "[t]\n  a = 1\n    b = 2\n\n[u]\n",
     {set("t", "new", V("3"))},
     "[t]\n  a = 1\n    b = 2\n  new = 3\n\n[u]\n"},
    {"NewKeyDefaultLayout", "# top\na = 1\n", {set("", "b c", V("'x'"))}, "# top\na = 1\n\"b c\" = \"x\"\n"},
    {"NewKeyInEmptyDocument", "", {set("", "a", V("1"))}, "a = 1\n"},
    {"NewKeyFromCopyTakesDefaultDecor",
     "a = 1\n",
     {set("", "b", C("x = 0x5  # five\n", "x"))},
     "a = 1\nb = 0x5\n"},
    {"NewKeyBeforeSubTableHeaders",
     "[a]\nx = 1\n\n[a.b]\ny = 2\n",
     {set("a", "z", V("3"))},
     "[a]\nx = 1\nz = 3\n\n[a.b]\ny = 2\n"},
    {"NewKeyInImplicitTableWritesItsHeader",
     "[a.b]\ny = 2\n",
     {set("a", "z", V("3"))},
     "[a]\nz = 3\n\n[a.b]\ny = 2\n"},
    {"NewKeyInDottedTable", "a.b = 1\nc = 2\n", {set("a", "x", V("3"))}, "a.b = 1\na.x = 3\nc = 2\n"},
    {"NewKeyInArrayOfTablesMember",
     "[[p]]\nx = 1\n\n[[p]]\nx = 2\n",
     {set("p/0", "y", V("true"))},
     "[[p]]\nx = 1\ny = true\n\n[[p]]\nx = 2\n"},
    {"InlineTableFromCopyStoredAsValue",
     "x = 0\n",
     {set("", "t", C("a = { b.c = 1, d = 2 }\n", "a"))},
     "x = 0\nt = { b.c = 1, d = 2 }\n"},
    {"DottedInlineTableCopyIsNotFlattened",
     "x = 0\n",
     {set("", "t", C("a = { b.c = 1 }\n", "a/b"))},
     "x = 0\nt = { c = 1 }\n"},

    // --- sections ---
    {"NewTableAfterBlankLine", "a = 1\n", {set("", "s", T("x = 1"))}, "a = 1\n\n[s]\nx = 1\n"},
    {"NewTableFirstInDocument", "", {set("", "s", T("x = 1"))}, "[s]\nx = 1\n"},
    {"NewTableWithSubTable",
     "a = 1\n",
     {set("", "s", T("x = 1\n[sub]\ny = 2"))},
     "a = 1\n\n[s]\nx = 1\n\n[s.sub]\ny = 2\n"},
    {"NewArrayOfTables",
     "a = 1\n",
     {set("", "p", A({"x = 1", "x = 2"}))},
     "a = 1\n\n[[p]]\nx = 1\n\n[[p]]\nx = 2\n"},
    {"NewTableWrittenBeforeLaterTables",
     "[a]\nx = 1\n\n[b]\ny = 2\n",
     {set("a", "t", T("z = 3"))},
     "[a]\nx = 1\n\n[a.t]\nz = 3\n\n[b]\ny = 2\n"},
    {"NewTableUnderDottedTable",
     "a.b = 1\n\n[c]\nd = 2\n",
     {set("a", "t", T("x = 1"))},
     "a.b = 1\n\n[a.t]\nx = 1\n\n[c]\nd = 2\n"},
    {"NewTableFirstEntryOfTable", "[a]\n", {set("a", "t", C("[q]\nx = 1\n", "q"))}, "[a]\n[a.t]\nx = 1\n"},
    {"NewTableGetsBlankLine",
     "[a]\nk = 1\n",
     {set("a", "t", C("[q]\nx = 1\n", "q"))},
     "[a]\nk = 1\n\n[a.t]\nx = 1\n"},
    {"EmptyTableWritesHeader", "a = 1\n", {set("", "e", T(""))}, "a = 1\n\n[e]\n"},
    {"TableReplacesTableKeepingHeaderText",
     "a = 1\n\n\n# about s\n[s]  # old\nold = 1\n\n[u]\n",
     {set("", "s", T("x = 1"))},
     "a = 1\n\n\n# about s\n[s]\nx = 1\n\n[u]\n"},
    {"CopiedTableKeepsItsCommentOverNone",
     "a = 1\n\n[s]\nold = 1\n",
     {set("", "s", C("\n# mine\n[q]\nx = 1\n", "q"))},
     "a = 1\n\n# mine\n[s]\nx = 1\n"},
    {"ValueReplacedByTableCarriesComment",
     "a = 1\n# about b\n#  more\nb = 2\nc = 3\n",
     {set("", "b", T("x = 1"))},
     "a = 1\nc = 3\n\n# about b\n#  more\n[b]\nx = 1\n"},
    {"TableReplacedByValueCarriesComment",
     "a = 1\n\n# about b\n[b]\nx = 1\n",
     {set("", "b", V("5"))},
     "a = 1\n# about b\nb = 5\n"},
    {"TableReplacedByValueIndentedLikeBody",
     "[t]\n  a = 1\n\n# about s\n[ t . s ]\nx = 1\n",
     {set("t", "s", V("2"))},
     "[t]\n  a = 1\n  # about s\n  s = 2\n"},
    {"ArrayOfTablesReplacedByValue",
     "a = 1\n\n# pts\n[[p]]\nx = 1\n\n[[p]]\nx = 2\n",
     {set("", "p", V("3"))},
     "a = 1\n# pts\np = 3\n"},
    {"ValueReplacedByArrayOfTables",
     "# lead\np = 1\nq = 2\n",
     {set("", "p", A({"x = 1"}))},
     "q = 2\n\n# lead\n[[p]]\nx = 1\n"},
    {"DottedTableReplacedByValue",
     "x = 0\n# about a\na.b = 1\na.c = 2\n",
     {set("", "a", V("5"))},
     "x = 0\n# about a\na = 5\n"},
    {"DottedTableReplacedByTable",
     "x = 0\n# about a\na.b = 1\n",
     {set("", "a", T("k = 1"))},
     "x = 0\n\n# about a\n[a]\nk = 1\n"},
    {"CopiedArrayOfTablesKeepsSubTablesWithTheirMembers",
     "top = 1\n",
     {set("", "y", C("[[x]]\na = 1\n[x.s]\nb = 2\n[[x]]\na = 3\n[x.s]\nb = 4\n", "x"))},
     "top = 1\n\n[[y]]\na = 1\n[y.s]\nb = 2\n[[y]]\na = 3\n[y.s]\nb = 4\n"},
    {"CopyWithinDocument",
     "[[x]]\na = 1\n[x.s]\nb = 2\n[[x]]\na = 3\n[x.s]\nb = 4\n",
     {set("", "y", Own("x"))},
     "[[x]]\na = 1\n[x.s]\nb = 2\n[[x]]\na = 3\n[x.s]\nb = 4\n\n[[y]]\na = 1\n[y.s]\nb = 2\n[[y]]\na = "
     "3\n[y.s]\n"
     "b = 4\n"},
    {"CopiedDottedTableBecomesSection",
     "x = 0\n",
     {set("", "d", C("a.b = 1\na.c = 2\n", "a"))},
     "x = 0\n\n[d]\nb = 1\nc = 2\n"},

    // --- deletion ---
    {"DeleteTakesCommentLines", "a = 1\n# about b\nb = 2\nc = 3\n", {del("", "b")}, "a = 1\nc = 3\n"},
    {"DeleteFirstBeforeTable", "a = 1\n\n[b]\nx = 1\n", {del("", "a")}, "[b]\nx = 1\n"},
    {"DeleteFirstBeforeArrayOfTables", "a = 1\n\n[[b]]\nx = 1\n", {del("", "a")}, "[[b]]\nx = 1\n"},
    {"DeleteTable", "a = 1\n\n[b]\nx = 1\n\n[b.c]\n\n[d]\ny = 2\n", {del("", "b")}, "a = 1\n\n[d]\ny = 2\n"},
    {"DeleteLastSubTableOfImplicitTable", "[a.b]\n", {del("a", "b")}, "[a]\n"},
    {"DeleteDeepSubTable", "x = 1\n\n[a.b.c]\n", {del("a/b", "c")}, "x = 1\n\n[a.b]\n"},
    {"DeleteLastDottedKey", "a.b = 1\n", {del("a", "b")}, "a = {}\n"},
    {"DeleteLastNestedDottedKey", "x = 0\na.b.c = 1\ny = 2\n", {del("a/b", "c")}, "x = 0\na.b = {}\ny = 2\n"},
    {"AssignThenDeleteDottedKey",
     "",
     {set("", "x", V("1")),
      edit("",
           [](TreeItem& root) {
               TreeItem a = TreeItem::table();
               a.as_table().implicit = a.as_table().dotted = true;
               root.as_table().entries.append(Key("a"), std::move(a));
           }),
      set("a", "b", V("1")), del("a", "b")},
     "x = 1\na = {}\n"},
    {"DottedTableLeftWithSubTable", "a.b = 1\n\n[a.c]\nd = 2\n", {del("a", "b")}, "[a.c]\nd = 2\n"},
    {"DeleteMiddleKeepsOrder",
     "a = 1\nb = 2\nc = 3\n",
     {del("", "b"), set("", "b", V("4"))},
     "a = 1\nc = 3\nb = 4\n"},
    {"PopTakesLastEntry", "a = 1\nb = 2\n", {pop("", "b")}, "a = 1\n"},
    {"PopSkipsPlaceholders",
     "a = 1\nb = 2\n",
     {edit("", [](TreeItem& root) { root.as_table().entries.append(Key("zz"), TreeItem()); }), pop("", "b")},
     "a = 1\n"},
    {"ClearTable", "[t]\na = 1\n[t.u]\nb = 2\n[v]\n", {clear("t")}, "[t]\n[v]\n"},
    {"ClearDottedTable", "a.b = 1\na.c = 2\n", {clear("a")}, "a = {}\n"},
    {"ClearImplicitTable", "[a.b]\nx = 1\n", {clear("a")}, "[a]\n"},
    {"ClearArrayOfTablesMember", "[[p]]\nx = 1\n[[p]]\nx = 2\n", {clear("p/0")}, "[[p]]\n[[p]]\nx = 2\n"},
    {"EmptyArrayOfTablesKeepsKey",
     "[[p]]\nx = 1\n",
     {edit("p", [](TreeItem& p) { p.as_array_of_tables().values.clear(); })},
     "p = []\n"},

    // --- documents without a final line feed ---
    {"NoFinalNewlineAppend", "a = 1", {set("", "b", V("2"))}, "a = 1\nb = 2"},
    {"NoFinalNewlineDeleteLast", "a = 1\nb = 2", {del("", "b")}, "a = 1"},
    {"NoFinalNewlineNewTable", "a = 1", {set("", "s", T("x = 1"))}, "a = 1\n\n[s]\nx = 1"},
    {"NoFinalNewlineEmptiedTable", "[t]\nx = 1", {del("t", "x")}, "[t]"},
    {"NoFinalNewlineEmptiedDotted", "a.b = 1", {del("a", "b")}, "a = {}"},
};

const Case kInlineCases[] = {
    // --- replacing ---
    {"ValueKeepsDecor", "t = { a = 1  , b = 2 }\n", {set("t", "a", V("5"))}, "t = { a = 5  , b = 2 }\n"},
    {"LastValueKeepsDecor",
     "t = {\n  a = 1,\n  b = 2  # two\n}\n",
     {set("t", "b", V("'x'"))},
     "t = {\n  a = 1,\n  b = \"x\"  # two\n}\n"},
    {"DottedKeysReplacedByValue", "t = { a.b = 1, a.c = 2 }\n", {set("t", "a", V("5"))}, "t = { a = 5 }\n"},
    {"TableReplacesValue",
     "t = { a = 1, b = 2 }\n",
     {set("t", "a", T("x = 1\ny.z = 2"))},
     "t = { a = { x = 1, y = { z = 2 } }, b = 2 }\n"},

    // --- new entries on one line ---
    {"NewEntry", "t = { a = 1 }\n", {set("t", "b", V("2"))}, "t = { a = 1, b = 2 }\n"},
    {"NewEntryCompact", "t = {a = 1}\n", {set("t", "b", V("2"))}, "t = {a = 1, b = 2}\n"},
    {"NewEntryTrailingComma", "t = { a = 1, }\n", {set("t", "b", V("2"))}, "t = { a = 1, b = 2, }\n"},
    {"NewEntryInEmpty", "t = {}\n", {set("t", "a", V("1"))}, "t = { a = 1 }\n"},
    {"NewEntryInEmptyWithSpace", "t = {  }\n", {set("t", "a", V("1"))}, "t = { a = 1 }\n"},
    {"NewTableEntry",
     "t = { a = 1 }\n",
     {set("t", "s", T("x = 1\ny = 2"))},
     "t = { a = 1, s = { x = 1, y = 2 } }\n"},
    {"NewArrayOfTablesEntry",
     "t = { a = 1 }\n",
     {set("t", "p", A({"x = 1", "x = 2"}))},
     "t = { a = 1, p = [{ x = 1 }, { x = 2 }] }\n"},
    {"NewEntryInDottedInlineTable",
     "t = { a.b = 1 }\n",
     {set("t/a", "c", V("2"))},
     "t = { a.b = 1, a.c = 2 }\n"},
    {"NewEntryInNestedInlineTable",
     "arr = [ { a = 1 } ]\n",
     {set("arr/0", "b", V("2"))},
     "arr = [ { a = 1, b = 2 } ]\n"},
    {"NewEntryFromCopyTakesDefaultDecor",
     "t = { a = 1 }\n",
     {set("t", "b", C("x = 5  # five\n", "x"))},
     "t = { a = 1, b = 5 }\n"},

    // --- new entries over several lines ---
    {"CommentAfterCommaStaysOnItsLine",
     "t = {\n  a = 1,  # one\n  b = 2,  # two\n}\n",
     {set("t", "c", V("3"))},
     "t = {\n  a = 1,  # one\n  b = 2,  # two\n  c = 3,\n}\n"},
    {"CommentInValueSuffixStaysOnItsLine",
     "t = {\n  a = 1,\n  b = 2  # two\n}\n",
     {set("t", "c", V("3"))},
     "t = {\n  a = 1,\n  b = 2,  # two\n  c = 3\n}\n"},
    {"ClosingCommentLinesStayLast",
     "t = {\n  a = 1  # one\n  # closing\n  }\n",
     {set("t", "b", V("2"))},
     "t = {\n  a = 1,  # one\n  b = 2\n  # closing\n  }\n"},
    {"NoComment", "t = {\n    a = 1\n}\n", {set("t", "b", V("2"))}, "t = {\n    a = 1,\n    b = 2\n}\n"},
    {"BraceOnLastEntryLine",
     "t = {\n  a = 1, b = 2 }\n",
     {set("t", "c", V("3"))},
     "t = {\n  a = 1, b = 2,\n  c = 3 }\n"},
    {"CommentInTrailingText",
     "t = { a = 1 }\n",
     {edit("t", trailing_comment(" ", " # c\n")), set("t", "b", V("2"))},
     "t = { a = 1,  # c\n b = 2\n}\n"},
    {"CommentInTrailingTextAfterComma",
     "t = { a = 1 }\n",
     {edit("t",
           [](TreeItem& t) {
               t.as_table().trailing_comma = true;
               trailing_comment("", " # c\n")(t);
           }),
      set("t", "b", V("2"))},
     "t = { a = 1, # c\n b = 2,\n}\n"},
    {"CommentBeforeCommaOnNextLine",
     "t = {\n  a = 1  # one\n  ,\n}\n",
     {set("t", "b", V("2"))},
     "t = {\n  a = 1  # one\n  ,\n  b = 2,\n}\n"},
    {"ValueSuffixCommentOnOneLine",
     "t = { a = 1 # c\n}\n",
     {set("t", "b", V("2"))},
     "t = { a = 1, # c\n b = 2\n}\n"},
    {"TwoNewEntries",
     "t = {\n  a = 1,  # one\n}\n",
     {set("t", "b", V("2")), set("t", "c", V("3"))},
     "t = {\n  a = 1,  # one\n  b = 2,\n  c = 3,\n}\n"},
    {"EmptyOverSeveralLines", "t = {\n}\n", {set("t", "a", V("1"))}, "t = {\n  a = 1\n}\n"},
    {"EmptyWithCommentLines",
     "t = {\n  # nothing yet\n}\n",
     {set("t", "a", V("1"))},
     "t = {\n  # nothing yet\n  a = 1\n}\n"},

    // --- deletion on one line ---
    {"DeleteFirst", "t = { a = 1, b = 2 }\n", {del("t", "a")}, "t = { b = 2 }\n"},
    {"DeleteLast", "t = { a = 1, b = 2 }\n", {del("t", "b")}, "t = { a = 1 }\n"},
    {"DeleteMiddle", "t = {a=1,b=2,c=3}\n", {del("t", "b")}, "t = {a=1,c=3}\n"},
    {"DeleteOnly", "t = { a = 1 }\n", {del("t", "a")}, "t = {}\n"},
    {"DeleteFirstTrailingComma", "t = { a = 1, b = 2, }\n", {del("t", "a")}, "t = { b = 2, }\n"},
    {"DeleteLastTrailingComma", "t = { a = 1, b = 2, }\n", {del("t", "b")}, "t = { a = 1, }\n"},
    {"DeleteOnlyTrailingComma", "t = { a = 1, }\n", {del("t", "a")}, "t = {}\n"},
    {"DeleteAllThenAdd",
     "t = { a = 1, b = 2, }\n",
     {del("t", "a"), del("t", "b"), set("t", "c", V("3"))},
     "t = { c = 3 }\n"},
    {"DeleteLastDottedKeyOfInline", "t = { a.b = 1, c = 2 }\n", {del("t/a", "b")}, "t = { a = {}, c = 2 }\n"},
    {"DeleteDottedEntry", "t = { x = 0, a.b = 1, a.c = 2 }\n", {del("t", "a")}, "t = { x = 0 }\n"},
    {"PopInline", "t = { a = 1, b = 2 }\n", {pop("t", "b")}, "t = { a = 1 }\n"},

    // --- deletion over several lines ---
    {"DeleteFirstOfSeveralLines",
     "t = {\n  a = 1,  # one\n  b = 2,  # two\n  c = 3,  # three\n}\n",
     {del("t", "a")},
     "t = {\n  b = 2,  # two\n  c = 3,  # three\n}\n"},
    {"DeleteMiddleOfSeveralLines",
     "t = {\n  a = 1,  # one\n  # about b\n  b = 2,  # two\n  c = 3,  # three\n}\n",
     {del("t", "b")},
     "t = {\n  a = 1,  # one\n  c = 3,  # three\n}\n"},
    {"DeleteLastOfSeveralLines",
     "t = {\n  a = 1,  # one\n  b = 2,  # two\n  c = 3,  # three\n}\n",
     {del("t", "c")},
     "t = {\n  a = 1,  # one\n  b = 2,  # two\n}\n"},
    {"DeleteLastNoTrailingComma",
     "t = {\n  a = 1,  # one\n  b = 2  # two\n}\n",
     {del("t", "b")},
     "t = {\n  a = 1  # one\n}\n"},
    {"DeleteLastKeepsOwnComment",
     "t = {\n  a = 1  # one\n  , b = 2\n}\n",
     {del("t", "b")},
     "t = {\n  a = 1  # one\n  }\n"},
    {"DeleteFirstNoTrailingComma",
     "t = {\n  a = 1,  # one\n  b = 2  # two\n}\n",
     {del("t", "a")},
     "t = {\n  b = 2  # two\n}\n"},
    {"DeleteOnlyOfSeveralLines",
     "t = {  # open\n  a = 1,  # one\n}\n",
     {del("t", "a")},
     "t = {  # open\n}\n"},
    {"DeleteSecondOnFirstLine",
     "t = {\n  a = 1, b = 2,\n  c = 3,\n}\n",
     {del("t", "b")},
     "t = {\n  a = 1,\n  c = 3,\n}\n"},
    {"ClearInline", "t = {\n  a = 1,  # one\n}\n", {clear("t")}, "t = {}\n"},
};

INSTANTIATE_TEST_SUITE_P(Standard, TableEdit, testing::ValuesIn(kStandardCases),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Inline, TableEdit, testing::ValuesIn(kInlineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TableEditResults, MissingKeysAndEmptyTables) {
    DocumentRoot doc = parse("a = 1\nt = {}\n");
    EXPECT_FALSE(remove_entry(doc, doc.root(), "zz"));
    EXPECT_FALSE(remove_last_entry(doc, *resolve(doc, "t")));
    std::optional<Entry> e = remove_last_entry(doc, doc.root());
    ASSERT_TRUE(e);
    EXPECT_EQ(e->key.text(), "t");
    EXPECT_EQ(write(doc), "a = 1\n");
}

TEST(TableEditResults, PlaceholderIsNotAnEntry) {
    DocumentRoot doc = parse("a = 1\nb = 2\n");
    doc.table().entries.at(0).item = TreeItem();
    EXPECT_FALSE(remove_entry(doc, doc.root(), "a"));
    EXPECT_FALSE(assign_entry(doc, doc.root(), "a", TreeItem::integer(3)));
    EXPECT_EQ(write(doc), "b = 2\na = 3\n");
}

// ---------------------------------------------------------------------------
// Every edit of every table of a set of documents written in many layouts:
// the text written afterwards always reads back as the edited data.

const char* const kCorpus[] = {
    "# header comment\n"
    "title = \"x\"  # t\n"
    "  indented = 1\n"
    "a.b.c = 1\n"
    "a.d = 2  # d\n"
    "\"quoted key\" = { x = 1, y.z = 2, }\n"
    "arr = [ { p = 1 }, { q = 2, r = { s = 3 } } ]\n"
    "multi = {\n"
    "  one = 1,  # one\n"
    "  two = 2  # two\n"
    "}\n"
    "multi2 = {\n"
    "  # lead\n"
    "  one = 1,\n"
    "  two = { deep = 1 },  # two\n"
    "}\n"
    "\n"
    "[server]\n"
    "port = 80  # web\n"
    "\n"
    "# about sub\n"
    "[server.sub]\n"
    "k = \"v\"\n"
    "\n"
    "[[fruits]]\n"
    "name = \"apple\"\n"
    "[fruits.info]\n"
    "color = \"red\"\n"
    "\n"
    "[[fruits]]\n"
    "name = \"pear\"\n"
    "\n"
    "[x.y.z]\n"
    "w = 1\n"
    "\n"
    "[x]\n"
    "v = 0\n"
    "# closing\n",

    "a = 1\nb.c = 2\n[t]\ne = {}\nf = {\n}\ng = { h.i.j = 1 }\n[t.u.v]\n[[t.w]]\n[t.w.x]\ny = 1",

    "[a.b.c]\n[d]\ne.f = 1\n[d.g]\n[[d.h]]\n[[d.h]]\ni = { j = 1, k = 2 }\n",

    "top = {a=1,b={c=2},d=[1,2],}\nnext = { a = 1 # one\n, b = 2 # two\n}\n",

    // Dotted keys interleaved with other lines, in tables and inline tables.
    "a.x = 1\nb = 2\na.y = 3\n"
    "t = {\n  a.x = 1,\n  b = 2,\n  a.y = 3,\n}\n"
    "[s]\n\tp.q = 1\n\tr = 2\n\tp.s = 3\n",

    "# crlf\r\na = 1  # one\r\n\r\n[t]\r\nb = { c = 1,  # c\r\n  d = 2\r\n}\r\n\r\n[[u]]\r\ne = 1\r\n",

    "e = {}\nf = {  # open\n}\ng = {\n  # only a comment\n}\nh = { a = {}, b = [] }\n",
};

// Paths of every table and inline table in the tree.
void table_paths(TreeItem& item, const std::string& path, std::vector<std::string>& out) {
    auto join = [&](std::string_view step) {
        return path.empty() ? std::string(step) : path + "/" + std::string(step);
    };
    if (item.is_table_like()) {
        out.push_back(path);
        for (Entry& e : item.as_table().entries) table_paths(e.item, join(e.key.text()), out);
    } else if (item.is_array_of_tables()) {
        auto& members = item.as_array_of_tables().values;
        for (std::size_t i = 0; i < members.size(); ++i)
            table_paths(members[i], join(std::to_string(i)), out);
    } else if (item.is_array()) {
        auto& values = item.as_array().items();
        for (std::size_t i = 0; i < values.size(); ++i) table_paths(values[i], join(std::to_string(i)), out);
    }
}

std::vector<std::string> visible_keys(TreeItem& t) {
    std::vector<std::string> keys;
    for (Entry& e : t.as_table().entries)
        if (!e.item.is_none()) keys.emplace_back(e.key.text());
    return keys;
}

class EditSweep : public testing::TestWithParam<const char*> {
protected:
    // Parses the document afresh, applies the edits, writes and reads back.
    void check(const std::string& what, std::initializer_list<Op> ops) {
        SCOPED_TRACE(what);
        DocumentRoot doc = parse(GetParam());
        for (const Op& op : ops) {
            apply(doc, op);
            if (HasFatalFailure()) return;
        }
        expect_reads_back(doc, write(doc));
    }
};

TEST_P(EditSweep, EveryEditReadsBack) {
    DocumentRoot original = parse(GetParam());
    EXPECT_EQ(write(original), GetParam());
    std::vector<std::string> paths;
    table_paths(original.root(), "", paths);
    const Maker kinds[] = {V("7"), V("{ q = 1 }"), T("x = 1\n[sub]\ny = 2"), A({"x = 1", "x = 2"}), Own("")};
    for (const std::string& path : paths) {
        TreeItem* target = resolve(original, path);
        ASSERT_TRUE(target);
        std::vector<std::string> keys = visible_keys(*target);
        for (const std::string& key : keys) {
            check("del " + path + " " + key, {del(path, key)});
            for (std::size_t k = 0; k < std::size(kinds); ++k)
                check("set " + path + " " + key + " kind " + std::to_string(k), {set(path, key, kinds[k])});
        }
        for (std::size_t k = 0; k < std::size(kinds); ++k) {
            check("new " + path + " kind " + std::to_string(k), {set(path, "zz", kinds[k])});
            check("new twice " + path + " kind " + std::to_string(k),
                  {set(path, "zz", kinds[k]), set(path, "zy", kinds[k])});
        }
        check("clear " + path, {clear(path), set(path, "zz", kinds[0])});
        // Deleting every key, from the front and from the back, then adding.
        std::vector<Op> front, back;
        for (const std::string& key : keys) front.push_back(del(path, key));
        for (auto it = keys.rbegin(); it != keys.rend(); ++it) back.push_back(pop(path, *it));
        for (const std::vector<Op>* seq : {&front, &back}) {
            SCOPED_TRACE("empty " + path);
            DocumentRoot doc = parse(GetParam());
            for (const Op& op : *seq) apply(doc, op);
            expect_reads_back(doc, write(doc));
            apply(doc, set(path, "zz", V("1")));
            expect_reads_back(doc, write(doc));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Documents, EditSweep, testing::ValuesIn(kCorpus));

// Which comment paragraphs above an entry stand free (set off from it by a
// blank line) and which comment lines directly end the text before.
TEST(CommentParagraphs, FreeAndLeading) {
    const struct {
        std::string_view text;
        std::string_view free;
        std::string_view leading;
    } cases[] = {
        {"", "", ""},
        {"# block\n  ", "", "# block\n"},
        {"\n# block\n", "", ""},
        {"# licence\n#\n# more\n\n", "# licence\n#\n# more\n\n", "# licence\n#\n# more\n"},
        {"\n# free\n\n# block\n", "\n# free\n\n", ""},
        {"# a\r\n\r\n\r\n# b\r\n\r\n# c\r\n  ", "# a\r\n\r\n\r\n# b\r\n\r\n", "# a\r\n"},
        {"\n\n  ", "", ""},
        {"  # end of the body", "", "  # end of the body"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(free_comments(c.text), c.free) << c.text;
        EXPECT_EQ(leading_comments(c.text), c.leading) << c.text;
    }
    EXPECT_EQ(join_paragraphs("# a\n\n", "\n \r\n# b\n"), "# a\n\n# b\n");
    EXPECT_EQ(comment_lines_kept("# free\n\n"), (std::vector<std::string>{"# free", ""}));
    EXPECT_EQ(comment_lines_kept("# free\n\n# block\n"), (std::vector<std::string>{"# free", "", "# block"}));
}

}  // namespace
