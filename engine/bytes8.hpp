// Tests of eight bytes at a time, in one 64-bit word: the scanners of
// strings and comments and the writer's check of plain strings skip the
// runs of bytes that need no decision this way.
//
// Each mask sets bit 7 of the bytes it flags. A borrow can flag a byte above
// one that is flagged rightly, never below, so a mask is exactly zero when
// no byte matches, and its lowest set bit marks the first byte that does, in
// memory order once the word is read little-endian (first_flagged).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace morvelan::bytes8 {

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Whether first_flagged reads the first byte in memory from the low end of
// the word; scanners fall back to a byte loop where it does not.
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

inline std::uint64_t load(const char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Bytes below `n` (at most 0x80), non-ASCII bytes not included.
constexpr std::uint64_t below(std::uint64_t v, unsigned char n) noexcept {
    return (v - kOnes * n) & ~v & kHighs;
}
// Bytes equal to `c`, an ASCII character: v ^ (c * kOnes) has the high bits
// of `v`, so the masks of one word share ~v & kHighs.
constexpr std::uint64_t equal(std::uint64_t v, unsigned char c) noexcept {
    return ((v ^ (kOnes * c)) - kOnes) & ~v & kHighs;
}
// Bytes of 0x80 and above.
constexpr std::uint64_t non_ascii(std::uint64_t v) noexcept { return v & kHighs; }
// Control characters (below 0x20, and DEL) and non-ASCII bytes: what text
// outside the plain printable range starts with.
constexpr std::uint64_t not_printable(std::uint64_t v) noexcept {
    return below(v, 0x20) | equal(v, 0x7F) | non_ascii(v);
}

// The offset in memory of the first flagged byte of a non-zero mask of a
// word read by load() (little-endian only).
inline std::size_t first_flagged(std::uint64_t mask) noexcept {
    return static_cast<std::size_t>(std::countr_zero(mask)) >> 3;
}

}  // namespace morvelan::bytes8
