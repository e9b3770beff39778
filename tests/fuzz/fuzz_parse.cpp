// libFuzzer target for the document parser and writer.
//
// For every input that parses:
//   - writing the tree gives the input back exactly;
//   - the written text parses again, writes to the same text, and holds the
//     same data as the first tree;
//   - with every packed array unpacked, the tree still writes that text.
// For an input that does not parse, the error report must render.
// Any violation traps, so libFuzzer saves the input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "array.hpp"
#include "array_of_tables.hpp"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    auto first = morvelan::parse_document(text);
    if (!first.ok()) {
        check(!first.error().display().empty());
        return 0;
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
