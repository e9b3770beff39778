// libFuzzer target for the document parser and writer.
//
// For every input that parses:
//   - writing the tree gives the input back exactly;
//   - the written text parses again, writes to the same text, and holds the
//     same data as the first tree;
//   - with every packed array unpacked, the tree still writes that text.
// For an input that does not parse, the error report must render.
// The direct decoder reads exactly the inputs that parse (short of the stack
// it keeps for its nesting), with the same data.
// Any violation traps, so libFuzzer saves the input.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "array.hpp"
#include "array_of_tables.hpp"
#include "direct.hpp"
#include "encode.hpp"
#include "parser.hpp"
#include "table.hpp"
#include "tree_item.hpp"

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string_view view(const morvelan::String& s) { return {s.data(), s.size()}; }

void unpack_all(morvelan::TreeItem& item) {
    if (item.is_table_like()) {
        for (morvelan::Entry& e : item.as_table().entries) unpack_all(e.item);
    } else if (item.is_array_of_tables()) {
        for (morvelan::TreeItem& m : item.as_array_of_tables().values) unpack_all(m);
    } else if (item.is_array()) {
        for (morvelan::TreeItem& v : item.as_array().items()) unpack_all(v);
    }
}

// Builds what the direct decoder reads as a tree: tables inside tables are
// tables, tables inside arrays inline tables (values_equal takes an array of
// tables for an array of inline tables, and a table for an inline table).
class TreeSink final : public morvelan::ValueSink {
public:
    Value string(std::string_view text) override { return scalar(morvelan::TreeItem::string(text)); }
    Value integer(std::int64_t v) override { return scalar(morvelan::TreeItem::integer(v)); }
    Value floating(double v) override {
        nan_ |= std::isnan(v);
        return scalar(morvelan::TreeItem::floating(v));
    }
    Value boolean(bool v) override { return scalar(morvelan::TreeItem::boolean(v)); }
    Value datetime(const morvelan::Datetime& v) override { return scalar(morvelan::TreeItem::datetime(v)); }
    Value table() override { return &nodes_.emplace_back(Node{Node::Table, {}, {}, {}}); }
    Value array() override { return &nodes_.emplace_back(Node{Node::List, {}, {}, {}}); }
    bool put(Value table, std::string_view key, Value value) override {
        Node& t = node(table);
        for (const auto& e : t.entries)
            if (e.first == key) return false;
        t.entries.emplace_back(std::string(key), &node(value));
        return true;
    }
    bool append(Value array, Value value) override {
        node(array).items.push_back(&node(value));
        return true;
    }
    bool move_to_end(Value table, std::string_view key) override {
        auto& entries = node(table).entries;
        const auto at =
            std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key; });
        if (at == entries.end()) return false;
        std::rotate(at, at + 1, entries.end());
        return true;
    }
    void discard(Value) noexcept override {}  // the nodes live as long as the sink

    // A NaN was read: values_equal finds it equal to nothing.
    bool saw_nan() const noexcept { return nan_; }

    morvelan::TreeItem build(Value root, bool in_array = false) {
        Node& n = node(root);
        if (n.kind == Node::Scalar) return std::move(n.scalar);
        if (n.kind == Node::List) {
            morvelan::TreeItem a = morvelan::TreeItem::array();
            for (Node* item : n.items) a.as_array().items().push_back(build(item, true));
            return a;
        }
        morvelan::TreeItem t = in_array ? morvelan::TreeItem::inline_table() : morvelan::TreeItem::table();
        for (auto& [key, child] : n.entries) t.as_table().insert(key, build(child), false);
        return t;
    }

private:
    struct Node {
        enum Kind { Scalar, Table, List } kind;
        morvelan::TreeItem scalar;
        std::vector<std::pair<std::string, Node*>> entries;
        std::vector<Node*> items;
    };
    static Node& node(Value v) { return *static_cast<Node*>(v); }
    Value scalar(morvelan::TreeItem item) {
        return &nodes_.emplace_back(Node{Node::Scalar, std::move(item), {}, {}});
    }

    std::deque<Node> nodes_;
    bool nan_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    auto first = morvelan::parse_document(text);
    TreeSink sink;
    const morvelan::DirectResult direct = morvelan::decode_direct(text, sink);
    if (!first.ok()) {
        check(!first.error().display().empty());
        check(!direct.root || first.error().out_of_stack);
        return 0;
    }
    check(direct.root != nullptr);
    {
        const morvelan::TreeItem read = sink.build(direct.root);
        check(sink.saw_nan() || morvelan::values_equal(read, first.value().root()));
    }

    const morvelan::String out1 = morvelan::write_document(first.value());
    check(view(out1) == text);

    auto second = morvelan::parse_document(view(out1));
    check(second.ok());
    const morvelan::String out2 = morvelan::write_document(second.value());
    check(out2 == out1);
    check(morvelan::same_data(first.value().root(), second.value().root()));

    unpack_all(second.value().root());
    check(morvelan::write_document(second.value()) == out1);
    check(morvelan::same_data(first.value().root(), second.value().root()));
    return 0;
}
