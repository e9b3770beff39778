// The version registry of a document: a modification counter and a tree of
// stamps keyed by path. An edit stamps the path it changed; a handle made at
// version v with path s1..sn is stale when the root's stamp or the stamp of
// any node along s1..sn is greater than v. Stamping a node drops its
// children, whose stamps it now covers, so the tree only holds paths edited
// since their ancestors were last stamped.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace morvelan::py {

// One step of a path: a key (decoded key text) or an index. A short key is
// kept inside the step, so copying a path of short keys allocates nothing.
class PathStep {
public:
    static PathStep key(std::string_view k) {
        PathStep s;
        s.value_ = k.size();
        if (k.size() <= kInline) {
            s.data_ = s.inline_;
        } else {
            s.data_ = new char[k.size()];
        }
        if (!k.empty()) std::memcpy(s.data_, k.data(), k.size());
        return s;
    }
    static PathStep index(std::size_t i) noexcept {
        PathStep s;
        s.value_ = i;
        return s;
    }

    PathStep(const PathStep& o) : value_(o.value_) {
        if (!o.data_) return;
        if (o.on_heap()) {
            data_ = new char[value_];
            std::memcpy(data_, o.data_, value_);
        } else {
            data_ = inline_;
            std::memcpy(inline_, o.inline_, kInline);
        }
    }
    PathStep(PathStep&& o) noexcept : value_(o.value_) {
        if (!o.data_) return;
        if (o.on_heap()) {
            data_ = o.data_;
            o.data_ = nullptr;  // `o` becomes an index step
        } else {
            data_ = inline_;
            std::memcpy(inline_, o.inline_, kInline);
        }
    }
    PathStep& operator=(const PathStep& o) {
        if (this != &o) {
            PathStep copy(o);
            *this = std::move(copy);
        }
        return *this;
    }
    PathStep& operator=(PathStep&& o) noexcept {
        if (this != &o) {
            this->~PathStep();
            ::new (static_cast<void*>(this)) PathStep(std::move(o));
        }
        return *this;
    }
    ~PathStep() {
        if (on_heap()) delete[] data_;
    }

    bool is_key() const noexcept { return data_ != nullptr; }
    std::string_view key_text() const noexcept { return std::string_view(data_, value_); }
    std::size_t index_value() const noexcept { return value_; }

    bool operator==(const PathStep& o) const noexcept {
        if (is_key() != o.is_key()) return false;
        return is_key() ? key_text() == o.key_text() : value_ == o.value_;
    }
    std::size_t hash() const noexcept;

private:
    static constexpr std::size_t kInline = 16;
    PathStep() noexcept = default;
    bool on_heap() const noexcept { return data_ && data_ != inline_; }

    std::size_t value_ = 0;  // the index, or the length of the key
    char* data_ = nullptr;   // the key's bytes (inline_ or a heap block); null for an index
    char inline_[kInline];
};

struct PathStepHash {
    std::size_t operator()(const PathStep& s) const noexcept { return s.hash(); }
};

// A path of steps from a document's root. Most paths are short, so the
// first few steps live inside the object and making one (a new handle's path
// is its parent's plus one step) allocates nothing.
class Path {
public:
    Path() noexcept {}
    Path(const PathStep* first, const PathStep* last) : Path() { append(first, last); }
    Path(const Path& o) : Path() { append(o.begin(), o.end()); }
    Path(Path&& o) noexcept { take(o); }
    Path& operator=(const Path& o) {
        if (this != &o) {
            Path copy(o);
            *this = std::move(copy);
        }
        return *this;
    }
    Path& operator=(Path&& o) noexcept {
        if (this != &o) {
            release();
            take(o);
        }
        return *this;
    }
    ~Path() { release(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    const PathStep* begin() const noexcept { return data_; }
    const PathStep* end() const noexcept { return data_ + size_; }
    const PathStep& back() const noexcept { return data_[size_ - 1]; }
    const PathStep& operator[](std::size_t i) const noexcept { return data_[i]; }

    void reserve(std::size_t n) {
        if (n > capacity_) grow(n);
    }
    void push_back(PathStep step) {
        if (size_ == capacity_) grow(size_ * 2);
        ::new (static_cast<void*>(data_ + size_)) PathStep(std::move(step));
        ++size_;
    }
    // Appends copies of [first, last).
    void append(const PathStep* first, const PathStep* last) {
        reserve(size_ + static_cast<std::size_t>(last - first));
        for (; first != last; ++first) {
            ::new (static_cast<void*>(data_ + size_)) PathStep(*first);
            ++size_;
        }
    }

private:
    static constexpr std::size_t kInline = 4;
    PathStep* inline_steps() noexcept { return std::launder(reinterpret_cast<PathStep*>(inline_)); }
    bool on_heap() const noexcept { return data_ != reinterpret_cast<const PathStep*>(inline_); }
    void grow(std::size_t n) {
        auto* fresh = std::allocator<PathStep>().allocate(n);
        for (std::size_t i = 0; i < size_; ++i) {
            ::new (static_cast<void*>(fresh + i)) PathStep(std::move(data_[i]));
            data_[i].~PathStep();
        }
        if (on_heap()) std::allocator<PathStep>().deallocate(data_, capacity_);
        data_ = fresh;
        capacity_ = n;
    }
    // Destroys the steps and frees the storage; leaves an empty inline path.
    void release() noexcept {
        for (std::size_t i = 0; i < size_; ++i) data_[i].~PathStep();
        if (on_heap()) std::allocator<PathStep>().deallocate(data_, capacity_);
        data_ = inline_steps();
        size_ = 0;
        capacity_ = kInline;
    }
    // Takes the steps of `o` (this path is empty and inline), leaving it empty.
    void take(Path& o) noexcept {
        if (o.on_heap()) {
            data_ = o.data_;
            size_ = o.size_;
            capacity_ = o.capacity_;
            o.data_ = o.inline_steps();
            o.size_ = 0;
            o.capacity_ = kInline;
            return;
        }
        for (std::size_t i = 0; i < o.size_; ++i) {
            ::new (static_cast<void*>(data_ + i)) PathStep(std::move(o.data_[i]));
            o.data_[i].~PathStep();
        }
        size_ = o.size_;
        o.size_ = 0;
    }

    PathStep* data_ = inline_steps();
    std::size_t size_ = 0;
    std::size_t capacity_ = kInline;
    alignas(PathStep) unsigned char inline_[kInline * sizeof(PathStep)];
};

// The version lock: a reader-writer spin lock in one atomic word (the
// number of readers, or -1 for a writer). It is held only for a walk of the
// registry, never across a call into Python, always inside the document lock,
// so a waiter spins (yielding) for a few hundred nanoseconds at most.
class VersionLock {
public:
    void lock_shared() noexcept {
        for (;;) {
            std::int32_t s = state_.load(std::memory_order_relaxed);
            if (s >= 0 && state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire)) return;
            std::this_thread::yield();
        }
    }
    void unlock_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }
    void lock() noexcept {
        for (;;) {
            std::int32_t expected = 0;
            if (state_.compare_exchange_weak(expected, -1, std::memory_order_acquire)) return;
            std::this_thread::yield();
        }
    }
    void unlock() noexcept { state_.store(0, std::memory_order_release); }

private:
    std::atomic<std::int32_t> state_{0};
};

class VersionRegistry {
public:
    // The modification counter.
    std::uint64_t counter() const;

    // Whether a handle made at `version` with `path` is stale.
    bool is_stale(std::uint64_t version, const Path& path) const {
        // Nothing has been stamped since the handle was made.
        if (version == counter_.load(std::memory_order_acquire)) return false;
        return stamped_since(version, path);
    }

    // Stamps `path` (the empty path: the root); returns the new counter.
    std::uint64_t stamp(const Path& path);
    // Stamps `path` + [`step`] (an entry of the table at `path`).
    std::uint64_t stamp(const Path& path, const PathStep& step);

    // Stamps the index steps [first, last) under `path` with one new counter
    // value, which it returns.
    std::uint64_t stamp_range(const Path& path, std::size_t first, std::size_t last);
    // Stamps every index step from `first` on under `path` (the elements an
    // insertion or removal moves), in constant time; returns the new counter.
    std::uint64_t stamp_from(const Path& path, std::size_t first);

private:
    struct Node {
        using Children = std::unordered_map<PathStep, std::unique_ptr<Node>, PathStepHash>;
        Node() = default;
        Node(const Node&) = delete;
        Node& operator=(const Node&) = delete;
        ~Node() { free_children(children); }
        // Frees every node below, however deep the paths: without recursion.
        static void free_children(Children& c) noexcept;

        std::uint64_t stamp = 0;
        Children children;
        // Stamps of index steps from a position on: (first, stamp) sorted by
        // position, the stamps rising with it (a newer stamp from an earlier
        // position covers every later one, which is then dropped). The stamp
        // of index i is that of the last entry at or before i.
        std::vector<std::pair<std::size_t, std::uint64_t>> suffixes;
        Node* chain = nullptr;  // while being freed
    };
    bool stamped_since(std::uint64_t version, const Path& path) const;
    static Node& child(Node& parent, const PathStep& step);
    Node& walk_creating(const Path& path);
    static void mark(Node& node, std::uint64_t c) noexcept;
    std::uint64_t next() noexcept;  // the new counter value of a stamp

    mutable VersionLock lock_;
    Node root_;
    // Written under the version lock held exclusive; atomic so that a handle
    // made at the current counter can be found fresh without the lock.
    std::atomic<std::uint64_t> counter_{0};
};

}  // namespace morvelan::py
