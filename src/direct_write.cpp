// Writing a plain dict as TOML text straight from its Python objects.
//
// dumps() of a mapping converts it to a document tree (conversion.cpp) and
// writes the tree (engine/encode.cpp). For the common case, a dict of plain
// values, this writer walks the Python objects once and appends the same text
// to one buffer: the spellings are the engine's (engine/string.hpp,
// engine/datetime.hpp), the layout is the one below, which is what the tree's
// writer gives for a tree freshly converted from Python values.
//
// Giving up. The writer takes only what converts without running Python code
// and without failing:
//   - an exact dict (the root, and every table or inline table) whose keys
//     are exact str with a UTF-8 form (no lone surrogates);
//   - values of the exact types str (with a UTF-8 form), bool, int (within
//     the signed 64-bit range), float, dict and list;
//   - exact datetime.date; exact datetime.time without a tzinfo; exact
//     datetime.datetime without a tzinfo or with an exact datetime.timezone
//     whose offset is whole minutes; all of the C classes of the datetime
//     module once the conversion has imported it (loaded_datetime_api());
//   - at most kMaxLevels levels of nesting (a dict or a list is a level, the
//     root too), and no more than a conversion started here would enter
//     (conversion_levels_left(), and the interpreter's recursion limit,
//     entered as the conversion enters it).
// On anything else (None, subclasses, other mappings, tuples, handles and
// documents as values, other tzinfos, ints out of range, ...) it stops and
// its caller drops what was written; the tree path then runs from the start
// and raises or writes exactly as it always did. Since nothing here runs
// Python code or changes an object, stopping leaves no trace.
#include "direct_write.hpp"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

#include "conversion.hpp"
#include "engine/datetime.hpp"
#include "engine/parser.hpp"
#include "engine/string.hpp"
#include "pyref.hpp"

namespace morvelan::py {

namespace {

constexpr int kMaxLevels = 64;
// Within kMaxLevels no header path and no value nests as deep as the parser
// reads back (the check that refuses such trees, unreadable_nesting, would
// pass), so a tree path that got this far would write the same text.
static_assert(kMaxLevels < static_cast<int>(kMaxNesting) && kMaxLevels < static_cast<int>(kMaxKeyPath));

// ---------------------------------------------------------------------------
// The layout of a tree converted from plain values, as the tree's writer
// writes it (the equivalence tests in tests/test_direct_write.py guard it):
//
// - A dict is a table. Its lines, `key = value`, are its entries in order,
//   except those that are tables of their own: dicts, and arrays of tables
//   (below). The root writes no header; every other table follows with a
//   header ("[a.b]", "[[a.b]]" for a member of an array of tables, the keys
//   spelled as keys), after its parent's lines and the tables before it,
//   depth first in entry order. A blank line comes before each header but a
//   header that is the first thing written. A table without lines still
//   writes its header.
// - A list whose elements are all dicts, and that has one at least, is an
//   array of tables where a table holds it; anywhere else, and every other
//   list, is an array.
// - Inside a value, dicts are inline tables, "{ a = 1, b = 2 }" ("{}"
//   empty), and lists are arrays, "[1, 2]".
constexpr std::string_view kEquals = " = ";
constexpr std::string_view kElementSeparator = ", ";
constexpr std::string_view kFirstInlineEntry = " ";
constexpr std::string_view kLaterInlineEntry = ", ";
constexpr std::string_view kInlineEnd = " }";  // after at least one entry
constexpr std::string_view kEmptyInline = "}";

bool is_array_of_tables(PyObject* list) noexcept {
    const Py_ssize_t n = PyList_Size(list);
    if (n <= 0) return false;
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!PyDict_CheckExact(PyList_GetItem(list, i))) return false;
    return true;
}

// A table of its own, where a table holds it.
bool is_own_table(PyObject* value) noexcept {
    return PyDict_CheckExact(value) || (PyList_CheckExact(value) && is_array_of_tables(value));
}

// ---------------------------------------------------------------------------

// The UTF-8 text of an exact str; false (no exception set) when it has none.
bool utf8_of_str(PyObject* s, std::string_view& text) noexcept {
    Py_ssize_t n = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s, &n);
    if (!data) {
        PyErr_Clear();
        return false;
    }
    text = std::string_view(data, static_cast<std::size_t>(n));
    return true;
}

// ---------------------------------------------------------------------------
// Date and time values
//
// The fields are read through the getters of their classes, as attribute
// lookups would read them, but straight from the getter's descriptor: its
// class's descriptor-get slot, called with the object. The classes are those
// of the C module (static types, whose getters are C functions and whose
// attributes cannot be replaced); the pure-Python fallback of the datetime
// module would run Python code, and is left to the tree.

enum Field { kYear, kMonth, kDay, kHour, kMinute, kSecond, kMicrosecond, kTzinfo, kFieldCount };
constexpr const char* kFieldNames[kFieldCount] = {"year",   "month",  "day",         "hour",
                                                  "minute", "second", "microsecond", "tzinfo"};
enum Class { kDate, kTime, kDatetime, kClassCount };
// The fields of each class, first to last.
constexpr Field kFirstField[kClassCount] = {kYear, kHour, kYear};
constexpr Field kEndField[kClassCount] = {kHour, kFieldCount, kFieldCount};

struct Getter {
    PyObject* descriptor = nullptr;
    descrgetfunc get = nullptr;
};

// The three classes and the getters of their fields, looked up once the
// conversion has imported the module (per-process, never freed); null until
// then, and when a class is not what is expected.
struct DatetimeClasses {
    PyObject* type[kClassCount];
    Getter getters[kClassCount][kFieldCount];
};

const DatetimeClasses* datetime_classes() noexcept {
    static DatetimeClasses classes;
    static int state = 0;  // 1: looked up, -1: unusable
    if (state != 0) return state > 0 ? &classes : nullptr;
    const DatetimeApi* api = loaded_datetime_api();
    if (!api) return nullptr;
    const PyObject* const types[kClassCount] = {api->date_type, api->time_type, api->datetime_type};
    state = -1;
    for (int c = 0; c < kClassCount; ++c) {
        PyObject* type = const_cast<PyObject*>(types[c]);
        if (PyType_GetFlags(reinterpret_cast<PyTypeObject*>(type)) & Py_TPFLAGS_HEAPTYPE) return nullptr;
        classes.type[c] = type;
        for (int f = kFirstField[c]; f < kEndField[c]; ++f) {
            Ref descriptor = Ref::steal(PyObject_GetAttrString(type, kFieldNames[f]));
            if (!descriptor) {
                PyErr_Clear();
                return nullptr;
            }
            auto get =
                reinterpret_cast<descrgetfunc>(PyType_GetSlot(Py_TYPE(descriptor.get()), Py_tp_descr_get));
            if (!get) {
                PyErr_Clear();
                return nullptr;
            }
            classes.getters[c][f] = Getter{descriptor.release(), get};
        }
    }
    state = 1;
    return &classes;
}

// A field of `v`, an object of class `c`; null (no exception set) when it
// cannot be read.
Ref field_object(const DatetimeClasses& classes, Class c, PyObject* v, Field f) {
    const Getter& g = classes.getters[c][f];
    Ref r = Ref::steal(g.get(g.descriptor, v, classes.type[c]));
    if (!r) PyErr_Clear();
    return r;
}

// An int field of `v`, which must lie within [lo, hi] (it does for the
// classes of the C module).
bool int_field(const DatetimeClasses& classes, Class c, PyObject* v, Field f, long lo, long hi, long& out) {
    Ref r = field_object(classes, c, v, f);
    if (!r) return false;
    out = PyLong_AsLong(r.get());
    if (out == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    return out >= lo && out <= hi;
}

// The offset of a datetime.timezone in whole minutes (a zero offset too is
// an offset, written "+00:00"); nothing for any other tzinfo and for an
// offset with seconds, which the conversion refuses. The zones met are kept
// with their offsets, per process, in a small table by address (a zone
// takes the place of an earlier one when its slots are full): documents have
// few, and tomllib shares one object per offset.
std::optional<int> zone_minutes(PyObject* tz, const DatetimeApi& api) {
    struct Zone {
        PyObject* tz;  // owned
        int minutes;
    };
    constexpr std::size_t kSlots = 64, kProbes = 4;
    static Zone zones[kSlots] = {};
    static std::size_t replaced = 0;
    const std::size_t home =
        static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(tz) * 0x9E3779B97F4A7C15u) >> 58);
    Zone* free_slot = nullptr;
    for (std::size_t i = 0; i < kProbes; ++i) {
        Zone& z = zones[(home + i) % kSlots];
        if (z.tz == tz) return z.minutes;
        if (!z.tz && !free_slot) free_slot = &z;
    }
    if (!Py_IS_TYPE(tz, reinterpret_cast<PyTypeObject*>(api.timezone_type)) ||
        (PyType_GetFlags(Py_TYPE(tz)) & Py_TPFLAGS_HEAPTYPE))
        return std::nullopt;
    static PyObject* names[4] = {};
    const char* const texts[4] = {"utcoffset", "days", "seconds", "microseconds"};
    for (int i = 0; i < 4; ++i) {
        if (!names[i]) names[i] = PyUnicode_InternFromString(texts[i]);
        if (!names[i]) {
            PyErr_Clear();
            return std::nullopt;
        }
    }
    Ref delta = Ref::steal(PyObject_CallMethodObjArgs(tz, names[0], Py_None, nullptr));
    if (!delta || !Py_IS_TYPE(delta.get(), reinterpret_cast<PyTypeObject*>(api.timedelta_type))) {
        PyErr_Clear();
        return std::nullopt;
    }
    long parts[3];
    for (int i = 0; i < 3; ++i) {
        Ref part = Ref::steal(PyObject_GetAttr(delta.get(), names[i + 1]));
        parts[i] = part ? PyLong_AsLong(part.get()) : -1;
        if (PyErr_Occurred()) {
            PyErr_Clear();
            return std::nullopt;
        }
    }
    // A timezone's offset lies strictly within a day either way; the seconds
    // of a timedelta are in [0, 86400).
    if (parts[2] != 0 || parts[1] % 60 != 0 || parts[0] < -1 || parts[0] > 0) return std::nullopt;
    const int minutes = static_cast<int>(parts[0] * 1440 + parts[1] / 60);
    Zone& slot = free_slot ? *free_slot : zones[(home + replaced++ % kProbes) % kSlots];
    // A zone dropped from its slot is an exact timezone: freeing it runs no
    // Python code.
    Ref dropped = Ref::steal(slot.tz);
    slot = Zone{Ref::borrow(tz).release(), minutes};
    return minutes;
}

// The date-time value of an exact date, time or datetime (`type` is its
// class), as the conversion makes it; nothing for anything else, and where
// the conversion would run Python code or fail.
std::optional<Datetime> datetime_of(PyObject* v, PyObject* type) {
    const DatetimeClasses* classes = datetime_classes();
    if (!classes) return std::nullopt;
    const Class c = type == classes->type[kDatetime] ? kDatetime
                    : type == classes->type[kDate]   ? kDate
                    : type == classes->type[kTime]   ? kTime
                                                     : kClassCount;
    if (c == kClassCount) return std::nullopt;
    Datetime dt;
    long x[kTzinfo];
    if (c != kTime) {
        if (!int_field(*classes, c, v, kYear, 1, 9999, x[kYear]) ||
            !int_field(*classes, c, v, kMonth, 1, 12, x[kMonth]) ||
            !int_field(*classes, c, v, kDay, 1, 31, x[kDay]))
            return std::nullopt;
        dt.date = Date{static_cast<std::uint16_t>(x[kYear]), static_cast<std::uint8_t>(x[kMonth]),
                       static_cast<std::uint8_t>(x[kDay])};
    }
    if (c == kDate) return dt;
    if (!int_field(*classes, c, v, kHour, 0, 23, x[kHour]) ||
        !int_field(*classes, c, v, kMinute, 0, 59, x[kMinute]) ||
        !int_field(*classes, c, v, kSecond, 0, 59, x[kSecond]) ||
        !int_field(*classes, c, v, kMicrosecond, 0, 999999, x[kMicrosecond]))
        return std::nullopt;
    Time t;
    t.hour = static_cast<std::uint8_t>(x[kHour]);
    t.minute = static_cast<std::uint8_t>(x[kMinute]);
    t.second = static_cast<std::uint8_t>(x[kSecond]);
    // As the conversion records it: no fraction when there is none.
    if (x[kMicrosecond] != 0) t.nanosecond = static_cast<std::uint32_t>(x[kMicrosecond]) * 1000u;
    dt.time = t;
    Ref tz = field_object(*classes, c, v, kTzinfo);
    if (!tz) return std::nullopt;
    if (tz.get() != Py_None) {
        // A time with a tzinfo is refused, or taken as local, by the
        // conversion after it asks the tzinfo: left to it.
        if (c == kTime) return std::nullopt;
        const DatetimeApi* api = loaded_datetime_api();
        const std::optional<int> minutes = zone_minutes(tz.get(), *api);
        if (!minutes) return std::nullopt;
        dt.offset = Offset::custom(static_cast<std::int16_t>(*minutes));
    }
    return dt;
}

// ---------------------------------------------------------------------------

class DirectWriter {
public:
    DirectWriter(String& out, int max_levels) noexcept : out_(out), max_levels_(max_levels) {}
    ~DirectWriter() {
        for (; held_ > 0; --held_) Py_LeaveRecursiveCall();
    }
    DirectWriter(const DirectWriter&) = delete;
    DirectWriter& operator=(const DirectWriter&) = delete;

    bool document(PyObject* root) { return table(root, 1); }

private:
    // Enters the level `level` (levels are entered one at a time and held to
    // the end: the deepest one reached is what counts, as for a conversion).
    bool enter(int level) {
        if (level <= held_) return true;
        if (level > max_levels_) return false;
        if (Py_EnterRecursiveCall(" while converting to TOML") != 0) {
            PyErr_Clear();
            return false;
        }
        ++held_;
        return true;
    }

    // A table at `level`: its lines, then its own tables with their headers.
    // The second walk over the entries starts at the first table of its own
    // and ends with the last (the dict cannot change meanwhile).
    bool table(PyObject* dict, int level) {
        if (!enter(level)) return false;
        Py_ssize_t pos = 0, first_table = -1, tables = 0;
        PyObject *k = nullptr, *v = nullptr;
        for (Py_ssize_t at = 0; PyDict_Next(dict, &pos, &k, &v); at = pos) {
            if (is_own_table(v)) {
                if (tables++ == 0) first_table = at;
                continue;
            }
            if (!key(k)) return false;
            out_.append(kEquals);
            if (!value(v, level + 1)) return false;
            out_.push_back('\n');
            first_header_ = false;
        }
        for (pos = first_table; tables > 0 && PyDict_Next(dict, &pos, &k, &v);) {
            const bool sub_table = PyDict_CheckExact(v);
            if (!sub_table && !(PyList_CheckExact(v) && is_array_of_tables(v))) continue;
            --tables;
            std::string_view text;
            if (!PyUnicode_CheckExact(k) || !utf8_of_str(k, text)) return false;
            const std::size_t path_size = path_.size();
            if (path_size != 0) path_.push_back('.');
            append_key_text(path_, text);
            if (sub_table) {
                header(false);
                if (!table(v, level + 1)) return false;
            } else {
                if (!enter(level + 1)) return false;
                const Py_ssize_t n = PyList_Size(v);
                for (Py_ssize_t i = 0; i < n; ++i) {
                    header(true);
                    if (!table(PyList_GetItem(v, i), level + 2)) return false;
                }
            }
            path_.resize(path_size);
        }
        return true;
    }

    void header(bool member) {
        if (!first_header_) out_.push_back('\n');
        first_header_ = false;
        out_.append(member ? "[[" : "[");
        out_.append(path_);
        out_.append(member ? "]]\n" : "]\n");
    }

    bool key(PyObject* k) {
        std::string_view text;
        if (!PyUnicode_CheckExact(k) || !utf8_of_str(k, text)) return false;
        append_key_text(out_, text);
        return true;
    }

    // A value that stands at `level` if it is a dict or a list.
    bool value(PyObject* v, int level) {
        PyTypeObject* type = Py_TYPE(v);
        if (type == &PyUnicode_Type) {
            std::string_view text;
            if (!utf8_of_str(v, text)) return false;
            append_string_text(out_, text);
            return true;
        }
        if (type == &PyBool_Type) {
            append_bool_text(out_, v == Py_True);
            return true;
        }
        if (type == &PyLong_Type) {
            int overflow = 0;
            const long long x = PyLong_AsLongLongAndOverflow(v, &overflow);
            if (overflow != 0) return false;
            append_integer_text(out_, static_cast<std::int64_t>(x));
            return true;
        }
        if (type == &PyFloat_Type) {
            append_float_text(out_, PyFloat_AsDouble(v));
            return true;
        }
        if (type == &PyDict_Type) return inline_table(v, level);
        if (type == &PyList_Type) return array(v, level);
        return datetime(v, reinterpret_cast<PyObject*>(type));
    }

    bool inline_table(PyObject* dict, int level) {
        if (!enter(level)) return false;
        out_.push_back('{');
        Py_ssize_t pos = 0;
        PyObject *k = nullptr, *v = nullptr;
        bool any = false;
        while (PyDict_Next(dict, &pos, &k, &v)) {
            out_.append(any ? kLaterInlineEntry : kFirstInlineEntry);
            any = true;
            if (!key(k)) return false;
            out_.append(kEquals);
            if (!value(v, level + 1)) return false;
        }
        out_.append(any ? kInlineEnd : kEmptyInline);
        return true;
    }

    bool array(PyObject* list, int level) {
        if (!enter(level)) return false;
        out_.push_back('[');
        const Py_ssize_t n = PyList_Size(list);
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (i != 0) out_.append(kElementSeparator);
            if (!value(PyList_GetItem(list, i), level + 1)) return false;
        }
        out_.push_back(']');
        return true;
    }

    bool datetime(PyObject* v, PyObject* type) {
        std::optional<Datetime> dt = datetime_of(v, type);
        if (!dt) return false;
        append_datetime(out_, *dt);
        return true;
    }

    String& out_;
    String path_;  // the header path of the table being written, spelled
    int max_levels_;
    int held_ = 0;              // levels entered (Py_EnterRecursiveCall)
    bool first_header_ = true;  // nothing written yet
};

}  // namespace

std::optional<String> write_direct(PyObject* obj) {
    if (!PyDict_CheckExact(obj)) return std::nullopt;
    String out;
    out.reserve(256);
    DirectWriter writer(out, conversion_levels_left(kMaxLevels));
    if (!writer.document(obj)) return std::nullopt;
    return out;
}

}  // namespace morvelan::py
