// RawText: a piece of text the tree keeps (decor, source spellings, decoded
// strings, keys).
//
// A text is one of
//   - absent:  no text recorded; used by decor parts and source spellings,
//              where "absent" means "write the default for this place";
//   - a piece: a view into the immutable source buffer that the document owns
//              (see DocumentRoot::source). Copies of a document share that
//              buffer, so copying a piece copies only the view;
//   - owned:   a copy of its own, allocated by the engine.
// An empty text is present and writes nothing, unlike an absent one.
//
// Pieces are only valid inside the document whose buffer they view (and its
// copies). A tree item taken out of one document to be stored in another must
// be detached first (TreeItem::detach), which turns every piece into owned
// text.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "alloc.hpp"

namespace morvelan {

class RawText {
public:
    // Present and empty.
    RawText() noexcept = default;

    static RawText absent() noexcept { return RawText(nullptr, 0, kAbsent); }
    // A view into a buffer that outlives the text (the document's source).
    static RawText piece(std::string_view s) noexcept { return RawText(s.data(), s.size(), kPiece); }
    // An owned copy of `s`.
    static RawText owned(std::string_view s) {
        if (s.empty()) return RawText();
        char* p = static_cast<char*>(mem_alloc(s.size()));
        if (!p) throw std::bad_alloc();
        std::memcpy(p, s.data(), s.size());
        return RawText(p, s.size(), kOwned);
    }

    RawText(const RawText& o) : RawText() { *this = o; }
    RawText(RawText&& o) noexcept : ptr_(o.ptr_), bits_(o.bits_) {
        o.ptr_ = nullptr;
        o.bits_ = kPiece;
    }
    RawText& operator=(const RawText& o) {
        if (this != &o) {
            if (o.state() == kOwned) {
                *this = owned(o.view());
            } else {
                release();
                ptr_ = o.ptr_;
                bits_ = o.bits_;
            }
        }
        return *this;
    }
    RawText& operator=(RawText&& o) noexcept {
        if (this != &o) {
            release();
            ptr_ = o.ptr_;
            bits_ = o.bits_;
            o.ptr_ = nullptr;
            o.bits_ = kPiece;
        }
        return *this;
    }
    ~RawText() { release(); }

    bool is_absent() const noexcept { return state() == kAbsent; }
    bool is_present() const noexcept { return state() != kAbsent; }
    bool is_owned() const noexcept { return state() == kOwned; }
    bool empty() const noexcept { return size() == 0; }
    std::size_t size() const noexcept { return static_cast<std::size_t>(bits_ >> 8); }
    // The text; empty for an absent text.
    std::string_view view() const noexcept { return {ptr_ ? ptr_ : "", size()}; }

    // Keeps the first n bytes of a present text (n <= size()); owned text
    // keeps its memory.
    void keep_prefix(std::size_t n) noexcept { bits_ = (static_cast<std::uint64_t>(n) << 8) | state(); }

    // Turns a piece into owned text; absent and owned texts stay as they are.
    void detach() {
        if (state() == kPiece && size() != 0) *this = owned(view());
    }

private:
    static constexpr std::uint64_t kAbsent = 0, kPiece = 1, kOwned = 2;

    RawText(const char* p, std::size_t n, std::uint64_t st) noexcept
        : ptr_(p), bits_((static_cast<std::uint64_t>(n) << 8) | st) {}
    std::uint64_t state() const noexcept { return bits_ & 0xff; }
    void release() noexcept {
        if (state() == kOwned) mem_free(const_cast<char*>(ptr_));
    }

    const char* ptr_ = nullptr;
    std::uint64_t bits_ = kPiece;  // length << 8 | state
};

}  // namespace morvelan
