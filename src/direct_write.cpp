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

// An interned attribute name, made once; null (no exception set) when it
// cannot be made.
PyObject* interned(PyObject*& slot, const char* text) noexcept {
    if (!slot) {
        slot = PyUnicode_InternFromString(text);
        if (!slot) PyErr_Clear();
    }
    return slot;
}

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
    bool table(PyObject* dict, int level) {
        if (!enter(level)) return false;
        Py_ssize_t pos = 0;
        PyObject *k = nullptr, *v = nullptr;
        while (PyDict_Next(dict, &pos, &k, &v)) {
            if (is_own_table(v)) continue;
            if (!key(k)) return false;
            out_.append(kEquals);
            if (!value(v, level + 1)) return false;
            out_.push_back('\n');
            first_header_ = false;
        }
        pos = 0;
        while (PyDict_Next(dict, &pos, &k, &v)) {
            const bool sub_table = PyDict_CheckExact(v);
            if (!sub_table && !(PyList_CheckExact(v) && is_array_of_tables(v))) continue;
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

    // ---- date and time values ----------------------------------------------
    //
    // The fields are read from the state the object pickles to (its
    // __reduce__(): the class and (bytes[, tzinfo]), the bytes packing the
    // fields as conversion.cpp's to-Python side packs them): one call of the C
    // class instead of an attribute lookup per field. The classes are those of
    // the C module (static types); the pure-Python fallback of the datetime
    // module would run Python code, and is left to the tree.

    bool datetime(PyObject* v, PyObject* type) {
        const DatetimeApi* api = loaded_datetime_api();
        if (!api) return false;
        const bool is_datetime = type == api->datetime_type;
        const bool is_date = type == api->date_type;
        const bool is_time = type == api->time_type;
        if (!is_datetime && !is_date && !is_time) return false;
        if (PyType_GetFlags(reinterpret_cast<PyTypeObject*>(type)) & Py_TPFLAGS_HEAPTYPE) return false;
        static PyObject* reduce_name = nullptr;
        PyObject* reduce = interned(reduce_name, "__reduce__");
        if (!reduce) return false;
        Ref reduced = Ref::steal(PyObject_CallMethodObjArgs(v, reduce, nullptr));
        if (!reduced) {
            PyErr_Clear();
            return false;
        }
        PyObject* args = PyTuple_Check(reduced.get()) && PyTuple_Size(reduced.get()) == 2
                             ? PyTuple_GetItem(reduced.get(), 1)
                             : nullptr;
        if (!args || !PyTuple_Check(args)) return false;
        const Py_ssize_t parts = PyTuple_Size(args);
        if (parts < 1 || parts > 2 || (parts == 2 && !is_datetime)) return false;  // a time with a tzinfo
        PyObject* state = PyTuple_GetItem(args, 0);
        char* bytes = nullptr;
        Py_ssize_t size = 0;
        if (!PyBytes_Check(state) || PyBytes_AsStringAndSize(state, &bytes, &size) < 0) {
            PyErr_Clear();
            return false;
        }
        const auto* b = reinterpret_cast<const unsigned char*>(bytes);
        const Py_ssize_t expected = is_datetime ? 10 : is_date ? 4 : 6;
        if (size != expected) return false;
        Datetime dt;
        if (!is_time) {
            Date d;
            d.year = static_cast<std::uint16_t>(b[0] << 8 | b[1]);
            d.month = b[2];
            d.day = b[3];
            if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) return false;
            dt.date = d;
            b += 4;
        }
        if (!is_date) {
            Time t;
            t.hour = b[0];
            t.minute = b[1];
            t.second = b[2];
            const std::uint32_t micro = std::uint32_t{b[3]} << 16 | std::uint32_t{b[4]} << 8 | b[5];
            if (t.hour > 23 || t.minute > 59 || *t.second > 59 || micro > 999999) return false;
            // As the conversion records it: no fraction when there is none.
            if (micro != 0) t.nanosecond = micro * 1000u;
            dt.time = t;
        }
        if (parts == 2) {
            int minutes = 0;
            if (!zone_minutes(PyTuple_GetItem(args, 1), *api, minutes)) return false;
            dt.offset = Offset::custom(static_cast<std::int16_t>(minutes));
        }
        append_datetime(out_, dt);
        return true;
    }

    // The offset of a datetime.timezone in whole minutes (a zero offset too
    // is an offset, written "+00:00"); false for any other tzinfo and for an
    // offset with seconds, which the conversion refuses. The last zone met is
    // kept: documents have few, and tomllib shares one object per offset.
    bool zone_minutes(PyObject* tz, const DatetimeApi& api, int& minutes) {
        if (tz == zone_.get()) {
            minutes = zone_minutes_;
            return true;
        }
        if (!Py_IS_TYPE(tz, reinterpret_cast<PyTypeObject*>(api.timezone_type)) ||
            (PyType_GetFlags(Py_TYPE(tz)) & Py_TPFLAGS_HEAPTYPE))
            return false;
        static PyObject* names[4] = {};
        PyObject* utcoffset = interned(names[0], "utcoffset");
        PyObject* days_name = interned(names[1], "days");
        PyObject* seconds_name = interned(names[2], "seconds");
        PyObject* micros_name = interned(names[3], "microseconds");
        if (!utcoffset || !days_name || !seconds_name || !micros_name) return false;
        Ref delta = Ref::steal(PyObject_CallMethodObjArgs(tz, utcoffset, Py_None, nullptr));
        if (!delta || !Py_IS_TYPE(delta.get(), reinterpret_cast<PyTypeObject*>(api.timedelta_type))) {
            PyErr_Clear();
            return false;
        }
        long parts[3];
        PyObject* const part_names[3] = {days_name, seconds_name, micros_name};
        for (int i = 0; i < 3; ++i) {
            Ref part = Ref::steal(PyObject_GetAttr(delta.get(), part_names[i]));
            parts[i] = part ? PyLong_AsLong(part.get()) : -1;
            if (PyErr_Occurred()) {
                PyErr_Clear();
                return false;
            }
        }
        // A timezone's offset lies strictly within a day either way; the
        // seconds of a timedelta are in [0, 86400).
        if (parts[2] != 0 || parts[1] % 60 != 0 || parts[0] < -1 || parts[0] > 0) return false;
        minutes = static_cast<int>(parts[0] * 1440 + parts[1] / 60);
        zone_ = Ref::borrow(tz);
        zone_minutes_ = minutes;
        return true;
    }

    String& out_;
    String path_;  // the header path of the table being written, spelled
    int max_levels_;
    int held_ = 0;              // levels entered (Py_EnterRecursiveCall)
    bool first_header_ = true;  // nothing written yet
    Ref zone_;                  // the last timezone met, and its offset
    int zone_minutes_ = 0;
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
