// Memory of the engine: every owned buffer and container of the tree goes
// through these functions, so the allocator can be swapped in one place.
// With MORVELAN_USE_MIMALLOC defined the engine allocates from mimalloc;
// without it (sanitizer builds) from the C library, so AddressSanitizer sees
// every allocation.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#ifdef MORVELAN_USE_MIMALLOC
#include <mimalloc.h>
#else
#include <cstdlib>
#include <malloc.h>
#endif

namespace morvelan {

#ifdef MORVELAN_COUNT_ALLOC
// Bytes currently held by the engine (benchmark builds only; one thread).
inline std::size_t& live_bytes() noexcept {
    static std::size_t bytes = 0;
    return bytes;
}
// Allocations made so far (benchmark builds only; one thread).
inline std::size_t& alloc_count() noexcept {
    static std::size_t count = 0;
    return count;
}
#endif

inline void* mem_alloc(std::size_t n) noexcept {
#ifdef MORVELAN_USE_MIMALLOC
    void* p = mi_malloc(n);
#else
    void* p = std::malloc(n);
#endif
#ifdef MORVELAN_COUNT_ALLOC
    if (p) ++alloc_count();
#ifdef MORVELAN_USE_MIMALLOC
    if (p) live_bytes() += mi_usable_size(p);
#else
    if (p) live_bytes() += malloc_usable_size(p);
#endif
#endif
    return p;
}

inline void mem_free(void* p) noexcept {
#ifdef MORVELAN_COUNT_ALLOC
#ifdef MORVELAN_USE_MIMALLOC
    if (p) live_bytes() -= mi_usable_size(p);
#else
    if (p) live_bytes() -= malloc_usable_size(p);
#endif
#endif
#ifdef MORVELAN_USE_MIMALLOC
    mi_free(p);
#else
    std::free(p);
#endif
}

template <class T>
struct Allocator {
    using value_type = T;
    Allocator() noexcept = default;
    template <class U>
    Allocator(const Allocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        void* p = mem_alloc(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { mem_free(p); }
    template <class U>
    bool operator==(const Allocator<U>&) const noexcept {
        return true;
    }
};

// Growable text owned by the engine (output buffers, decoded strings).
using String = std::basic_string<char, std::char_traits<char>, Allocator<char>>;

template <class T>
using Vector = std::vector<T, Allocator<T>>;

// Base for heap nodes: `new` and `delete` of a derived class use the engine
// allocator.
struct EngineAllocated {
    static void* operator new(std::size_t n) {
        void* p = mem_alloc(n);
        if (!p) throw std::bad_alloc();
        return p;
    }
    static void operator delete(void* p) noexcept { mem_free(p); }
};

}  // namespace morvelan
