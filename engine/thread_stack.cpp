#include "thread_stack.hpp"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(__linux__) || defined(__APPLE__) || defined(__FreeBSD__) || defined(__NetBSD__) || \
    defined(__DragonFly__)
#define MORVELAN_PTHREAD_STACK 1
#include <pthread.h>
#if defined(__FreeBSD__) || defined(__DragonFly__)
#include <pthread_np.h>
#endif
#endif

namespace morvelan {

namespace {

ThreadStack stack_of(std::uintptr_t low, std::size_t size) noexcept {
    if (low == 0 || size == 0) return {};
    return ThreadStack{low, low + size};
}

ThreadStack query_thread_stack() noexcept {
#if defined(_WIN32)
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    return stack_of(static_cast<std::uintptr_t>(low), static_cast<std::size_t>(high - low));
#elif defined(__APPLE__)
    pthread_t self = pthread_self();
    const auto high = reinterpret_cast<std::uintptr_t>(pthread_get_stackaddr_np(self));
    const std::size_t size = pthread_get_stacksize_np(self);
    return high > size ? stack_of(high - size, size) : ThreadStack{};
#elif defined(MORVELAN_PTHREAD_STACK)
    pthread_attr_t attr;
#if defined(__FreeBSD__) || defined(__DragonFly__)
    if (pthread_attr_init(&attr) != 0) return {};
    if (pthread_attr_get_np(pthread_self(), &attr) != 0) {
        pthread_attr_destroy(&attr);
        return {};
    }
#else
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return {};
#endif
    void* addr = nullptr;
    std::size_t size = 0;
    const int rc = pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    return rc == 0 ? stack_of(reinterpret_cast<std::uintptr_t>(addr), size) : ThreadStack{};
#else
    return {};
#endif
}

}  // namespace

const ThreadStack& this_thread_stack() noexcept {
    thread_local const ThreadStack stack = query_thread_stack();
    return stack;
}

std::size_t stack_left(const ThreadStack& stack) noexcept {
#if defined(__GNUC__)
    // The frame itself: with the sanitizers the address of a local may lie
    // on a fake stack on the heap.
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
#else
    volatile char probe = 0;
    const auto here = reinterpret_cast<std::uintptr_t>(&probe);
#endif
    if (!stack.known() || here <= stack.low || here > stack.high) return SIZE_MAX;
    return static_cast<std::size_t>(here - stack.low);
}

}  // namespace morvelan
