// The text a parsed document was read from. The tree's pieces of text view
// it, so it lives as long as the document and its copies, and as long as the
// report of a failed parse, which quotes it.
//
// The engine keeps its own copy of a text it is given (copy_source); a caller
// that can guarantee the text outlives its owner instead lends it, by
// deriving from SourceText and keeping whatever holds the bytes.
#pragma once

#include <memory>
#include <string_view>

#include "alloc.hpp"

namespace morvelan {

class SourceText {
public:
    SourceText(const SourceText&) = delete;
    SourceText& operator=(const SourceText&) = delete;
    virtual ~SourceText() = default;

    std::string_view view() const noexcept { return view_; }

protected:
    SourceText() = default;
    // The derived class sets the text once it holds it.
    std::string_view view_;
};

using SourceBuffer = std::shared_ptr<const SourceText>;

// A source that is the engine's own copy of `text`.
SourceBuffer copy_source(std::string_view text);

}  // namespace morvelan
