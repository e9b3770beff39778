// The Document class: owns one document tree, its lock and its version
// registry, and is the root of every handle and view.
#pragma once

#include <atomic>
#include <mutex>

#include "engine/document.hpp"
#include "frame.hpp"
#include "locks.hpp"
#include "registry.hpp"

namespace morvelan::py {

struct DocumentState : EngineAllocated {
    DocLock lock;  // guards the tree
    VersionRegistry registry;
    // The tree was parsed from its source buffer (source()). Until the lock
    // is first taken for writing, writing the tree gives that text back.
    bool parsed = false;
    // The document only holds the value of a private handle under "_"
    // (private_handle): that key is no part of the value's path.
    bool private_value = false;

    // The tree. A document loaded without it (defer_tree) parses it from its
    // source here, on first use, whatever the use is: reading or editing
    // through a handle, comparing, copying, writing after an edit. That
    // changes the document under a reader's hold, or under no hold at all
    // (LockGuard::glance), which is safe because nothing can have seen the
    // tree before, and the tree is made once, under `building_`, by a thread
    // that keeps the interpreter lock until it is done (a waiter for
    // `building_` lets the interpreter lock go, as LockGuard does).
    DocumentRoot& tree() { return built_.load(std::memory_order_acquire) ? tree_ : build_tree(); }
    const DocumentRoot& tree() const { return const_cast<DocumentState*>(this)->tree(); }

    // The text a parsed document was read from (null for other documents).
    const SourceBuffer& source() const noexcept { return source_; }
    void set_source(SourceBuffer s) noexcept { source_ = std::move(s); }

    // Makes this a document loaded without its tree: its source (which
    // parse_document must read without a problem) and its value as the
    // direct decoder made it, `depth` levels deep.
    void defer_tree(SourceBuffer source, Ref value, int depth);
    // The value kept since loading, handed over once: null when it is gone
    // (taken, or dropped when the tree was built). Its depth goes to `depth`.
    Ref take_value(int& depth);

private:
    DocumentRoot& build_tree();

    DocumentRoot tree_;
    SourceBuffer source_;
    Ref value_;
    int value_depth_ = 0;
    std::atomic<bool> built_{true};
    std::mutex building_;
};

struct DocumentObject {
    PyObject_HEAD
    DocumentState* state;
};

// The class (created once, on first use); null with an error set on failure.
PyObject* document_type();

bool is_document(PyObject* o) noexcept;
inline DocumentState& state_of(PyObject* doc) noexcept {
    return *reinterpret_cast<DocumentObject*>(doc)->state;
}

// The document written as TOML, as a str. The caller holds no lock on it.
Result<Ref> document_text(DocumentState& s);

// A new Document around `tree` (modification counter 0).
Result<Ref> new_document(DocumentRoot tree);

// The root item of a document's tree (always a Table: anything else is an
// internal fault). The caller holds the document lock.
const TreeItem& root_table_item(const DocumentState& s);

// An independent copy of a Document (taken under its shared lock).
Result<Ref> copy_document(PyObject* doc);

// A detached copy of a document's root table, taken under its shared lock
// (RecursionError when it would nest too deep for the running conversion,
// see check_copy_nesting).
Result<TreeItem> copy_root(PyObject* doc);

// Parses `text` (a str) into a new Document, with the interpreter lock
// released while parsing; a parse error is a ValueError with the report.
Result<Ref> parse_text(PyObject* text);

// The same for UTF-8 text held by `owner` (a str or bytes object), which the
// document keeps and reads in place.
Result<Ref> parse_utf8(PyObject* owner, std::string_view utf8);

// The same, with the tree parsed at once (the parser's way).
Result<Ref> parse_utf8_tree(PyObject* owner, std::string_view utf8);

}  // namespace morvelan::py
