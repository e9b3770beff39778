// The C stack of the calling thread, and how much of it is left.
//
// A walk that recurses once per level of nesting (the parser over arrays and
// inline tables, the conversions between Python values and tree items) asks
// before each level whether the thread's stack still holds what the level
// needs, and refuses the level when it does not: a deep input on a thread
// with a small stack then fails with an error instead of overflowing the
// stack. Every other walk over a tree keeps a stack of its own (walk_stack.hpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvelan {

// [low, high) of a thread's stack; both 0 when the platform does not tell.
// Stacks grow down on every platform built for.
struct ThreadStack {
    std::uintptr_t low = 0;
    std::uintptr_t high = 0;

    bool known() const noexcept { return low != 0; }
    std::size_t size() const noexcept { return static_cast<std::size_t>(high - low); }
};

// The calling thread's stack, asked from the system on the thread's first
// call (on Linux the main thread's answer reads /proc/self/maps) and kept.
const ThreadStack& this_thread_stack() noexcept;

// Bytes of `stack` left below the caller; SIZE_MAX when the stack is unknown
// or the caller does not run on it (a stack the thread switched to, as
// coroutine libraries do).
std::size_t stack_left(const ThreadStack& stack) noexcept;

// Builds with the address sanitizer have frames several times larger (every
// local that has its address taken gets guard zones): the reserves that the
// checks keep are larger there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kLargeFrames = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kLargeFrames = true;
#else
inline constexpr bool kLargeFrames = false;
#endif
#else
inline constexpr bool kLargeFrames = false;
#endif

}  // namespace morvelan
