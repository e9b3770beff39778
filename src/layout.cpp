// The module's private functions for the command line (python/morvelan/_cli.py):
// where the lines and arrays of a document's text stand, the comments of a
// document or item, and the text of one value. All of it is recorded by the
// writer (WrittenLayout) while it writes the text, so that the command line
// reads TOML text only through the library.
#include "layout.hpp"

#include <initializer_list>

#include "arguments.hpp"
#include "document.hpp"
#include "engine/encode.hpp"
#include "item_proxy.hpp"
#include "types.hpp"

namespace morvelan::py {

namespace {

Result<Ref> tuple_of(std::initializer_list<Ref*> items) {
    MV_ASSIGN(Ref tuple, checked(PyTuple_New(static_cast<Py_ssize_t>(items.size()))));
    Py_ssize_t i = 0;
    for (Ref* item : items)
        if (PyTuple_SetItem(tuple.get(), i++, item->release()) < 0) return Error::pending();
    return tuple;
}

Result<Ref> size_of(std::size_t n) { return checked(PyLong_FromSize_t(n)); }

Result<Ref> span_tuple(const WrittenLayout::Span& span) {
    MV_ASSIGN(Ref begin, size_of(span.begin));
    MV_ASSIGN(Ref end, size_of(span.end));
    return tuple_of({&begin, &end});
}

// A path as lookup() in _cli.py takes it: a tuple of str keys and int indices.
Result<Ref> path_tuple(const WrittenLayout& layout, WrittenLayout::Path path) {
    MV_ASSIGN(Ref tuple, checked(PyTuple_New(static_cast<Py_ssize_t>(path.size))));
    for (std::uint32_t i = 0; i < path.size; ++i) {
        const WrittenLayout::Step& step = layout.steps[path.first + i];
        MV_ASSIGN(Ref item, step.is_index ? size_of(step.index) : str_from(step.key));
        if (PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), item.release()) < 0)
            return Error::pending();
    }
    return tuple;
}

Result<Ref> new_list(std::size_t size) { return checked(PyList_New(static_cast<Py_ssize_t>(size))); }

Status set_item(const Ref& list, std::size_t i, Ref item) {
    if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release()) < 0) return Error::pending();
    return ok();
}

// _layout(doc): (text, lines, arrays) of the document written as TOML, with
// offsets in code points of text:
//   lines:  (path, table_size, begin, end) of each key/value line of a table,
//           from its key to the end of its value; path[:table_size] is the
//           table's path, the rest the line's keys;
//   arrays: (path, begin, end, [(begin, end) of each element], inline) of
//           each array in the order its "]" is written, inline when it stands
//           inside an inline table.
PyObject* fn_layout(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"doc"};
        static const Signature sig{"_layout()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        if (!is_document(a.values[0])) return wrong_type(a.values[0], "Document");
        DocumentState& s = state_of(a.values[0]);
        // Shared, as writing the text takes it; the paths' keys view the tree.
        MV_ASSIGN(LockGuard guard, LockGuard::shared(s.lock));
        root_table_item(s);
        WrittenLayout layout;
        const String written = write_document(s.tree(), &layout);
        const std::string_view view(written.data(), written.size());
        count_code_points(view, layout);

        MV_ASSIGN(Ref text, str_from(view));
        MV_ASSIGN(Ref lines, new_list(layout.lines.size()));
        for (std::size_t i = 0; i < layout.lines.size(); ++i) {
            const WrittenLayout::Line& line = layout.lines[i];
            MV_ASSIGN(Ref path, path_tuple(layout, line.path));
            MV_ASSIGN(Ref table_size, size_of(line.table_size));
            MV_ASSIGN(Ref begin, size_of(line.text.begin));
            MV_ASSIGN(Ref end, size_of(line.text.end));
            MV_ASSIGN(Ref entry, tuple_of({&path, &table_size, &begin, &end}));
            MV_CHECK(set_item(lines, i, std::move(entry)));
        }
        MV_ASSIGN(Ref arrays, new_list(layout.arrays.size()));
        for (std::size_t i = 0; i < layout.arrays.size(); ++i) {
            const WrittenLayout::ArrayPlace& array = layout.arrays[i];
            MV_ASSIGN(Ref path, path_tuple(layout, array.path));
            MV_ASSIGN(Ref begin, size_of(array.text.begin));
            MV_ASSIGN(Ref end, size_of(array.text.end));
            MV_ASSIGN(Ref elements, new_list(array.count));
            for (std::uint32_t k = 0; k < array.count; ++k) {
                MV_ASSIGN(Ref span, span_tuple(layout.elements[array.first + k]));
                MV_CHECK(set_item(elements, k, std::move(span)));
            }
            Ref in_inline = Ref::borrow(array.in_inline_table ? Py_True : Py_False);
            MV_ASSIGN(Ref entry, tuple_of({&path, &begin, &end, &elements, &in_inline}));
            MV_CHECK(set_item(arrays, i, std::move(entry)));
        }
        return tuple_of({&text, &lines, &arrays});
    });
}

// _comments(obj): the comments of the text of a Document (as_toml()) or of an
// Item (its as_toml()), in order, each from its "#" to the end of its line.
PyObject* fn_comments(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"obj"};
        static const Signature sig{"_comments()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        PyObject* obj = a.values[0];
        if (!is_document(obj) && !is_item(obj)) return wrong_type(obj, "Document or Item");
        const Place p = Place::of(obj);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const TreeItem* item, resolve(p));
        WrittenLayout layout;
        String written;
        std::size_t start = 0;
        if (is_document(obj)) {
            written = write_document(p.doc().tree(), &layout);
        } else {
            written = write_item(*item, &layout);
            start = item_text_start(p, *item, std::string_view(written.data(), written.size()));
        }
        guard.unlock();
        const std::string_view view(written.data(), written.size());
        std::size_t n = 0;
        for (const WrittenLayout::Span& c : layout.comments) n += c.begin >= start;
        MV_ASSIGN(Ref list, new_list(n));
        std::size_t i = 0;
        for (const WrittenLayout::Span& c : layout.comments) {
            if (c.begin < start) continue;
            MV_ASSIGN(Ref comment, str_from(view.substr(c.begin, c.end - c.begin)));
            MV_CHECK(set_item(list, i++, std::move(comment)));
        }
        return list;
    });
}

// _value_text(item): the TOML text of a value (not a table) without the decor
// around it; comments inside an array or inline table stay. An array of
// tables is written as an array of inline tables, as its as_toml() writes it.
PyObject* fn_value_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return frame([&]() -> Result<Ref> {
        static const char* const names[] = {"item"};
        static const Signature sig{"_value_text()", names, 1, 1, 1, 1, false, false};
        MV_ASSIGN(Args a, parse_args(sig, args, nargs, kwnames));
        if (!is_item(a.values[0])) return wrong_type(a.values[0], "Item");
        const Place p = Place::of_record(a.values[0]);
        MV_ASSIGN(LockGuard guard, LockGuard::shared(p.doc().lock));
        MV_ASSIGN(const TreeItem* item, resolve(p));
        if (item->is_table()) return type_error("_value_text() takes a value, not a table");
        WrittenLayout layout;
        const String written = write_item(*item, &layout);
        guard.unlock();
        const std::string_view view(written.data(), written.size());
        return str_from(view.substr(layout.value.begin, layout.value.end - layout.value.begin));
    });
}

PyMethodDef private_defs[] = {
    {"_layout", fastcall(fn_layout), kFastcall,
     "_layout(doc, /)\n--\n\nPrivate, for the command line: (text, lines, arrays) of the document's "
     "TOML text, offsets in code points.\n\nlines: (path, table_size, begin, end) of each key/value line "
     "of a table; arrays: (path, begin, end, elements, inline) of each array, in the order it closes."},
    {"_comments", fastcall(fn_comments), kFastcall,
     "_comments(obj, /)\n--\n\nPrivate, for the command line: the comments of the TOML text of a "
     "Document or Item, in order."},
    {"_value_text", fastcall(fn_value_text), kFastcall,
     "_value_text(item, /)\n--\n\nPrivate, for the command line: the TOML text of a value without the "
     "white space and comments around it."},
};

}  // namespace

std::span<PyMethodDef> layout_functions() noexcept { return private_defs; }

}  // namespace morvelan::py
