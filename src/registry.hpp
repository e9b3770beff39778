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
#include <shared_mutex>
#include <string>
#include <string_view>
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

class VersionRegistry {
public:
    // The modification counter (version lock shared).
    std::uint64_t counter() const;

    // Whether a handle made at `version` with `path` is stale.
    bool is_stale(std::uint64_t version, const Path& path) const;

    // Stamps `path` (the empty path: the root); returns the new counter.
    std::uint64_t stamp(const Path& path);

    // Stamps the index steps [first, last) under `path` with one new counter
    // value, which it returns.
    std::uint64_t stamp_range(const Path& path, std::size_t first, std::size_t last);

private:
    struct Node {
        std::uint64_t stamp = 0;
        std::unordered_map<PathStep, std::unique_ptr<Node>, PathStepHash> children;
    };
    Node* walk_creating(const Path& path);

    mutable std::shared_mutex lock_;  // the version lock
    Node root_;
    // Written under the version lock held exclusive; atomic so that a handle
    // made at the current counter can be found fresh without the lock.
    std::atomic<std::uint64_t> counter_{0};
};

}  // namespace morvelan::py
