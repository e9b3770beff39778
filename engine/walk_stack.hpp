// WalkStack: the explicit stack of a walk over a tree.
//
// Trees have no depth limit (handles can nest tables without end), so no
// walk over one recurses: each keeps the containers it has entered on a
// stack of its own. The first N frames live inside the WalkStack object,
// on the caller's stack, so a walk over a shallow tree allocates nothing;
// deeper walks move the frames to the heap (and may throw std::bad_alloc).
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>

#include "alloc.hpp"

namespace morvelan {

template <class T, std::size_t N>
class WalkStack {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
    static_assert(N > 0);

public:
    WalkStack() noexcept {}
    ~WalkStack() {
        if (data_ != local_) mem_free(data_);
    }
    WalkStack(const WalkStack&) = delete;
    WalkStack& operator=(const WalkStack&) = delete;

    bool empty() const noexcept { return size_ == 0; }
    std::size_t size() const noexcept { return size_; }
    // The top frame; valid until the next push.
    T& top() noexcept { return data_[size_ - 1]; }
    // By value: `frame` may be a copy of a frame of this stack.
    void push(T frame) {
        if (size_ == capacity_) grow();
        data_[size_++] = frame;
    }
    void pop() noexcept { --size_; }

private:
    void grow() {
        const std::size_t capacity = capacity_ * 2;
        T* data = static_cast<T*>(mem_alloc(capacity * sizeof(T)));
        if (!data) throw std::bad_alloc();
        std::memcpy(static_cast<void*>(data), static_cast<const void*>(data_), size_ * sizeof(T));
        if (data_ != local_) mem_free(data_);
        data_ = data;
        capacity_ = capacity;
    }

    union {
        T local_[N];  // left uninitialised: frames are written before they are read
    };
    T* data_ = local_;
    std::size_t size_ = 0;
    std::size_t capacity_ = N;
};

}  // namespace morvelan
