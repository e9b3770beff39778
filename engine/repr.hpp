// Decoration: the text around a node, and where it stands.
//
//     # comment above        <- prefix of the key `name` (leaf decor)
//     name = "x"   # note    <- "name" has suffix " "; the value "x" has
//                               prefix " " and suffix "   # note"
//     [server]  # section    <- the table's decor: prefix is the text before
//                               "[", suffix "  # section"
//     port = [ 1 , 2 ]       <- element 1: prefix " ", suffix " ";
//                               element 2: prefix " ", suffix " "
//
// Each part is absent (the writer uses the default of the place) or a
// recorded text (possibly empty). The source spelling of a scalar or key is a
// RawText too; absent means "write the canonical spelling".
#pragma once

#include "raw_string.hpp"

namespace morvelan {

struct Decor {
    RawText prefix = RawText::absent();
    RawText suffix = RawText::absent();

    void clear() noexcept {
        prefix = RawText::absent();
        suffix = RawText::absent();
    }
    void detach() {
        prefix.detach();
        suffix.detach();
    }
};

// The exact spelling of a scalar or key in the source ("0xFF", "'a b'").
using SourceRepr = RawText;

}  // namespace morvelan
