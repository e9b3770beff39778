// The Document class: construction, parsing, writing, `value`, `fmt`,
// `clear`, copies, repr/str/len/bool and equality. The mapping members
// shared with DictItem live with the mapping operations.
#include "document.hpp"

#include <new>
#include <optional>
#include <thread>

#include "arguments.hpp"
#include "conversion.hpp"
#include "decode_error.hpp"
#include "dict_proxy.hpp"
#include "direct_value.hpp"
#include "edit/dict_ops.hpp"
#include "engine/encode.hpp"
#include "engine/parser.hpp"
#include "gil.hpp"
#include "item_proxy.hpp"
#include "types.hpp"

namespace morvelan::py {

namespace {

const Table& root_table(const DocumentState& s) {
    if (!s.tree().root().is_table()) throw InternalFault{"root should always be a table"};
    return s.tree().table();
}

Table& root_table(DocumentState& s) {
    if (!s.tree().root().is_table()) throw InternalFault{"root should always be a table"};
    return s.tree().table();
}

// ---- construction ----------------------------------------------------------

PyObject* document_new(PyObject* type, PyObject* args, PyObject* kwargs) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"data"};
        static const Signature sig{"Document()", names, 1, 0, 1, 0, false, false};
        MV_ASSIGN(CallArgs call, CallArgs::from(args, kwargs));
        MV_ASSIGN(Args a, parse_args(sig, call.data(), call.positional(), call.kwnames()));
        DocumentRoot tree;
        if (a.values[0] && a.values[0] != Py_None) {
            MV_ASSIGN(tree.root(),
                      for_argument("data", mapping_argument(a.values[0], "Document()", "a mapping or None")));
        }
        (void)type;
        return new_document(std::move(tree));
    });
}

void document_dealloc(PyObject* self) {
    delete reinterpret_cast<DocumentObject*>(self)->state;
    reinterpret_cast<DocumentObject*>(self)->state = nullptr;
    free_instance(self);
}

// ---- methods ---------------------------------------------------------------

PyObject* document_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"text"};
        static const Signature sig{"parse()", names, 1, 0, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        return parse_text(a.values[0]);
    });
}

PyObject* document_as_toml(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("Document.as_toml()", args, nargs, kwnames));
        return document_text(state_of(self));
    });
}

PyObject* document_fmt(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("Document.fmt()", args, nargs, kwnames));
        DocumentState& s = state_of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::exclusive(s.lock));
        root_table(s).fmt();
        return Ref::borrow(Py_None);
    });
}

PyObject* document_clear(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("Document.clear()", args, nargs, kwnames));
        DocumentState& s = state_of(self);
        MV_ASSIGN(LockGuard guard, LockGuard::exclusive(s.lock));
        root_table(s);
        clear_entries(s.tree(), s.tree().root());
        s.registry.stamp({});
        return Ref::borrow(Py_None);
    });
}

PyObject* document_copy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        MV_CHECK(no_arguments("Document.__copy__()", args, nargs, kwnames));
        return copy_document(self);
    });
}

PyObject* document_deepcopy(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"_memo"};
        static const Signature sig{"Document.__deepcopy__()", names, 1, 0, 1, 0, false, false};
        MV_CHECK(parse_args(sig, args, nargs, kwnames));
        return copy_document(self);
    });
}

// Pickled as its text: unpickling parses it again (with morvelan.loads).
PyObject* document_reduce(PyObject* self, PyObject*) {
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(Ref text, document_text(state_of(self)));
        MV_ASSIGN(Ref module, checked(PyImport_ImportModule("morvelan")));
        MV_ASSIGN(Ref loads, checked(PyObject_GetAttrString(module.get(), "loads")));
        return checked(Py_BuildValue("(O(O))", loads.get(), text.get()));
    });
}

// ---- properties and slots --------------------------------------------------

Result<Ref> document_value(PyObject* self) {
    DocumentState& s = state_of(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(s.lock));
    // A document loaded without its tree hands the value made while loading
    // over once, if converting the tree would not refuse it for its depth
    // here (the tree's conversion then raises what it raises).
    int depth = 0;
    if (Ref kept = s.take_value(depth); kept && nesting_fits(depth)) return kept;
    return to_python(root_table_item(s));
}

PyObject* document_get_value(PyObject* self, void*) {
    return frame([&]() -> Result<Ref> { return document_value(self); });
}

Result<std::size_t> visible_len(PyObject* self) {
    DocumentState& s = state_of(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(s.lock));
    return root_table(s).visible_size();
}

PyObject* document_repr(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(std::size_t n, visible_len(self));
        std::string text = "Document(" + std::to_string(n) + " keys)";
        return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    });
}

PyObject* document_str(PyObject* self) {
    return frame([&]() -> Result<Ref> {
        MV_ASSIGN(Ref value, document_value(self));
        return checked(PyObject_Str(value.get()));
    });
}

int document_bool(PyObject* self) {
    return frame_int([&]() -> Result<int> {
        MV_ASSIGN(std::size_t n, visible_len(self));
        return n != 0 ? 1 : 0;
    });
}

// doc == other: handles, documents and converted values compare as TOML data.
Result<bool> document_equals(PyObject* self, PyObject* other) {
    if (other == self) return true;
    MV_ASSIGN(Comparand c, Comparand::from(other));
    DocumentState& s = state_of(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(s.lock));
    return c.equals(root_table_item(s));
}

PyMethodDef document_methods[] = {
    {"parse", fastcall(document_parse), kFastcall | METH_STATIC,
     "parse(text)\n--\n\nParse a TOML string into a Document, preserving formatting."},
    {"as_toml", fastcall(document_as_toml), kFastcall,
     "as_toml($self)\n--\n\nReturn the document serialised as a TOML string."},
    {"fmt", fastcall(document_fmt), kFastcall,
     "fmt($self)\n--\n\n"
     "Normalize formatting of the document's top-level entries.\n\n"
     "Only root-level key/value entries are reformatted; nested tables and arrays\n"
     "are not entered (call `.fmt()` on a nested `Item` to reformat that value).\n"
     "Useful after mutations that leave awkward top-level whitespace.\n\n"
     "Note: comments on formatted root-level entries are removed."},
    {"clear", fastcall(document_clear), kFastcall,
     "clear($self)\n--\n\nRemove every entry of the document. Every existing reference into it becomes "
     "stale."},
    {"__copy__", fastcall(document_copy), kFastcall, "__copy__($self)\n--\n\nReturn an independent copy."},
    {"__reduce__", document_reduce, METH_NOARGS,
     "__reduce__($self)\n--\n\nPickle support: a Document pickles as its TOML text."},
    {"__deepcopy__", fastcall(document_deepcopy), kFastcall,
     "__deepcopy__($self, _memo=None)\n--\n\nReturn an independent copy."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef document_getset[] = {
    {"value", document_get_value, nullptr, "The entire document as a native Python dict.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

const TreeItem& root_table_item(const DocumentState& s) {
    root_table(s);
    return s.tree().root();
}

PyObject* document_type() {
    static PyObject* type = nullptr;
    if (!type)
        type = [] {
            static std::vector<PyMethodDef> methods = [] {
                std::vector<PyMethodDef> m(std::begin(document_methods), std::end(document_methods) - 1);
                m.insert(m.end(), mapping_methods(), mapping_methods() + mapping_method_count());
                m.push_back({nullptr, nullptr, 0, nullptr});
                return m;
            }();
            static std::vector<PyType_Slot> slots = [] {
                std::vector<PyType_Slot> s = {
                    {Py_tp_doc, const_cast<char*>("Document(data=None)\n--\n\n"
                                                  "A TOML document that preserves formatting when edited.")},
                    {Py_tp_new, reinterpret_cast<void*>(document_new)},
                    {Py_tp_dealloc, reinterpret_cast<void*>(document_dealloc)},
                    {Py_tp_methods, methods.data()},
                    {Py_tp_getset, document_getset},
                    {Py_tp_repr, reinterpret_cast<void*>(document_repr)},
                    {Py_tp_str, reinterpret_cast<void*>(document_str)},
                    {Py_tp_richcompare, reinterpret_cast<void*>(equality_only<document_equals>)},
                    {Py_tp_hash, reinterpret_cast<void*>(PyObject_HashNotImplemented)},
                    {Py_nb_bool, reinterpret_cast<void*>(document_bool)},
                };
                add_mapping_slots(s);
                s.push_back({0, nullptr});
                return s;
            }();
            static PyType_Spec spec = {"morvelan.Document", sizeof(DocumentObject), 0,
                                       Py_TPFLAGS_DEFAULT | Py_TPFLAGS_MAPPING, slots.data()};
            return make_type(&spec, nullptr, "Document");
        }();
    return type;
}

bool is_document(PyObject* o) noexcept {
    PyObject* type = document_type();
    return type && Py_IS_TYPE(o, reinterpret_cast<PyTypeObject*>(type));
}

namespace {

// The text of a str or bytes object, lent to a document: the document's
// pieces view the object's own buffer, which no one can change, instead of a
// copy. The object is released when the last document (or parse report)
// sharing it goes, which happens with the interpreter lock held: documents
// are freed by the interpreter, and the parse below keeps its own reference
// while the lock is released.
class LentSource final : public SourceText {
public:
    LentSource(PyObject* owner, std::string_view utf8) : owner_(Ref::borrow(owner)) { view_ = utf8; }

    // The string itself, when the text was lent by an exact str: the same
    // text, with nothing to decode.
    Ref str() const { return PyUnicode_CheckExact(owner_.get()) ? Ref::borrow(owner_.get()) : Ref(); }

private:
    Ref owner_;
};

}  // namespace

Result<Ref> document_text(DocumentState& s) {
    MV_ASSIGN(LockGuard guard, LockGuard::shared(s.lock));
    // Unchanged since it was parsed: the writer would give back the source
    // byte for byte, so the source is the text (and a tree not yet built
    // is not needed).
    if (s.parsed && !s.lock.ever_written() && s.source()) {
        if (const auto* lent = dynamic_cast<const LentSource*>(s.source().get())) {
            if (Ref text = lent->str()) return text;
        }
        return str_from(s.source()->view());
    }
    root_table(s);
    String text = write_document(s.tree());
    guard.unlock();
    return str_from(std::string_view(text.data(), text.size()));
}

namespace {

// Takes `m`; a thread that cannot take it at once lets the interpreter lock
// go while it waits (as LockGuard does), so that the holder can finish.
std::unique_lock<std::mutex> hold(std::mutex& m) {
    std::unique_lock<std::mutex> held(m, std::try_to_lock);
    if (!held.owns_lock()) {
        GilRelease unlocked;
        held.lock();
    }
    return held;
}

// parse_document on a thread of its own, which has the system's default
// stack: a document loaded on one thread may be used first on another whose
// stack is too small for the nesting of its text.
ParseResult<DocumentRoot> parse_on_new_thread(const SourceBuffer& source) {
    std::optional<ParseResult<DocumentRoot>> parsed;
    std::thread reader([&]() noexcept {
        try {
            parsed.emplace(parse_document(source));
        } catch (...) {
            // Memory ran out: reported below.
        }
    });
    reader.join();
    if (!parsed) throw std::bad_alloc();
    return std::move(*parsed);
}

}  // namespace

void DocumentState::defer_tree(SourceBuffer source, Ref value, int depth) {
    source_ = std::move(source);
    value_ = std::move(value);
    value_depth_ = depth;
    built_.store(false, std::memory_order_release);
}

Ref DocumentState::take_value(int& depth) {
    if (built_.load(std::memory_order_acquire)) return Ref();
    const std::unique_lock<std::mutex> held = hold(building_);
    depth = value_depth_;
    Ref value = std::move(value_);
    return value;
}

DocumentRoot& DocumentState::build_tree() {
    const std::unique_lock<std::mutex> held = hold(building_);
    if (built_.load(std::memory_order_relaxed)) return tree_;
    // The interpreter lock is kept throughout (see tree()). The value kept
    // since loading goes first: the tree is not held beside it.
    value_ = Ref();
    std::optional<ParseResult<DocumentRoot>> parsed;
    parsed.emplace(parse_document(source_));
    if (!parsed->ok() && parsed->error().out_of_stack) parsed.emplace(parse_on_new_thread(source_));
    if (!parsed->ok()) throw InternalFault{"the text of a document loaded without its tree does not parse"};
    tree_ = std::move(parsed->value());
    built_.store(true, std::memory_order_release);
    return tree_;
}

Result<Ref> new_document(DocumentRoot tree) {
    PyObject* type = document_type();
    if (!type) return Error::pending();
    auto* state = new DocumentState();
    state->tree() = std::move(tree);
    PyObject* self = alloc_instance(type);
    if (!self) {
        delete state;
        return Error::pending();
    }
    reinterpret_cast<DocumentObject*>(self)->state = state;
    return Ref::steal(self);
}

Result<Ref> copy_document(PyObject* self) {
    DocumentState& s = state_of(self);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(s.lock));
    root_table(s);
    DocumentRoot copy = s.tree();  // the copy shares the immutable source buffer
    guard.unlock();
    return new_document(std::move(copy));
}

Result<TreeItem> copy_root(PyObject* doc) {
    DocumentState& s = state_of(doc);
    MV_ASSIGN(LockGuard guard, LockGuard::shared(s.lock));
    MV_CHECK(check_copy_nesting(root_table_item(s)));
    TreeItem copy = root_table_item(s);
    guard.unlock();
    copy.detach();
    return copy;
}

Result<Ref> parse_text(PyObject* text) {
    MV_ASSIGN(std::string_view utf8, str_argument("text", text));
    return parse_utf8(text, utf8);
}

// A text shorter than this is parsed in microseconds, with the interpreter
// lock held: letting other threads run would cost more, and getting the lock
// back may mean waiting for another thread's whole time slice.
constexpr std::size_t kParseWithGil = 16 * 1024;

Result<Ref> parse_utf8(PyObject* owner, std::string_view utf8) {
    // Read without a tree when the direct decoder reads the text; otherwise
    // the parser reads it (and reports what is wrong with it).
    DirectValue direct = decode_values(utf8);
    if (!direct.value) return parse_utf8_tree(owner, utf8);
    SourceBuffer source = std::allocate_shared<LentSource>(Allocator<LentSource>(), owner, utf8);
    MV_ASSIGN(Ref doc, new_document(DocumentRoot()));
    DocumentState& s = state_of(doc.get());
    s.parsed = true;
    s.defer_tree(std::move(source), std::move(direct.value), direct.depth);
    return doc;
}

Result<Ref> parse_utf8_tree(PyObject* owner, std::string_view utf8) {
    const SourceBuffer source = std::allocate_shared<LentSource>(Allocator<LentSource>(), owner, utf8);
    std::optional<ParseResult<DocumentRoot>> parsed;
    if (utf8.size() < kParseWithGil) {
        parsed.emplace(parse_document(source));
    } else {
        GilRelease unlocked;
        parsed.emplace(parse_document(source));
    }
    if (!parsed->ok()) return parse_failure(parsed->error());
    MV_ASSIGN(Ref doc, new_document(std::move(parsed->value())));
    DocumentState& s = state_of(doc.get());
    s.parsed = true;
    s.set_source(source);
    return doc;
}

}  // namespace morvelan::py
