// Conversion between Python values and TOML tree items, and the value
// comparison of tree items.
//
// To-TOML builds a free-standing tree item (canonical spelling, default
// decor) from a Python object; copies of document values keep their
// spelling and decor and own their text (they no longer depend on the
// document they came from). To-Python builds new Python objects.
#pragma once

#include <optional>

#include "engine/document.hpp"
#include "frame.hpp"

namespace morvelan::py {

// To-TOML of any Python object: a Value, a Table (mappings) or an
// ArrayOfTables (non-empty lists of mappings).
Result<TreeItem> to_toml(PyObject* obj);

// To-TOML of the mapping a function was given to write or to hold (dumps(),
// dump(), Document()): as mapping_to_table, after a check that `obj` is one
// (a dict, or an object with items()); anything else is a TypeError
// "{function} takes {what}, not {type}".
Result<TreeItem> mapping_argument(PyObject* obj, const char* function, const char* what);

// Whether `e` is the ValueError of to_toml() for a datetime whose UTC offset
// has seconds or microseconds, which no TOML value has: a value that equals
// nothing, as one that cannot be converted at all.
bool is_sub_minute_offset(const Error& e) noexcept;

// To-TOML of a mapping: an exact dict directly, anything else through its
// items(). The result is a Table; the mapping is a level of nesting (at the
// top of Document(data) and dumps() too).
Result<TreeItem> mapping_to_table(PyObject* obj);

// Checks that a copy of `item` fits where the running conversion puts it:
// its levels of nesting (every table, inline table, array and array of
// tables is one, as a dict or a list is; measured without recursion) added to
// the levels the conversion has entered stay within the nesting limit, and
// the thread's C stack holds them. RecursionError otherwise. Called on the
// source item, under its document's lock, before it is copied.
Status check_copy_nesting(const TreeItem& item);

// Whether `obj` is a collections.abc.Mapping.
Result<bool> is_abc_mapping(PyObject* obj);

// To-Python of a tree item (None gives None).
Result<Ref> to_python(const TreeItem& item);

// The Python `datetime`, `date` and `time` classes and `timezone`/`timedelta`,
// imported once.
struct DatetimeApi {
    PyObject* datetime_type;
    PyObject* date_type;
    PyObject* time_type;
    PyObject* timezone_type;
    PyObject* timedelta_type;
};
Result<const DatetimeApi*> datetime_api();

}  // namespace morvelan::py
