// Conversion between Python values and TOML tree items, and the value
// comparison of tree items.
//
// To-TOML builds a free-standing tree item (canonical spelling, default
// decor) from a Python object; copies of document values keep their
// spelling and decor and own their text (they no longer depend on the
// document they came from). To-Python builds new Python objects.
#pragma once

#include <optional>
#include <string_view>

#include "engine/datetime.hpp"
#include "engine/document.hpp"
#include "frame.hpp"
#include "key_cache.hpp"
#include "registry.hpp"

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

// To-TOML of a mapping that becomes a whole document (Document(data),
// dumps()): ValueError when its text would nest deeper than the parser
// reads back (see engine/nesting.hpp).
Result<TreeItem> mapping_to_document(PyObject* obj);

// Checks that a copy of `item` fits where the running conversion puts it:
// its levels of nesting (every table, inline table, array and array of
// tables is one, as a dict or a list is; measured without recursion) added to
// the levels the conversion has entered stay within the nesting limit, and
// the thread's C stack holds them. RecursionError otherwise. Called on the
// source item, under its document's lock, before it is copied.
Status check_copy_nesting(const TreeItem& item);

// Whether `obj` is a collections.abc.Mapping.
Result<bool> is_abc_mapping(PyObject* obj);

// The levels of nesting (at most `most`) that to_toml, started here, surely
// enters without refusing one for the nesting limit or for the C stack left
// in the thread (the stack is priced generously: a level below the figure
// may be refused when it would not be). The interpreter's recursion limit is
// not counted. For a writer that must fail where a conversion would.
int conversion_levels_left(int most) noexcept;

// Where a converted item stands in its document: the steps from the root,
// then one more key or index when the item is a child of the place the steps
// reach. It names the value in the message of a ValueError that Python's
// constructors raise for a value they cannot hold (a date in year 0, a leap
// second): "year 0 is out of range (at a.b[3].c)".
struct Where {
    const Path* path = nullptr;
    std::size_t skip = 0;  // steps of `path` that are no part of the value's path
    std::string_view key;
    std::size_t index = 0;
    enum class Last : unsigned char { None, Key, Index } last = Last::None;

    static Where at(const Path& path) noexcept { return Where{&path, 0, {}, 0, Last::None}; }
};

// To-Python of a tree item (None gives None), standing at `where`.
Result<Ref> to_python(const TreeItem& item, const Where& where = Where());

// Whether Python's date, time and datetime classes hold the date-time (the
// fields in their ranges, an offset of less than a day): to_python then
// converts it without an error.
bool python_holds(const Datetime& dt) noexcept;
// To-Python of a date-time; null with an error set on failure.
Ref datetime_object(const Datetime& dt);

// Whether to_python can convert a value nested `levels` deep here, with the
// nesting limit, the thread's C stack and the interpreter's recursion limit
// as they are now (no error is left set).
bool nesting_fits(int levels);

// Holds the cyclic collector off for a scope (however the scope is left),
// when it was on.
class CollectorPause {
public:
    CollectorPause() noexcept : collecting_(PyGC_Disable() != 0) {}
    ~CollectorPause() {
        if (collecting_) PyGC_Enable();
    }
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;

private:
    bool collecting_;
};

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
// The same once datetime_api() imported them, else null (imports nothing).
const DatetimeApi* loaded_datetime_api() noexcept;

}  // namespace morvelan::py
