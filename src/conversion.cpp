// Conversion between Python values and TOML tree items.
//
// To-TOML tests the Python type in a fixed order (exact built-in scalars
// first, then documents, mappings, lists, the datetime classes and finally
// subclasses of the built-in scalars) and builds a free-standing tree item.
// To-Python walks a tree item and builds new Python objects; it is on the
// path of every `value` read, so it avoids attribute lookups and builds
// containers directly.
//
// Both directions recurse through Py_EnterRecursiveCall, so nesting deeper
// than the interpreter's recursion limit (a list that contains itself, say)
// raises RecursionError instead of exhausting the C stack; the nesting depth
// and the C stack left in the thread are capped as well (see RecursionGuard).
#include "conversion.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.hpp"
#include "document.hpp"
#include "edit/list_ops.hpp"
#include "engine/array.hpp"
#include "engine/array_of_tables.hpp"
#include "engine/datetime.hpp"
#include "engine/decoder.hpp"
#include "engine/nesting.hpp"
#include "engine/packed.hpp"
#include "engine/string.hpp"
#include "engine/table.hpp"
#include "engine/thread_stack.hpp"
#include "item_proxy.hpp"

namespace morvelan::py {

namespace {

constexpr const char* kToTomlWhere = " while converting to TOML";
constexpr const char* kToPythonWhere = " while converting to Python";

// ---------------------------------------------------------------------------
// Nesting limits
//
// A conversion counts its levels of nesting the way Python nests values: a
// dict or a list is one level, so a dict inside a dict is two. A tree item
// copied from a document counts the same way: every table, inline table,
// array and array of tables is one level (it stands where a dict or a list
// would), scalars count nothing. So an array of tables of plain tables is two
// levels, as the list of dicts it converts to and from is, and a document's
// root table is one level, as the mapping it was built from was.
//
// Besides the interpreter's recursion limit, which a program may raise beyond
// what the C stack holds, a conversion caps the nesting of the tree it builds
// at kMaxDepth levels, and refuses a level when the thread's C stack is
// running out.
constexpr int kMaxDepth = 1000;

// Calibration of the C stack check. One level of conversion takes about
// 1,200 bytes of stack in release builds and 6,460 with the sanitizers for
// to-TOML of a dict inside a dict (a list: 690 and 6,180), and 220 and 770
// for to-Python of a table (an array: 450 and 1,140). The reserve is what a
// level must leave for the work it does without entering the next one:
// Python code it calls (a tzinfo's utcoffset(), a mapping's items(), the
// Mapping ABC check, the unraisable hook printing a traceback: up to 12 KiB
// in release builds and 16 KiB with the sanitizers in the worst case seen)
// and the engine's table inserts. It is a quarter of the thread's stack,
// within [kMinReserve, kMaxReserve]. kLevelBytes prices a level of a copied
// subtree, which the engine copies, detaches and frees recursively: about 190
// bytes a level in release builds and 1,550 with the sanitizers, priced at
// more than twice that. Builds with the sanitizers (kLargeFrames) get the
// larger figures.
constexpr std::size_t kLevelBytes = kLargeFrames ? 4096 : 512;
constexpr std::size_t kMinReserve = kLargeFrames ? 64 * 1024 : 24 * 1024;
constexpr std::size_t kMaxReserve = kLargeFrames ? 1024 * 1024 : 256 * 1024;
constexpr std::size_t kReserveDivisor = 4;

// The stack a thread's conversions keep free: a quarter of its stack,
// within [kMinReserve, kMaxReserve].
std::size_t reserve_of(const ThreadStack& s) noexcept {
    return s.known() ? std::clamp(s.size() / kReserveDivisor, kMinReserve, kMaxReserve) : 0;
}

// What the conversions of a thread keep: the levels entered, and the
// thread's stack with the reserve kept on it. One record, so a level costs
// one thread-local lookup.
struct ConversionThread {
    int depth = 0;
    const ThreadStack* stack = nullptr;
    std::size_t reserve = 0;

    const ThreadStack& thread_stack() noexcept {
        if (!stack) {
            stack = &this_thread_stack();
            reserve = reserve_of(*stack);
        }
        return *stack;
    }
};

ConversionThread& this_thread() noexcept {
    thread_local ConversionThread t;
    return t;
}

// The two refusals, as PyErr_Format formats taking the place of the
// conversion ("while converting to TOML").
constexpr const char* kNestingMessage = "maximum TOML nesting depth (%d) exceeded%s";
constexpr const char* kStackMessage =
    "maximum TOML nesting depth exceeded%s: not enough C stack left in this thread";

// One level of recursion of a conversion; `ok()` is false when the level is
// refused (RecursionError is then set): the nesting limit is reached, the
// thread's stack is down to its reserve, or the interpreter's recursion limit
// is reached.
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) noexcept : RecursionGuard(where, this_thread()) {}
    // For a conversion that looked its thread's record up once already.
    RecursionGuard(const char* where, ConversionThread& thread) noexcept : thread_(thread) {
        if (thread_.depth >= kMaxDepth) {
            PyErr_Format(PyExc_RecursionError, kNestingMessage, kMaxDepth, where);
            return;
        }
        if (stack_left(thread_.thread_stack()) < thread_.reserve) {
            PyErr_Format(PyExc_RecursionError, kStackMessage, where);
            return;
        }
        entered_ = Py_EnterRecursiveCall(where) == 0;
        if (entered_) ++thread_.depth;
    }
    ~RecursionGuard() {
        if (entered_) {
            Py_LeaveRecursiveCall();
            --thread_.depth;
        }
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
    bool ok() const noexcept { return entered_; }

private:
    ConversionThread& thread_;
    bool entered_ = false;
};

// The levels of nesting of `item` as counted above, or any number above
// `cap` once it is known to be deeper than that. The walk keeps its own
// stack of open containers (at most cap + 1 of them), so a tree far deeper
// than the C stack could recurse is measured all the same.
int nesting_of(const TreeItem& item, int cap) {
    struct Open {
        const TreeItem* item;
        std::size_t next;  // index of the next child to look at
    };
    const auto child = [](const TreeItem& parent, std::size_t i) -> const TreeItem* {
        switch (parent.kind()) {
            case ItemKind::Table:
            case ItemKind::InlineTable: {
                const auto& entries = parent.as_table().entries;
                return i < entries.size() ? &entries.at(i).item : nullptr;
            }
            case ItemKind::Array: {
                // A packed run holds scalars only: only the items after it
                // can nest.
                const auto& values = parent.as_array().stored_items();
                return i < values.size() ? &values[i] : nullptr;
            }
            case ItemKind::ArrayOfTables: {
                const auto& values = parent.as_array_of_tables().values;
                return i < values.size() ? &values[i] : nullptr;
            }
            default: return nullptr;
        }
    };
    const auto is_container = [](const TreeItem& t) {
        return t.is_table_like() || t.is_array() || t.is_array_of_tables();
    };
    if (!is_container(item)) return 0;
    int deepest = 1;
    if (deepest > cap) return deepest;
    Vector<Open> open;
    open.push_back({&item, 0});
    while (!open.empty()) {
        const TreeItem* next = child(*open.back().item, open.back().next++);
        if (!next) {
            open.pop_back();
            continue;
        }
        if (!is_container(*next)) continue;
        const int level = static_cast<int>(open.size()) + 1;
        if (level > deepest) {
            deepest = level;
            if (deepest > cap) return deepest;
        }
        open.push_back({next, 0});
    }
    return deepest;
}

inline PyTypeObject* as_type(PyObject* o) noexcept { return reinterpret_cast<PyTypeObject*>(o); }

// ---------------------------------------------------------------------------
// Per-process caches (filled under the interpreter lock, never freed)

// collections.abc.Mapping.
Result<PyObject*> mapping_abc() {
    static PyObject* cached = nullptr;
    if (cached) return cached;
    MV_ASSIGN(Ref module, checked(PyImport_ImportModule("collections.abc")));
    MV_ASSIGN(Ref mapping, checked(PyObject_GetAttrString(module.get(), "Mapping")));
    // The import may have let another thread fill the cache meanwhile.
    if (!cached) cached = mapping.release();
    return cached;
}

// isinstance(obj, collections.abc.Mapping); an exception raised by the check
// itself goes to the unraisable hook and counts as false. RecursionError is
// the exception: the check runs Python code, so near the recursion limit of
// a deeply nested value it fails for the depth, which the conversion as a
// whole reports.

// ---------------------------------------------------------------------------
// Python scalars to TOML

Result<TreeItem> string_item(PyObject* s) {
    Py_ssize_t n = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s, &n);
    if (!data) return Error::pending();  // lone surrogates: UnicodeEncodeError
    return TreeItem::string(std::string_view(data, static_cast<std::size_t>(n)));
}

Result<TreeItem> integer_item(PyObject* i) {
    // The interpreter's own OverflowError for a 64-bit conversion. `long`
    // is 64 bits wide on the platforms built for; its conversion gives the
    // message "Python int too large to convert to C long".
    std::int64_t v;
    if constexpr (sizeof(long) == sizeof(std::int64_t)) {
        long x = PyLong_AsLong(i);
        if (x == -1 && PyErr_Occurred()) return Error::pending();
        v = x;
    } else {
        long long x = PyLong_AsLongLong(i);
        if (x == -1 && PyErr_Occurred()) return Error::pending();
        v = x;
    }
    return TreeItem::integer(v);
}

Result<TreeItem> float_item(PyObject* f) {
    double d = PyFloat_AsDouble(f);
    if (d == -1.0 && PyErr_Occurred()) return Error::pending();
    return TreeItem::floating(d);
}

// ---------------------------------------------------------------------------
// datetime, date and time to TOML

// Attribute names, interned once: looking them up as C strings would build a
// new str for every value converted.
enum Name {
    kYear,
    kMonth,
    kDay,
    kHour,
    kMinute,
    kSecond,
    kMicrosecond,
    kUtcoffset,
    kDays,
    kSeconds,
    kMicroseconds,
    kNameCount
};
constexpr const char* kNameText[kNameCount] = {"year",   "month",   "day",         "hour",
                                               "minute", "second",  "microsecond", "utcoffset",
                                               "days",   "seconds", "microseconds"};

Result<PyObject*> name(Name n) {
    static PyObject* names[kNameCount] = {};
    if (!names[n]) {
        names[n] = PyUnicode_InternFromString(kNameText[n]);
        if (!names[n]) return Error::pending();
    }
    return names[n];
}

Result<Ref> attr(PyObject* o, Name n) {
    MV_ASSIGN(PyObject * key, name(n));
    return checked(PyObject_GetAttr(o, key));
}

// An integer attribute (`year`, `hour`, ...) of a date or time object, which
// must lie in [lo, hi] (it does for the standard classes; a subclass may
// override the attribute).
Result<long> int_attr(PyObject* o, Name n, long lo, long hi) {
    MV_ASSIGN(Ref v, attr(o, n));
    long x = PyLong_AsLong(v.get());
    if (x == -1 && PyErr_Occurred()) return Error::pending();
    if (x < lo || x > hi)
        return value_error(std::string(kNameText[n]) + " " + std::to_string(x) + " is out of range");
    return x;
}

Result<Date> date_of(PyObject* o) {
    Date d;
    MV_ASSIGN(const long year, int_attr(o, kYear, 1, 9999));
    MV_ASSIGN(const long month, int_attr(o, kMonth, 1, 12));
    MV_ASSIGN(const long day, int_attr(o, kDay, 1, 31));
    d.year = static_cast<std::uint16_t>(year);
    d.month = static_cast<std::uint8_t>(month);
    d.day = static_cast<std::uint8_t>(day);
    return d;
}

Result<Time> time_of(PyObject* o) {
    Time t;
    MV_ASSIGN(const long hour, int_attr(o, kHour, 0, 23));
    MV_ASSIGN(const long minute, int_attr(o, kMinute, 0, 59));
    MV_ASSIGN(const long second, int_attr(o, kSecond, 0, 59));
    t.hour = static_cast<std::uint8_t>(hour);
    t.minute = static_cast<std::uint8_t>(minute);
    t.second = static_cast<std::uint8_t>(second);
    MV_ASSIGN(long micro, int_attr(o, kMicrosecond, 0, 999999));
    if (micro != 0) t.nanosecond = static_cast<std::uint32_t>(micro) * 1000u;
    return t;
}

// The start of the message that refuses an offset with seconds.
constexpr std::string_view kSubMinuteOffset = "UTC offset ";

// An integer attribute of a timedelta.
Result<long long> delta_part(PyObject* delta, Name n) {
    MV_ASSIGN(Ref v, attr(delta, n));
    const long long x = PyLong_AsLongLong(v.get());
    if (x == -1 && PyErr_Occurred()) return Error::pending();
    return x;
}

// An offset of `micros` microseconds as isoformat() writes it: +HH:MM:SS,
// with .ffffff when there are microseconds.
std::string offset_text(long long micros) {
    const char sign = micros < 0 ? '-' : '+';
    const long long m = micros < 0 ? -micros : micros;
    const long long secs = m / 1000000;
    char text[32];
    if (m % 1000000)
        std::snprintf(text, sizeof text, "%c%02lld:%02lld:%02lld.%06lld", sign, secs / 3600, secs / 60 % 60,
                      secs % 60, m % 1000000);
    else
        std::snprintf(text, sizeof text, "%c%02lld:%02lld:%02lld", sign, secs / 3600, secs / 60 % 60,
                      secs % 60);
    return text;
}

// The result of `o.utcoffset()`: nothing for None, else the offset in
// minutes. TOML writes an offset in whole minutes: one with seconds or
// microseconds would be written as a different instant, so it is refused
// (ValueError) where `whole_minutes` asks for the minutes.
Result<std::optional<Offset>> offset_of(PyObject* o, const DatetimeApi& api, bool whole_minutes) {
    MV_ASSIGN(PyObject * method, name(kUtcoffset));
    MV_ASSIGN(Ref r, checked(PyObject_CallMethodObjArgs(o, method, nullptr)));
    if (r.get() == Py_None) return std::optional<Offset>();
    if (!PyObject_TypeCheck(r.get(), as_type(api.timedelta_type))) return wrong_type(r.get(), "timedelta");
    // A timedelta keeps 0 <= seconds < 86400 and 0 <= microseconds < 10**6.
    MV_ASSIGN(const long long days, delta_part(r.get(), kDays));
    MV_ASSIGN(const long long seconds, delta_part(r.get(), kSeconds));
    MV_ASSIGN(const long long micros, delta_part(r.get(), kMicroseconds));
    // The standard classes check this range; an overriding utcoffset() may not.
    const long long total = (days * 86400 + seconds) * 1000000 + micros;
    if (total <= -86400LL * 1000000 || total >= 86400LL * 1000000) {
        return value_error(
            "offset must be a timedelta strictly between -timedelta(hours=24) and timedelta(hours=24)");
    }
    if (whole_minutes && (seconds % 60 != 0 || micros != 0)) {
        return value_error(std::string(kSubMinuteOffset) + offset_text(total) +
                           " is not a whole number of minutes: a TOML offset has hours and minutes only");
    }
    return std::optional<Offset>(Offset::custom(static_cast<std::int16_t>(days * 1440 + seconds / 60)));
}

Result<TreeItem> datetime_item(PyObject* o, const DatetimeApi& api) {
    Datetime dt;
    MV_ASSIGN(dt.date, date_of(o));
    MV_ASSIGN(dt.time, time_of(o));
    MV_ASSIGN(dt.offset, offset_of(o, api, true));
    return TreeItem::datetime(dt);
}

Result<TreeItem> date_item(PyObject* o) {
    Datetime dt;
    MV_ASSIGN(dt.date, date_of(o));
    return TreeItem::datetime(dt);
}

Result<TreeItem> time_item(PyObject* o, const DatetimeApi& api) {
    // Any offset is refused, whole minutes or not.
    MV_ASSIGN(std::optional<Offset> offset, offset_of(o, api, false));
    if (offset) return type_error("TOML local times cannot have timezone information");
    Datetime dt;
    MV_ASSIGN(dt.time, time_of(o));
    return TreeItem::datetime(dt);
}

// ---------------------------------------------------------------------------
// Lists to TOML

Result<TreeItem> list_to_toml(PyObject* list) {
    Elements items;
    if (PyList_CheckExact(list)) {
        // Converting an element may run Python code that shrinks the list:
        // read while the index is below both the initial and current length.
        Py_ssize_t initial = PyList_Size(list);
        items.reserve(static_cast<std::size_t>(initial));
        for (Py_ssize_t i = 0; i < initial && i < PyList_Size(list); ++i) {
            Ref element = Ref::borrow(PyList_GetItem(list, i));
            if (!element) return Error::pending();
            MV_ASSIGN(TreeItem item, to_toml(element.get()));
            items.push_back(std::move(item));
        }
    } else {
        Py_ssize_t n = PySequence_Size(list);
        if (n < 0) return Error::pending();
        items.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            MV_ASSIGN(Ref element, checked(PySequence_GetItem(list, i)));
            MV_ASSIGN(TreeItem item, to_toml(element.get()));
            items.push_back(std::move(item));
        }
    }

    bool all_tables = !items.empty();
    for (const TreeItem& item : items) {
        if (!item.is_table_like()) {
            all_tables = false;
            break;
        }
    }
    if (all_tables) {
        for (TreeItem& item : items) item = as_member_table(std::move(item));
        TreeItem aot = TreeItem::array_of_tables();
        aot.as_array_of_tables().values = std::move(items);
        return aot;
    }
    // Inside an array, tables become inline tables and arrays of tables
    // arrays of inline tables.
    // A new array has a layout of its own: copied values leave the decor of
    // their old place behind.
    for (TreeItem& item : items) {
        if (item.is_table() || item.is_array_of_tables()) item.convert_to_value();
        item.decor().clear();
    }
    TreeItem array = TreeItem::array();
    array.as_array().items() = std::move(items);
    return array;
}

// ---------------------------------------------------------------------------
// Mappings to TOML

// The text of a mapping key: a str, or a handle on a string value (whose
// text is copied into `storage`).
Result<std::string_view> key_text(PyObject* key, std::string& storage) {
    if (PyUnicode_Check(key)) {
        Py_ssize_t n = 0;
        const char* data = PyUnicode_AsUTF8AndSize(key, &n);
        if (!data) return Error::pending();
        return std::string_view(data, static_cast<std::size_t>(n));
    }
    MV_ASSIGN(const bool handle, handle_string(key, storage));
    if (handle) return std::string_view(storage);
    return type_error("keys must be strings");
}

// Converts one (key, value) pair and stores it in `table`; a key already
// present keeps its place and takes the new value.
Status insert_pair(TreeItem& table, PyObject* key, PyObject* value) {
    std::string storage;
    MV_ASSIGN(std::string_view text, key_text(key, storage));  // valid while `key` lives
    MV_ASSIGN(TreeItem item, to_toml(value));
    table.as_table().insert(text, std::move(item), false);
    return ok();
}

// Unpacks one element of `items()` into a (key, value) pair, as `k, v = elem`
// would, with the interpreter's messages.
Status unpack_pair(PyObject* elem, Ref& key, Ref& value) {
    if (PyTuple_CheckExact(elem) && PyTuple_Size(elem) == 2) {
        key = Ref::borrow(PyTuple_GetItem(elem, 0));
        value = Ref::borrow(PyTuple_GetItem(elem, 1));
        return ok();
    }
    Ref it = Ref::steal(PyObject_GetIter(elem));
    if (!it) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return Error::pending();
        PyErr_Clear();
        return type_error("cannot unpack non-iterable " + type_name(elem) + " object");
    }
    Ref* parts[2] = {&key, &value};
    for (int i = 0; i < 2; ++i) {
        *parts[i] = Ref::steal(PyIter_Next(it.get()));
        if (!*parts[i]) {
            if (PyErr_Occurred()) return Error::pending();
            return value_error("not enough values to unpack (expected 2, got " + std::to_string(i) + ")");
        }
    }
    Ref extra = Ref::steal(PyIter_Next(it.get()));
    if (extra) return value_error("too many values to unpack (expected 2)");
    if (PyErr_Occurred()) return Error::pending();
    return ok();
}

// Keys of a dict in iteration order, from a given place on, each held by a
// strong reference (so that no other object can take the address of one the
// dict drops). Small records, the common case, need no allocation.
class RecordedKeys {
public:
    RecordedKeys() noexcept = default;
    RecordedKeys(const RecordedKeys&) = delete;
    RecordedKeys& operator=(const RecordedKeys&) = delete;
    ~RecordedKeys() {
        for (Py_ssize_t i = 0; i < held_; ++i) Py_DECREF(keys_[i]);
    }

    // Records the `count` keys of `dict` that follow the iteration position
    // `pos`.
    void fill(PyObject* dict, Py_ssize_t pos, Py_ssize_t count) {
        if (count > kSmall) {
            large_.reserve(static_cast<std::size_t>(count));
            keys_ = large_.data();
        }
        PyObject* value = nullptr;
        while (held_ < count && PyDict_Next(dict, &pos, &keys_[held_], &value)) Py_INCREF(keys_[held_++]);
    }
    // The `i`th recorded key (from 0); null when there is none.
    PyObject* at(Py_ssize_t i) const noexcept { return i < held_ ? keys_[i] : nullptr; }

private:
    static constexpr Py_ssize_t kSmall = 8;
    Py_ssize_t held_ = 0;  // keys_[0, held_) are owned references
    PyObject* small_[kSmall];
    PyObject** keys_ = small_;
    Vector<PyObject*> large_;  // storage (reserved, not sized) for a larger record
};

// Whether converting the pair (key, value) can run no Python code and cannot
// release the interpreter lock: a str key and a value of an exact built-in
// scalar type (failures aside, which end the conversion).
bool inert_pair(PyObject* key, PyObject* value) noexcept {
    return (PyUnicode_CheckExact(key) || PyUnicode_Check(key)) &&
           (PyUnicode_CheckExact(value) || PyLong_CheckExact(value) || PyFloat_CheckExact(value) ||
            Py_IS_TYPE(value, &PyBool_Type));
}

Result<TreeItem> dict_to_table(PyObject* dict) {
    // Converting a pair can run Python code (a tzinfo's utcoffset(), a nested
    // mapping's items(), a wait for a handle's document) that changes this
    // dict. Its size is checked before every step and once more after the
    // last value. A change of keys that keeps the size (one deleted, one
    // added) shows as a key that is not the one found at that place at the
    // start: before the first pair that can run Python code, the keys after
    // it are recorded, and each later step compares its key with the record.
    // Until then nothing can have changed the dict, so dicts of scalars, the
    // common case, record nothing. The record also keeps the later keys
    // alive while their values are converted; `key` keeps the one of the
    // step that records them.
    const Py_ssize_t initial = PyDict_Size(dict);
    TreeItem table = TreeItem::table();
    RecordedKeys later;
    Py_ssize_t recorded_from = -1;  // the place of the first recorded key
    Py_ssize_t pos = 0, seen = 0;
    PyObject *k = nullptr, *v = nullptr;
    for (;;) {
        if (PyDict_Size(dict) != initial) return runtime_error("dictionary changed size during iteration");
        if (!PyDict_Next(dict, &pos, &k, &v)) break;
        Ref key;
        if (recorded_from >= 0) {
            if (k != later.at(seen - recorded_from))
                return runtime_error("dictionary keys changed during iteration");
        } else if (!inert_pair(k, v)) {
            later.fill(dict, pos, initial - seen - 1);
            recorded_from = seen + 1;
            key = Ref::borrow(k);
        }
        ++seen;
        Ref value = Ref::borrow(v);
        MV_CHECK(insert_pair(table, k, value.get()));
    }
    if (seen != initial) return runtime_error("dictionary keys changed during iteration");
    return table;
}

Result<TreeItem> items_to_table(PyObject* mapping) {
    MV_ASSIGN(Ref items, checked(PyMapping_Items(mapping)));
    TreeItem table = TreeItem::table();
    // `items` may be a list the mapping itself holds (items() returning a
    // list is passed through): read it by index against its current size.
    for (Py_ssize_t i = 0; i < PyList_Size(items.get()); ++i) {
        Ref elem = Ref::borrow(PyList_GetItem(items.get(), i));
        if (!elem) return Error::pending();
        Ref key, value;
        MV_CHECK(unpack_pair(elem.get(), key, value));
        MV_CHECK(insert_pair(table, key.get(), value.get()));
    }
    return table;
}

// ---------------------------------------------------------------------------
// TOML to Python. A null Ref means that a Python exception is set.

}  // namespace

Ref str_object(std::string_view s) {
    return Ref::steal(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

namespace {

// A step from a container to the child whose conversion failed: a key (a
// view into the tree, which the conversion holds) or an index.
struct FailedStep {
    std::string_view key;
    std::size_t index = 0;
    bool is_key = false;
};

// One conversion: its key cache, its thread's record (looked up once, not at
// every level) and, after a failure, the steps from the converted item down
// to the value that failed, innermost first.
struct ToPython {
    ConversionThread& thread;
    KeyCache keys;
    std::vector<FailedStep> failed;

    // Records the step to a child whose conversion failed. The exception is
    // already set; a failure to record leaves it as it is.
    void fail_at(FailedStep step) noexcept {
        try {
            failed.push_back(step);
        } catch (...) {
        }
    }
};

Ref py_value(const TreeItem& item, ToPython& cx);

Ref py_table(const Table& table, ToPython& cx) {
    RecursionGuard guard(kToPythonWhere, cx.thread);
    if (!guard.ok()) return {};
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return {};
    for (const Entry& e : table.entries) {
        if (e.item.is_none()) continue;
        Ref key = cx.keys.key(e.key.text());
        if (!key) return {};
        Ref value = py_value(e.item, cx);
        if (!value) {
            cx.fail_at(FailedStep{e.key.text(), 0, true});
            return {};
        }
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return {};
    }
    return dict;
}

// A list of `n` items, each given by `next()`.
template <class Next>
Ref py_list(std::size_t n, Next&& next, ToPython& cx) {
    RecursionGuard guard(kToPythonWhere, cx.thread);
    if (!guard.ok()) return {};
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) return {};
    for (std::size_t i = 0; i < n; ++i) {
        Ref value = py_value(*next(), cx);
        if (!value) {
            cx.fail_at(FailedStep{{}, i, false});
            return {};
        }
        // Steals the reference, even on failure.
        if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), value.release()) < 0) return {};
    }
    return list;
}

// ---------------------------------------------------------------------------
// Date-times to Python
//
// The classes are called with the state their objects pickle to (a bytes
// object packing the fields, and the tzinfo), which they read without parsing
// arguments: about three times faster than passing the fields one by one. The
// state is not checked by the classes, so it is used only for fields in the
// ranges they accept; others (a leap second, year 0) take the plain call,
// which raises their ValueError.

// The tzinfo of an offset of less than a day either way:
// timezone(timedelta(seconds=...)), made once per process for each offset
// met (at most 2,879 of them) and kept. Offset 0 gives timezone.utc.
constexpr int kDayMinutes = 24 * 60;

Ref py_zone(int minutes, const DatetimeApi& api) {
    static PyObject* zones[2 * kDayMinutes - 1] = {};  // owned references
    PyObject*& zone = zones[minutes + kDayMinutes - 1];
    if (zone) return Ref::borrow(zone);
    Ref delta = Ref::steal(PyObject_CallFunction(api.timedelta_type, "iii", 0, minutes * 60, 0));
    if (!delta) return {};
    Ref tz = Ref::steal(PyObject_CallFunction(api.timezone_type, "O", delta.get()));
    if (!tz) return {};
    // The calls may have let another thread fill the slot meanwhile.
    if (!zone) zone = Ref(tz).release();
    return tz;
}

// Whether the classes accept the fields as they are.
bool python_date(const Date& d) noexcept {
    return d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= days_in_month(d.year, d.month);
}
bool python_time(const Time& t) noexcept {
    return t.hour < 24 && t.minute < 60 && (!t.second || *t.second < 60) &&
           (!t.nanosecond || *t.nanosecond < 1000000000u);
}

void put_date(unsigned char* out, const Date& d) noexcept {
    out[0] = static_cast<unsigned char>(d.year >> 8);
    out[1] = static_cast<unsigned char>(d.year & 0xff);
    out[2] = d.month;
    out[3] = d.day;
}
void put_time(unsigned char* out, const Time& t) noexcept {
    const std::uint32_t micro = t.nanosecond ? *t.nanosecond / 1000 : 0;
    out[0] = t.hour;
    out[1] = t.minute;
    out[2] = t.second ? *t.second : 0;
    out[3] = static_cast<unsigned char>(micro >> 16);
    out[4] = static_cast<unsigned char>((micro >> 8) & 0xff);
    out[5] = static_cast<unsigned char>(micro & 0xff);
}

// cls(state) or cls(state, tz).
Ref from_state(PyObject* cls, const unsigned char* state, std::size_t size, PyObject* tz) {
    Ref bytes = Ref::steal(
        PyBytes_FromStringAndSize(reinterpret_cast<const char*>(state), static_cast<Py_ssize_t>(size)));
    if (!bytes) return {};
    return Ref::steal(PyObject_CallFunctionObjArgs(cls, bytes.get(), tz, nullptr));
}

// The plain call with the fields one by one.
Ref py_datetime_fields(const Datetime& dt, const DatetimeApi& api) {
    if (!dt.time) {
        const Date& d = *dt.date;
        return Ref::steal(PyObject_CallFunction(api.date_type, "iii", int(d.year), int(d.month), int(d.day)));
    }
    const Time& t = *dt.time;
    int second = t.second ? int(*t.second) : 0;
    int micro = t.nanosecond ? int(*t.nanosecond / 1000) : 0;
    if (!dt.date) {
        return Ref::steal(PyObject_CallFunction(api.time_type, "iiiiO", int(t.hour), int(t.minute), second,
                                                micro, Py_None));
    }
    const Date& d = *dt.date;
    Ref tz = Ref::borrow(Py_None);
    if (dt.offset) {
        const int minutes = dt.offset->kind == Offset::Kind::Z ? 0 : int(dt.offset->minutes);
        if (minutes > -kDayMinutes && minutes < kDayMinutes) {
            tz = py_zone(minutes, api);
        } else {
            // timezone() refuses it with its ValueError.
            Ref delta = Ref::steal(PyObject_CallFunction(api.timedelta_type, "iii", 0, minutes * 60, 0));
            if (!delta) return {};
            tz = Ref::steal(PyObject_CallFunction(api.timezone_type, "O", delta.get()));
        }
        if (!tz) return {};
    }
    return Ref::steal(PyObject_CallFunction(api.datetime_type, "iiiiiiiO", int(d.year), int(d.month),
                                            int(d.day), int(t.hour), int(t.minute), second, micro, tz.get()));
}

}  // namespace

Ref datetime_object(const Datetime& dt) {
    if (!dt.date && !dt.time) {
        String text;
        append_datetime(text, dt);
        return str_object(std::string_view(text.data(), text.size()));
    }
    Result<const DatetimeApi*> api_r = datetime_api();
    if (!api_r.ok()) return {};
    const DatetimeApi& api = *api_r.value();
    const int offset = dt.offset && dt.offset->kind == Offset::Kind::Custom ? int(dt.offset->minutes) : 0;
    if ((dt.date && !python_date(*dt.date)) || (dt.time && !python_time(*dt.time)) ||
        offset <= -kDayMinutes || offset >= kDayMinutes)
        return py_datetime_fields(dt, api);
    unsigned char state[10];
    if (!dt.time) {
        put_date(state, *dt.date);
        return from_state(api.date_type, state, 4, nullptr);
    }
    if (!dt.date) {
        put_time(state, *dt.time);
        return from_state(api.time_type, state, 6, nullptr);
    }
    put_date(state, *dt.date);
    put_time(state + 4, *dt.time);
    if (!dt.offset) return from_state(api.datetime_type, state, 10, nullptr);
    Ref tz = py_zone(offset, api);
    if (!tz) return {};
    return from_state(api.datetime_type, state, 10, tz.get());
}

namespace {

// ---------------------------------------------------------------------------
// Packed arrays of plain elements (see PlainElements): read straight from
// their text into the list, without a parser or a tree item per element.

// The list of a packed array of `n` plain elements; a null Ref with no
// exception set when an element is not plain (or the text does not hold `n`
// elements). An element that fails to convert is recorded in `cx`.
Ref py_plain_list(std::string_view text, std::size_t n, bool& failed, ToPython& cx) {
    failed = false;
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) {
        failed = true;
        return {};
    }
    PlainElements elements(text);
    for (std::size_t i = 0;; ++i) {
        const PlainElements::Element e = elements.next();
        if (e.kind == PlainElements::Kind::End) return i == n ? list : Ref();
        if (e.kind == PlainElements::Kind::Other || i == n) return {};
        Ref value;
        if (e.kind == PlainElements::Kind::String) {
            value = str_object(e.text);
        } else {
            switch (e.scalar.kind) {
                case ScalarKind::Integer: value = Ref::steal(PyLong_FromLongLong(e.scalar.integer)); break;
                case ScalarKind::Float: value = Ref::steal(PyFloat_FromDouble(e.scalar.floating)); break;
                case ScalarKind::Boolean: value = Ref::borrow(e.scalar.boolean ? Py_True : Py_False); break;
                case ScalarKind::Datetime: value = datetime_object(e.scalar.datetime); break;
            }
        }
        if (!value) {
            failed = true;
            cx.fail_at(FailedStep{{}, i, false});
            return {};
        }
        // Steals the reference, even on failure.
        if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), value.release()) < 0) {
            failed = true;
            return {};
        }
    }
}

// A scalar (or None) as its Python value.
Ref py_scalar(const TreeItem& item) {
    switch (item.kind()) {
        case ItemKind::String: return str_object(item.as_string());
        case ItemKind::Integer: return Ref::steal(PyLong_FromLongLong(item.as_integer()));
        case ItemKind::Float: return Ref::steal(PyFloat_FromDouble(item.as_float()));
        case ItemKind::Boolean: return Ref::borrow(item.as_bool() ? Py_True : Py_False);
        case ItemKind::Datetime: return datetime_object(item.as_datetime());
        default: return Ref::borrow(Py_None);
    }
}

Ref py_value(const TreeItem& item, ToPython& cx) {
    switch (item.kind()) {
        case ItemKind::None:
        case ItemKind::String:
        case ItemKind::Integer:
        case ItemKind::Float:
        case ItemKind::Boolean:
        case ItemKind::Datetime: return py_scalar(item);
        case ItemKind::Array: {
            const Array& array = item.as_array();
            if (array.packed() && array.stored_items().empty()) {
                // A level of nesting, left before the fallback enters its own.
                RecursionGuard guard(kToPythonWhere, cx.thread);
                if (!guard.ok()) return {};
                bool failed = false;
                Ref list = py_plain_list(array.packed_text(), array.size(), failed, cx);
                if (list || failed) return list;
            }
            // Any other packed array is decoded element by element, never unpacked.
            ElementReader elements(item.as_array());
            return py_list(
                item.as_array().size(), [&] { return elements.next(); }, cx);
        }
        case ItemKind::InlineTable:
        case ItemKind::Table: return py_table(item.as_table(), cx);
        case ItemKind::ArrayOfTables: {
            const TreeItem* member = item.as_array_of_tables().values.data();
            return py_list(
                item.as_array_of_tables().values.size(), [&] { return member++; }, cx);
        }
    }
    return Ref::borrow(Py_None);
}

}  // namespace

bool python_holds(const Datetime& dt) noexcept {
    const int offset = dt.offset && dt.offset->kind == Offset::Kind::Custom ? int(dt.offset->minutes) : 0;
    return (dt.date || dt.time) && (!dt.date || python_date(*dt.date)) &&
           (!dt.time || python_time(*dt.time)) && offset > -kDayMinutes && offset < kDayMinutes;
}

bool nesting_fits(int levels) {
    ConversionThread& thread = this_thread();
    if (thread.depth + levels > kMaxDepth) return false;
    const std::size_t left = stack_left(thread.thread_stack());
    if (left != SIZE_MAX && left < thread.reserve + static_cast<std::size_t>(levels) * kLevelBytes)
        return false;
    // The interpreter's recursion limit, as the levels of a conversion enter it.
    int entered = 0;
    while (entered < levels && Py_EnterRecursiveCall(kToPythonWhere) == 0) ++entered;
    for (int i = 0; i < entered; ++i) Py_LeaveRecursiveCall();
    if (entered == levels) return true;
    PyErr_Clear();
    return false;
}

Result<bool> is_abc_mapping(PyObject* obj) {
    MV_ASSIGN(PyObject * mapping, mapping_abc());
    int r = PyObject_IsInstance(obj, mapping);
    if (r < 0) {
        if (PyErr_ExceptionMatches(PyExc_RecursionError)) return Error::pending();
        PyErr_WriteUnraisable(obj);
        return false;
    }
    return r == 1;
}

// ---------------------------------------------------------------------------

namespace {
const DatetimeApi* loaded_api = nullptr;  // set once, under the interpreter lock
}  // namespace

const DatetimeApi* loaded_datetime_api() noexcept { return loaded_api; }

Result<const DatetimeApi*> datetime_api() {
    const DatetimeApi*& cached = loaded_api;
    if (cached) return cached;
    MV_ASSIGN(Ref module, checked(PyImport_ImportModule("datetime")));
    const char* const names[] = {"datetime", "date", "time", "timezone", "timedelta"};
    Ref classes[5];
    for (int i = 0; i < 5; ++i) {
        MV_ASSIGN(classes[i], checked(PyObject_GetAttrString(module.get(), names[i])));
    }
    // The import may have let another thread fill the cache meanwhile.
    if (cached) return cached;
    static DatetimeApi api;
    api.datetime_type = classes[0].release();
    api.date_type = classes[1].release();
    api.time_type = classes[2].release();
    api.timezone_type = classes[3].release();
    api.timedelta_type = classes[4].release();
    cached = &api;
    return cached;
}

Result<TreeItem> to_toml(PyObject* obj) {
    // Item handles.
    {
        // A copy goes to a new place: its tables keep no header positions.
        MV_ASSIGN(std::optional<TreeItem> copied, copy_handle_target(obj));
        if (copied) {
            clear_positions(*copied);
            return std::move(*copied);
        }
    }
    // Exact built-in scalars.
    if (PyUnicode_CheckExact(obj)) return string_item(obj);
    if (Py_IS_TYPE(obj, &PyBool_Type)) return TreeItem::boolean(obj == Py_True);
    if (PyLong_CheckExact(obj)) return integer_item(obj);
    if (PyFloat_CheckExact(obj)) return float_item(obj);
    // Documents.
    if (is_document(obj)) {
        MV_ASSIGN(TreeItem root, copy_root(obj));
        clear_positions(root);
        return root;
    }
    if (obj == Py_None) return type_error("None is not a valid TOML value (TOML has no null type)");

    // Exact dicts, lists and date-time classes skip the (costly) Mapping ABC
    // test below. A dict is converted from here, not through
    // mapping_to_table: a level of nesting then holds one frame of the dict
    // conversion alone, which keeps deep nesting within the stack of small
    // threads.
    if (PyDict_CheckExact(obj)) {
        RecursionGuard guard(kToTomlWhere);
        if (!guard.ok()) return Error::pending();
        return dict_to_table(obj);
    }
    MV_ASSIGN(const DatetimeApi* api, datetime_api());
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
    if (PyList_CheckExact(obj)) {
        RecursionGuard guard(kToTomlWhere);
        if (!guard.ok()) return Error::pending();
        return list_to_toml(obj);
    }
    if (type == api->datetime_type) return datetime_item(obj, *api);
    if (type == api->date_type) return date_item(obj);
    if (type == api->time_type) return time_item(obj, *api);

    const unsigned long flags = PyType_GetFlags(Py_TYPE(obj));
    // Mappings.
    if (flags & Py_TPFLAGS_DICT_SUBCLASS) return mapping_to_table(obj);
    MV_ASSIGN(const bool mapping, is_abc_mapping(obj));
    if (mapping) return mapping_to_table(obj);
    // Lists.
    if (flags & Py_TPFLAGS_LIST_SUBCLASS) {
        RecursionGuard guard(kToTomlWhere);
        if (!guard.ok()) return Error::pending();
        return list_to_toml(obj);
    }
    // datetime, date, time (datetime derives from date: tested first).
    if (PyObject_TypeCheck(obj, as_type(api->datetime_type))) return datetime_item(obj, *api);
    if (PyObject_TypeCheck(obj, as_type(api->date_type))) return date_item(obj);
    if (PyObject_TypeCheck(obj, as_type(api->time_type))) return time_item(obj, *api);
    // Subclasses of str, int and float.
    if (flags & Py_TPFLAGS_UNICODE_SUBCLASS) return string_item(obj);
    if (flags & Py_TPFLAGS_LONG_SUBCLASS) return integer_item(obj);
    if (PyFloat_Check(obj)) return float_item(obj);
    return type_error("Could not convert object of type '" + type_name(obj) + "' to TOML value");
}

Result<TreeItem> mapping_argument(PyObject* obj, const char* function, const char* what) {
    if (!PyDict_Check(obj)) {
        // Every collections.abc.Mapping has items(); so may a mapping that
        // is not registered as one.
        Ref items = Ref::steal(PyObject_GetAttrString(obj, "items"));
        if (!items) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return Error::pending();
            PyErr_Clear();
            return type_error(std::string(function) + " takes " + what + ", not " + type_name(obj));
        }
    }
    return mapping_to_document(obj);
}

bool is_sub_minute_offset(const Error& e) noexcept {
    return e.type == PyExc_ValueError && e.message.starts_with(kSubMinuteOffset);
}

Result<TreeItem> mapping_to_table(PyObject* obj) {
    // A level of nesting wherever the mapping is, at the top of Document(data)
    // and dumps() too: the root table it becomes is a level of the tree.
    RecursionGuard guard(kToTomlWhere);
    if (!guard.ok()) return Error::pending();
    if (PyDict_CheckExact(obj)) return dict_to_table(obj);
    return items_to_table(obj);
}

Result<TreeItem> mapping_to_document(PyObject* obj) {
    MV_ASSIGN(TreeItem table, mapping_to_table(obj));
    if (const char* refusal = unreadable_nesting(table)) return value_error(refusal);
    return table;
}

int conversion_levels_left(int most) noexcept {
    ConversionThread& thread = this_thread();
    int levels = std::min(most, kMaxDepth - thread.depth);
    const std::size_t left = stack_left(thread.thread_stack());
    if (left != SIZE_MAX) {
        // A level of to-TOML of a dict inside a dict takes less than a third
        // of this in release builds and 40% with the sanitizers (see above).
        constexpr std::size_t kPricedLevel = kLargeFrames ? 16 * 1024 : 4 * 1024;
        const std::size_t room = left > thread.reserve ? left - thread.reserve : 0;
        levels = static_cast<int>(
            std::min<std::size_t>(static_cast<std::size_t>(std::max(levels, 0)), room / kPricedLevel));
    }
    return std::max(levels, 0);
}

Status check_copy_nesting(const TreeItem& item) {
    ConversionThread& thread = this_thread();
    const int depth = thread.depth;
    const int levels = nesting_of(item, kMaxDepth - depth);
    if (depth + levels > kMaxDepth) {
        PyErr_Format(PyExc_RecursionError, kNestingMessage, kMaxDepth, kToTomlWhere);
        return Error::pending();
    }
    const std::size_t left = stack_left(thread.thread_stack());
    if (left != SIZE_MAX && left < thread.reserve + static_cast<std::size_t>(levels) * kLevelBytes) {
        PyErr_Format(PyExc_RecursionError, kStackMessage, kToTomlWhere);
        return Error::pending();
    }
    return ok();
}

namespace {

// A path as TOML spells it: keys joined by dots, bare or quoted as a key is
// written, and indices in brackets: a."b c"[3].d
void append_step(std::string& out, bool is_key, std::string_view key, std::size_t index) {
    if (!is_key) {
        out += '[';
        out += std::to_string(index);
        out += ']';
        return;
    }
    if (!out.empty()) out += '.';
    String text;
    append_key_text(text, key);
    out.append(text.data(), text.size());
}

// The ValueError that a Python constructor raised for the value at `where`,
// then `inner` (innermost first), raised again with the path of the value:
// "year 0 is out of range (at x)". Any other exception, or a value without a
// path (one parsed on its own), is left as it is.
void name_failed_value(const Where& where, const std::vector<FailedStep>& inner) {
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) return;
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref t = Ref::steal(type), v = Ref::steal(value), tb = Ref::steal(traceback);
    std::string path;
    if (t.get() == PyExc_ValueError) {
        try {
            if (where.path)
                for (std::size_t i = where.skip; i < where.path->size(); ++i) {
                    const PathStep& s = (*where.path)[i];
                    append_step(path, s.is_key(), s.key_text(), s.index_value());
                }
            if (where.last != Where::Last::None)
                append_step(path, where.last == Where::Last::Key, where.key, where.index);
            for (auto s = inner.rbegin(); s != inner.rend(); ++s)
                append_step(path, s->is_key, s->key, s->index);
        } catch (...) {
            path.clear();
        }
    }
    Ref message = path.empty() ? Ref() : Ref::steal(PyObject_Str(v.get()));
    if (!message) {
        PyErr_Clear();
        PyErr_Restore(t.release(), v.release(), tb.release());
        return;
    }
    PyErr_Format(PyExc_ValueError, "%U (at %s)", message.get(), path.c_str());
}

}  // namespace

Result<Ref> to_python(const TreeItem& item, const Where& where) {
    // A scalar makes no container: it needs neither the nesting record nor
    // the pause below (reading `h.value` through a handle comes here).
    if (!item.is_container()) {
        Ref r = py_scalar(item);
        if (r) return r;
        name_failed_value(where, {});
        return Error::pending();
    }
    // The conversion runs no Python code: the collector, which the many new
    // containers would set off again and again, waits until it is done. The
    // pause ends before the keys' references are dropped (declared first).
    ToPython cx{this_thread(), {}, {}};
    Ref r;
    {
        const CollectorPause pause;
        r = py_value(item, cx);
    }
    if (r) return r;
    name_failed_value(where, cx.failed);
    return Error::pending();
}

}  // namespace morvelan::py
