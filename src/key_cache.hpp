// Python str objects for the keys of the tables a conversion meets, made
// once per key text (see KeyCache).
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "pyref.hpp"

namespace morvelan::py {

// A new str from UTF-8 text; null with an error set on failure.
Ref str_object(std::string_view text);

// The keys of the tables met while converting one value: a key text met
// again (the same field in every element of a list of tables) gives the str
// made the first time, whose hash is already computed. A slot holds the most
// recent key of its hash, and the text it was made from: every text given
// must stay unchanged while the cache is used (views into a tree the
// conversion holds, or into the text being read).
//
// A key is looked up by its size and two machine words, its first and its
// last eight bytes (four, or three single bytes, for shorter keys): they hash
// it, and for a key of up to 16 bytes they are the whole text, so a hit
// compares no bytes.
class KeyCache {
public:
    // The slots are made once `uncached` keys were converted without them.
    KeyCache() noexcept = default;
    explicit KeyCache(std::size_t uncached) noexcept : uncached_left_(uncached) {}

    Ref key(std::string_view text) {
        const std::size_t n = text.size();
        if (n > kLongest) return str_object(text);
        // Made once a few keys were converted: a scalar, a list of them or a
        // small document does not pay for setting up and clearing the slots.
        if (!slots_) {
            if (uncached_left_ > 0) {
                --uncached_left_;
                return str_object(text);
            }
            slots_ = std::make_unique<Slot[]>(kSlots);
        }
        const Words w = words_of(text);
        Slot& s = slots_[slot_of(w, n)];
        if (s.key && s.size == n && s.head == w.head && s.tail == w.tail &&
            (n <= kWordCovered || std::memcmp(s.data, text.data(), n) == 0))
            return Ref::borrow(s.key.get());
        Ref k = str_object(text);
        if (k) {
            s.data = text.data();
            s.size = n;
            s.head = w.head;
            s.tail = w.tail;
            s.key = Ref::borrow(k.get());
        }
        return k;
    }

private:
    static constexpr std::size_t kSlots = 256;
    static constexpr std::size_t kUncached = 32;
    static constexpr std::size_t kLongest = 64;      // longer keys are seldom repeated
    static constexpr std::size_t kWordCovered = 16;  // head and tail hold every byte
    struct Words {
        std::uint64_t head = 0;
        std::uint64_t tail = 0;
    };
    struct Slot {
        const char* data = nullptr;
        std::size_t size = 0;
        std::uint64_t head = 0;
        std::uint64_t tail = 0;
        Ref key;
    };

    static Words words_of(std::string_view text) noexcept {
        const char* p = text.data();
        const std::size_t n = text.size();
        Words w;
        if (n >= 8) {
            std::memcpy(&w.head, p, 8);
            std::memcpy(&w.tail, p + n - 8, 8);
        } else if (n >= 4) {
            std::uint32_t head, tail;
            std::memcpy(&head, p, 4);
            std::memcpy(&tail, p + n - 4, 4);
            w.head = head;
            w.tail = tail;
        } else if (n > 0) {
            const auto byte = [&](std::size_t i) -> std::uint64_t {
                return static_cast<unsigned char>(p[i]);
            };
            w.head = byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16;
        }
        return w;
    }

    static std::size_t slot_of(const Words& w, std::size_t n) noexcept {
        const std::uint64_t h = (w.head * 0x9E3779B97F4A7C15u) ^ (w.tail * 0xC2B2AE3D27D4EB4Fu) ^ n;
        return static_cast<std::size_t>((h ^ (h >> 29)) >> 56);  // kSlots == 256
    }

    std::unique_ptr<Slot[]> slots_;
    std::size_t uncached_left_ = kUncached;  // keys still converted without the slots
};

}  // namespace morvelan::py
