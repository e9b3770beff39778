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
// raises RecursionError instead of exhausting the C stack.
#include "conversion.hpp"

#include <pthread.h>

#include <cstdint>

#include "item_proxy.hpp"

#include <cstdint>
#include <string>
#include <string_view>

#include "document.hpp"
#include "engine/array.hpp"
#include "engine/array_of_tables.hpp"
#include "engine/datetime.hpp"
#include "engine/table.hpp"

namespace morvelan::py {

namespace {

constexpr const char* kToTomlWhere = " while converting to TOML";
constexpr const char* kToPythonWhere = " while converting to Python";

// One level of recursion of a conversion; `ok()` is false when the
// interpreter's recursion limit is reached (RecursionError is then set).
//
// Besides the interpreter's limit, which a program may raise beyond what the
// C stack holds, nesting is capped at kMaxDepth levels: trees deeper than that
// would also be too deep for the engine's own recursive copy and writer.
// A level is also refused when less than kStackReserve bytes of the
// thread's C stack are left (frames are much larger in sanitized builds).
constexpr int kMaxDepth = 1000;
constexpr std::size_t kStackReserve = 256 * 1024;

// Bytes of C stack left below the current frame on this thread.
std::size_t stack_left() noexcept {
    thread_local const std::uintptr_t low = [] {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) return std::uintptr_t{0};
        void* addr = nullptr;
        std::size_t size = 0;
        const int rc = pthread_attr_getstack(&attr, &addr, &size);
        pthread_attr_destroy(&attr);
        return rc == 0 ? reinterpret_cast<std::uintptr_t>(addr) : std::uintptr_t{0};
    }();
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    return low != 0 && here > low ? here - low : SIZE_MAX;
}

class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) noexcept {
        if (depth() >= kMaxDepth || stack_left() < kStackReserve) {
            PyErr_Format(PyExc_RecursionError, "maximum TOML nesting depth (%d) exceeded%s", kMaxDepth,
                         where);
            return;
        }
        entered_ = Py_EnterRecursiveCall(where) == 0;
        if (entered_) ++depth();
    }
    ~RecursionGuard() {
        if (entered_) {
            Py_LeaveRecursiveCall();
            --depth();
        }
    }
    static int& depth() noexcept {
        thread_local int d = 0;
        return d;
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
    bool ok() const noexcept { return entered_; }

private:
    bool entered_ = false;
};

inline PyTypeObject* as_type(PyObject* o) noexcept { return reinterpret_cast<PyTypeObject*>(o); }

// ---------------------------------------------------------------------------
// Per-process caches (filled under the interpreter lock, never freed)

// collections.abc.Mapping.
Result<PyObject*> mapping_abc() {
    static PyObject* cached = nullptr;
    if (cached) return cached;
    Ref module = MV_TRY(checked(PyImport_ImportModule("collections.abc")));
    Ref mapping = MV_TRY(checked(PyObject_GetAttrString(module.get(), "Mapping")));
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
    kNameCount
};
constexpr const char* kNameText[kNameCount] = {"year",   "month",       "day",       "hour", "minute",
                                               "second", "microsecond", "utcoffset", "days", "seconds"};

Result<PyObject*> name(Name n) {
    static PyObject* names[kNameCount] = {};
    if (!names[n]) {
        names[n] = PyUnicode_InternFromString(kNameText[n]);
        if (!names[n]) return Error::pending();
    }
    return names[n];
}

Result<Ref> attr(PyObject* o, Name n) { return checked(PyObject_GetAttr(o, MV_TRY(name(n)))); }

// An integer attribute (`year`, `hour`, ...) of a date or time object, which
// must lie in [lo, hi] (it does for the standard classes; a subclass may
// override the attribute).
Result<long> int_attr(PyObject* o, Name n, long lo, long hi) {
    Ref v = MV_TRY(attr(o, n));
    long x = PyLong_AsLong(v.get());
    if (x == -1 && PyErr_Occurred()) return Error::pending();
    if (x < lo || x > hi)
        return value_error(std::string(kNameText[n]) + " " + std::to_string(x) + " is out of range");
    return x;
}

Result<Date> date_of(PyObject* o) {
    Date d;
    d.year = static_cast<std::uint16_t>(MV_TRY(int_attr(o, kYear, 1, 9999)));
    d.month = static_cast<std::uint8_t>(MV_TRY(int_attr(o, kMonth, 1, 12)));
    d.day = static_cast<std::uint8_t>(MV_TRY(int_attr(o, kDay, 1, 31)));
    return d;
}

Result<Time> time_of(PyObject* o) {
    Time t;
    t.hour = static_cast<std::uint8_t>(MV_TRY(int_attr(o, kHour, 0, 23)));
    t.minute = static_cast<std::uint8_t>(MV_TRY(int_attr(o, kMinute, 0, 59)));
    t.second = static_cast<std::uint8_t>(MV_TRY(int_attr(o, kSecond, 0, 59)));
    long micro = MV_TRY(int_attr(o, kMicrosecond, 0, 999999));
    if (micro != 0) t.nanosecond = static_cast<std::uint32_t>(micro) * 1000u;
    return t;
}

// The result of `o.utcoffset()`: nothing for None, else the offset in whole
// minutes (any sub-minute part dropped).
Result<std::optional<Offset>> offset_of(PyObject* o, const DatetimeApi& api) {
    Ref r = MV_TRY(checked(PyObject_CallMethodObjArgs(o, MV_TRY(name(kUtcoffset)), nullptr)));
    if (r.get() == Py_None) return std::optional<Offset>();
    if (!PyObject_TypeCheck(r.get(), as_type(api.timedelta_type))) return wrong_type(r.get(), "timedelta");
    Ref days_obj = MV_TRY(attr(r.get(), kDays));
    Ref seconds_obj = MV_TRY(attr(r.get(), kSeconds));
    long long days = PyLong_AsLongLong(days_obj.get());
    if (days == -1 && PyErr_Occurred()) return Error::pending();
    long long seconds = PyLong_AsLongLong(seconds_obj.get());
    if (seconds == -1 && PyErr_Occurred()) return Error::pending();
    // The standard classes check this range; an overriding utcoffset() may not.
    long long total = days * 86400 + seconds;
    if (total <= -86400 || total >= 86400) {
        return value_error(
            "offset must be a timedelta strictly between -timedelta(hours=24) and timedelta(hours=24)");
    }
    // A timedelta keeps 0 <= seconds < 86400: truncating division is the floor.
    long long minutes = days * 1440 + seconds / 60;
    return std::optional<Offset>(Offset::custom(static_cast<std::int16_t>(minutes)));
}

Result<TreeItem> datetime_item(PyObject* o, const DatetimeApi& api) {
    Datetime dt;
    dt.date = MV_TRY(date_of(o));
    dt.time = MV_TRY(time_of(o));
    dt.offset = MV_TRY(offset_of(o, api));
    return TreeItem::datetime(dt);
}

Result<TreeItem> date_item(PyObject* o) {
    Datetime dt;
    dt.date = MV_TRY(date_of(o));
    return TreeItem::datetime(dt);
}

Result<TreeItem> time_item(PyObject* o, const DatetimeApi& api) {
    std::optional<Offset> offset = MV_TRY(offset_of(o, api));
    if (offset) return type_error("TOML local times cannot have timezone information");
    Datetime dt;
    dt.time = MV_TRY(time_of(o));
    return TreeItem::datetime(dt);
}

// ---------------------------------------------------------------------------
// Lists to TOML

// A Table (or an inline table made a Table) as a member of an array of
// tables: an inline table's entries move into a new standard table with the
// default layout.
TreeItem as_standard_table(TreeItem&& item) {
    if (!item.is_inline_table()) return std::move(item);
    TreeItem table = TreeItem::table();
    table.as_table().entries = std::move(item.as_table().entries);
    table.as_table().fmt();
    return table;
}

Result<TreeItem> list_to_toml(PyObject* list) {
    Vector<TreeItem> items;
    if (PyList_CheckExact(list)) {
        // Converting an element may run Python code that shrinks the list:
        // read while the index is below both the initial and current length.
        Py_ssize_t initial = PyList_Size(list);
        items.reserve(static_cast<std::size_t>(initial));
        for (Py_ssize_t i = 0; i < initial && i < PyList_Size(list); ++i) {
            Ref element = Ref::borrow(PyList_GetItem(list, i));
            if (!element) return Error::pending();
            items.push_back(MV_TRY(to_toml(element.get())));
        }
    } else {
        Py_ssize_t n = PySequence_Size(list);
        if (n < 0) return Error::pending();
        items.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            Ref element = MV_TRY(checked(PySequence_GetItem(list, i)));
            items.push_back(MV_TRY(to_toml(element.get())));
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
        for (TreeItem& item : items) item = as_standard_table(std::move(item));
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
    array.as_array().values = std::move(items);
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
    if (is_item(key)) {
        std::optional<TreeItem> target = MV_TRY(copy_handle_target(key));
        if (target->kind() == ItemKind::String) {
            storage.assign(target->as_string());
            return std::string_view(storage);
        }
    }
    return type_error("keys must be strings");
}

// Converts one (key, value) pair and stores it in `table`; a key already
// present keeps its place and takes the new value.
Status insert_pair(TreeItem& table, PyObject* key, PyObject* value) {
    std::string storage;
    std::string_view text = MV_TRY(key_text(key, storage));  // valid while `key` lives
    TreeItem item = MV_TRY(to_toml(value));
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
        MV_TRY(insert_pair(table, k, value.get()));
    }
    if (seen != initial) return runtime_error("dictionary keys changed during iteration");
    return table;
}

Result<TreeItem> items_to_table(PyObject* mapping) {
    Ref items = MV_TRY(checked(PyMapping_Items(mapping)));
    TreeItem table = TreeItem::table();
    // `items` may be a list the mapping itself holds (items() returning a
    // list is passed through): read it by index against its current size.
    for (Py_ssize_t i = 0; i < PyList_Size(items.get()); ++i) {
        Ref elem = Ref::borrow(PyList_GetItem(items.get(), i));
        if (!elem) return Error::pending();
        Ref key, value;
        MV_TRY(unpack_pair(elem.get(), key, value));
        MV_TRY(insert_pair(table, key.get(), value.get()));
    }
    return table;
}

// ---------------------------------------------------------------------------
// TOML to Python. A null Ref means that a Python exception is set.

Ref py_value(const TreeItem& item);

Ref py_text(std::string_view s) {
    return Ref::steal(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

Ref py_table(const Table& table) {
    RecursionGuard guard(kToPythonWhere);
    if (!guard.ok()) return {};
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return {};
    for (const Entry& e : table.entries) {
        if (e.item.is_none()) continue;
        Ref key = py_text(e.key.text());
        if (!key) return {};
        Ref value = py_value(e.item);
        if (!value) return {};
        if (PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return {};
    }
    return dict;
}

Ref py_list(const Vector<TreeItem>& values) {
    RecursionGuard guard(kToPythonWhere);
    if (!guard.ok()) return {};
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return {};
    Py_ssize_t i = 0;
    for (const TreeItem& v : values) {
        Ref value = py_value(v);
        if (!value) return {};
        // Steals the reference, even on failure.
        if (PyList_SetItem(list.get(), i++, value.release()) < 0) return {};
    }
    return list;
}

Ref py_datetime(const Datetime& dt) {
    if (!dt.date && !dt.time) {
        String text;
        append_datetime(text, dt);
        return py_text(std::string_view(text.data(), text.size()));
    }
    Result<const DatetimeApi*> api_r = datetime_api();
    if (!api_r.ok()) return {};
    const DatetimeApi& api = *api_r.value();
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
        int seconds = dt.offset->kind == Offset::Kind::Z ? 0 : int(dt.offset->minutes) * 60;
        Ref delta = Ref::steal(PyObject_CallFunction(api.timedelta_type, "iii", 0, seconds, 0));
        if (!delta) return {};
        tz = Ref::steal(PyObject_CallFunction(api.timezone_type, "O", delta.get()));
        if (!tz) return {};
    }
    return Ref::steal(PyObject_CallFunction(api.datetime_type, "iiiiiiiO", int(d.year), int(d.month),
                                            int(d.day), int(t.hour), int(t.minute), second, micro, tz.get()));
}

Ref py_value(const TreeItem& item) {
    switch (item.kind()) {
        case ItemKind::None: return Ref::borrow(Py_None);
        case ItemKind::String: return py_text(item.as_string());
        case ItemKind::Integer: return Ref::steal(PyLong_FromLongLong(item.as_integer()));
        case ItemKind::Float: return Ref::steal(PyFloat_FromDouble(item.as_float()));
        case ItemKind::Boolean: return Ref::borrow(item.as_bool() ? Py_True : Py_False);
        case ItemKind::Datetime: return py_datetime(item.as_datetime());
        case ItemKind::Array: return py_list(item.as_array().values);
        case ItemKind::InlineTable:
        case ItemKind::Table: return py_table(item.as_table());
        case ItemKind::ArrayOfTables: return py_list(item.as_array_of_tables().values);
    }
    return Ref::borrow(Py_None);
}

}  // namespace

Result<bool> is_abc_mapping(PyObject* obj) {
    PyObject* mapping = MV_TRY(mapping_abc());
    int r = PyObject_IsInstance(obj, mapping);
    if (r < 0) {
        if (PyErr_ExceptionMatches(PyExc_RecursionError)) return Error::pending();
        PyErr_WriteUnraisable(obj);
        return false;
    }
    return r == 1;
}

// ---------------------------------------------------------------------------

Result<const DatetimeApi*> datetime_api() {
    static const DatetimeApi* cached = nullptr;
    if (cached) return cached;
    Ref module = MV_TRY(checked(PyImport_ImportModule("datetime")));
    const char* const names[] = {"datetime", "date", "time", "timezone", "timedelta"};
    Ref classes[5];
    for (int i = 0; i < 5; ++i) classes[i] = MV_TRY(checked(PyObject_GetAttrString(module.get(), names[i])));
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
        std::optional<TreeItem> copied = MV_TRY(copy_handle_target(obj));
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
        TreeItem root = MV_TRY(copy_root(obj));
        clear_positions(root);
        return root;
    }
    if (obj == Py_None) return type_error("None is not a valid TOML value (TOML has no null type)");

    // The exact list and date-time classes are never mappings: they skip the
    // (costly) Mapping ABC test below.
    const DatetimeApi* api = MV_TRY(datetime_api());
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
    if ((flags & Py_TPFLAGS_DICT_SUBCLASS) || MV_TRY(is_abc_mapping(obj))) {
        RecursionGuard guard(kToTomlWhere);
        if (!guard.ok()) return Error::pending();
        return mapping_to_table(obj);
    }
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

Result<TreeItem> mapping_to_table(PyObject* obj) {
    if (PyDict_CheckExact(obj)) return dict_to_table(obj);
    return items_to_table(obj);
}

Result<Ref> to_python(const TreeItem& item) {
    Ref r = py_value(item);
    if (!r) return Error::pending();
    return r;
}

}  // namespace morvelan::py
