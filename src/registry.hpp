// The version registry of a document: a modification counter and a tree of
// stamps keyed by path. An edit stamps the path it changed; a handle made at
// version v with path s1..sn is stale when the root's stamp or the stamp of
// any node along s1..sn is greater than v. Stamping a node drops its
// children, whose stamps it now covers, so the tree only holds paths edited
// since their ancestors were last stamped.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <variant>
#include <vector>

namespace morvelan::py {

// One step of a path: a key (decoded key text) or an index.
class PathStep {
public:
    static PathStep key(std::string_view k) { return PathStep(std::string(k)); }
    static PathStep index(std::size_t i) { return PathStep(i); }

    bool is_key() const noexcept { return v_.index() == 0; }
    const std::string& key_text() const noexcept { return std::get<0>(v_); }
    std::size_t index_value() const noexcept { return std::get<1>(v_); }

    bool operator==(const PathStep&) const = default;
    std::size_t hash() const noexcept;

private:
    explicit PathStep(std::string k) : v_(std::move(k)) {}
    explicit PathStep(std::size_t i) : v_(i) {}
    std::variant<std::string, std::size_t> v_;
};

struct PathStepHash {
    std::size_t operator()(const PathStep& s) const noexcept { return s.hash(); }
};

using Path = std::vector<PathStep>;

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
    // The modification counter (version lock shared).
    std::uint64_t counter() const;

    // Whether a handle made at `version` with `path` is stale.
    bool is_stale(std::uint64_t version, const Path& path) const;

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
