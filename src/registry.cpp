#include "registry.hpp"

#include <functional>
#include <mutex>
#include <shared_mutex>

namespace morvelan::py {

std::size_t PathStep::hash() const noexcept {
    if (is_key()) return std::hash<std::string>()(key_text());
    return std::hash<std::size_t>()(index_value()) * 0x9E3779B97F4A7C15ull + 1;
}

std::uint64_t VersionRegistry::counter() const { return counter_.load(std::memory_order_acquire); }

bool VersionRegistry::is_stale(std::uint64_t version, const Path& path) const {
    // Nothing has been stamped since the handle was made.
    if (version == counter_.load(std::memory_order_acquire)) return false;
    std::shared_lock guard(lock_);
    if (version < root_.stamp) return true;
    const Node* node = &root_;
    for (const PathStep& step : path) {
        auto it = node->children.find(step);
        if (it == node->children.end()) return false;
        node = it->second.get();
        if (node->stamp > version) return true;
    }
    return false;
}

VersionRegistry::Node* VersionRegistry::walk_creating(const Path& path) {
    Node* node = &root_;
    for (const PathStep& step : path) {
        auto& child = node->children[step];
        if (!child) child = std::make_unique<Node>();
        node = child.get();
    }
    return node;
}

std::uint64_t VersionRegistry::stamp(const Path& path) {
    std::unique_lock guard(lock_);
    const std::uint64_t c = counter_.fetch_add(1, std::memory_order_acq_rel) + 1;
    Node* node = walk_creating(path);
    node->stamp = c;
    node->children.clear();
    return c;
}

std::uint64_t VersionRegistry::stamp_range(const Path& path, std::size_t first, std::size_t last) {
    std::unique_lock guard(lock_);
    const std::uint64_t c = counter_.fetch_add(1, std::memory_order_acq_rel) + 1;
    Node* parent = walk_creating(path);
    for (std::size_t i = first; i < last; ++i) {
        auto& child = parent->children[PathStep::index(i)];
        if (!child) child = std::make_unique<Node>();
        child->stamp = c;
        child->children.clear();
    }
    return c;
}

}  // namespace morvelan::py
