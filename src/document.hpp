// The Document class: owns one document tree, its lock and its version
// registry, and is the root of every handle and view.
#pragma once

#include "engine/document.hpp"
#include "frame.hpp"
#include "locks.hpp"
#include "registry.hpp"

namespace morvelan::py {

struct DocumentState : EngineAllocated {
    DocLock lock;  // guards `tree`
    DocumentRoot tree;
    VersionRegistry registry;
    // The tree was parsed from its source buffer (tree.source()). Until the
    // lock is first taken for writing, writing the tree gives that text back.
    bool parsed = false;
    // The document only holds the value of a private handle under "_"
    // (private_handle): that key is no part of the value's path.
    bool private_value = false;
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
