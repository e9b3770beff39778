// A key of a table entry, or one segment of a key path.
//
// In a path `a . b . c = 1` the decor is spread over the keys: the
// leaf_decor of the last key surrounds the whole path (its prefix stands
// before `a`, its suffix between `c` and `=`); the dotted decor of each key
// holds the whitespace next to its dots (prefix after the dot before it,
// suffix before the dot after it).
#pragma once

#include <memory>
#include <string_view>

#include "alloc.hpp"
#include "repr.hpp"

namespace morvelan {

class Key;

// Rarely needed parts of a key, kept out of line.
struct KeyExtra;

class Key {
public:
    Key() = default;
    // A new key: no source spelling, absent decor.
    explicit Key(std::string_view text) : text_(RawText::owned(text)) {}
    Key(RawText text, SourceRepr repr) : text_(std::move(text)), repr_(std::move(repr)) {}

    inline Key(const Key& o);
    Key& operator=(const Key& o) {
        if (this != &o) {
            Key tmp(o);
            *this = std::move(tmp);
        }
        return *this;
    }
    Key(Key&&) noexcept = default;
    Key& operator=(Key&&) noexcept = default;
    inline ~Key();

    // The key of a slot whose entry was removed (see EntryMap): it has no
    // text at all, not even an empty one, and no table finds it.
    static Key removed() noexcept {
        Key k;
        k.text_ = RawText::absent();
        return k;
    }
    bool is_removed() const noexcept { return text_.is_absent(); }

    // Gives the key the decoded text `text`, spelled as a new key is; its
    // decor stays.
    void rename(RawText text) noexcept {
        text_ = std::move(text);
        repr_ = RawText::absent();
    }

    // The decoded key text.
    std::string_view text() const noexcept { return text_.view(); }
    // The spelling in the source (bare, "basic" or 'literal'); absent for new keys.
    const SourceRepr& repr() const noexcept { return repr_; }
    void set_repr(SourceRepr r) noexcept { repr_ = std::move(r); }

    Decor leaf_decor;

    // The decor next to the dots; all-absent when never set.
    inline const Decor& dotted_decor() const noexcept;
    inline Decor& dotted_decor_mut();

    // When this key ends a dotted key line, the keys before it as that line
    // spelled them, if they differ from the keys of the tables on the way
    // (`"a".b = 1` after `a.c = 1`); null otherwise.
    inline const Vector<Key>* written_path() const noexcept;
    inline void set_written_path(Vector<Key> path);

    // Forgets the spelling and all decor: the key is written bare again with
    // the default spacing.
    void reset_format() noexcept {
        repr_ = RawText::absent();
        leaf_decor.clear();
        extra_.reset();
    }
    void clear_decor() noexcept {
        leaf_decor.clear();
        extra_.reset();
    }
    inline void detach();

    // Same spelling and decor (the written form), for the leaf decor too
    // when `with_leaf` is set.
    inline bool same_form(const Key& o, bool with_leaf) const noexcept;

private:
    inline KeyExtra& extra();

    RawText text_;
    SourceRepr repr_ = RawText::absent();
    std::unique_ptr<KeyExtra> extra_;
};

struct KeyExtra : EngineAllocated {
    Decor dotted;
    Vector<Key> path;
};

inline Key::Key(const Key& o) : leaf_decor(o.leaf_decor), text_(o.text_), repr_(o.repr_) {
    if (o.extra_) extra_.reset(new KeyExtra(*o.extra_));
}
inline Key::~Key() = default;

inline KeyExtra& Key::extra() {
    if (!extra_) extra_.reset(new KeyExtra());
    return *extra_;
}

inline const Decor& Key::dotted_decor() const noexcept {
    static const Decor none{};
    return extra_ ? extra_->dotted : none;
}
inline Decor& Key::dotted_decor_mut() { return extra().dotted; }

inline const Vector<Key>* Key::written_path() const noexcept {
    return extra_ && !extra_->path.empty() ? &extra_->path : nullptr;
}
inline void Key::set_written_path(Vector<Key> path) { extra().path = std::move(path); }

inline void Key::detach() {
    text_.detach();
    repr_.detach();
    leaf_decor.detach();
    if (extra_) {
        extra_->dotted.detach();
        for (Key& k : extra_->path) k.detach();
    }
}

inline bool same_text(const RawText& a, const RawText& b) noexcept {
    return a.is_absent() == b.is_absent() && a.view() == b.view();
}

inline bool same_decor(const Decor& a, const Decor& b) noexcept {
    return same_text(a.prefix, b.prefix) && same_text(a.suffix, b.suffix);
}

inline bool Key::same_form(const Key& o, bool with_leaf) const noexcept {
    return same_text(repr_, o.repr_) && same_decor(dotted_decor(), o.dotted_decor()) &&
           (!with_leaf || same_decor(leaf_decor, o.leaf_decor));
}

}  // namespace morvelan
