#include "registry.hpp"

#include <algorithm>
#include <functional>
#include <mutex>
#include <shared_mutex>

namespace morvelan::py {

std::size_t PathStep::hash() const noexcept {
    if (is_key()) return std::hash<std::string_view>()(key_text());
    return std::hash<std::size_t>()(index_value()) * 0x9E3779B97F4A7C15ull + 1;
}

std::uint64_t VersionRegistry::counter() const { return counter_.load(std::memory_order_acquire); }

bool VersionRegistry::stamped_since(std::uint64_t version, const Path& path) const {
    std::shared_lock guard(lock_);
    if (version < root_.stamp) return true;
    const Node* node = &root_;
    for (const PathStep& step : path) {
        if (!node->suffixes.empty() && !step.is_key()) {
            auto after = std::upper_bound(node->suffixes.begin(), node->suffixes.end(), step.index_value(),
                                          [](std::size_t i, const auto& s) { return i < s.first; });
            if (after != node->suffixes.begin() && std::prev(after)->second > version) return true;
        }
        auto it = node->children.find(step);
        if (it == node->children.end()) return false;
        node = it->second.get();
        if (node->stamp > version) return true;
    }
    return false;
}

VersionRegistry::Node& VersionRegistry::child(Node& parent, const PathStep& step) {
    auto& c = parent.children[step];
    if (!c) c = std::make_unique<Node>();
    return *c;
}

VersionRegistry::Node& VersionRegistry::walk_creating(const Path& path) {
    Node* node = &root_;
    for (const PathStep& step : path) node = &child(*node, step);
    return *node;
}

// The nodes are taken out of their maps onto a chain, so that each is
// deleted with no children left to free.
void VersionRegistry::Node::free_children(Children& c) noexcept {
    Node* chain = nullptr;
    auto take = [&chain](Children& children) noexcept {
        for (auto& entry : children) {
            Node* n = entry.second.release();
            n->chain = chain;
            chain = n;
        }
        children.clear();
    };
    take(c);
    while (chain) {
        Node* n = chain;
        chain = n->chain;
        take(n->children);
        delete n;
    }
}

// A stamp covers everything below the node: its children go.
void VersionRegistry::mark(Node& node, std::uint64_t c) noexcept {
    node.stamp = c;
    Node::free_children(node.children);
    node.suffixes.clear();
}

std::uint64_t VersionRegistry::next() noexcept {
    return counter_.fetch_add(1, std::memory_order_acq_rel) + 1;
}

std::uint64_t VersionRegistry::stamp(const Path& path) {
    std::unique_lock guard(lock_);
    const std::uint64_t c = next();
    mark(walk_creating(path), c);
    return c;
}

std::uint64_t VersionRegistry::stamp(const Path& path, const PathStep& step) {
    std::unique_lock guard(lock_);
    const std::uint64_t c = next();
    mark(child(walk_creating(path), step), c);
    return c;
}

std::uint64_t VersionRegistry::stamp_from(const Path& path, std::size_t first) {
    std::unique_lock guard(lock_);
    Node& parent = walk_creating(path);
    parent.suffixes.reserve(parent.suffixes.size() + 1);  // nothing changes if this fails
    // Index children at or after `first` are covered by the new stamp.
    for (auto it = parent.children.begin(); it != parent.children.end();) {
        if (!it->first.is_key() && it->first.index_value() >= first) {
            Node::Children one;
            one.emplace(it->first, std::move(it->second));
            it = parent.children.erase(it);
            Node::free_children(one);
        } else {
            ++it;
        }
    }
    auto& suffixes = parent.suffixes;
    while (!suffixes.empty() && suffixes.back().first >= first) suffixes.pop_back();
    const std::uint64_t c = next();
    suffixes.emplace_back(first, c);
    return c;
}

std::uint64_t VersionRegistry::stamp_range(const Path& path, std::size_t first, std::size_t last) {
    std::unique_lock guard(lock_);
    const std::uint64_t c = next();
    Node& parent = walk_creating(path);
    for (std::size_t i = first; i < last; ++i) mark(child(parent, PathStep::index(i)), c);
    return c;
}

}  // namespace morvelan::py
