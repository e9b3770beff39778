// Conversion between Python values and TOML tree items, and the value
// comparison of tree items.
//
// To-TOML builds a free-standing tree item (canonical spelling, default
// decor) from a Python object; copies of document values keep their
// spelling and decor and own their text (they no longer depend on the
// document they came from). To-Python builds new Python objects.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "engine/datetime.hpp"
#include "engine/document.hpp"
#include "frame.hpp"
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

// A new str from UTF-8 text; null with an error set on failure.
Ref str_object(std::string_view text);

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

// The keys of the tables met while converting one value: a key text met
// again (the same field in every element of a list of tables) gives the str
// made the first time, whose hash is already computed. A slot holds the most
// recent key of its hash, and the text it was made from: every text given
// must stay unchanged while the cache is used (views into a tree the
// conversion holds, or into the text being read).
//
// A key is looked up by its size and two machine words, its first and its
// last eight bytes (four, or three single bytes, for shorter keys): they hash
// it, and for a key of up to 16 bytes they are the whole text, so a hit
// compares no bytes.
class KeyCache {
public:
    // The slots are made once `uncached` keys were converted without them.
    KeyCache() noexcept = default;
    explicit KeyCache(std::size_t uncached) noexcept : uncached_left_(uncached) {}

    Ref key(std::string_view text) {
        const std::size_t n = text.size();
        if (n > kLongest) return str_object(text);
        // Made once a few keys were converted: a scalar, a list of them or a
        // small document does not pay for setting up and clearing the slots.
        if (!slots_) {
            if (uncached_left_ > 0) {
                --uncached_left_;
                return str_object(text);
            }
            slots_ = std::make_unique<Slot[]>(kSlots);
        }
        const Words w = words_of(text);
        Slot& s = slots_[slot_of(w, n)];
        if (s.key && s.size == n && s.head == w.head && s.tail == w.tail &&
            (n <= kWordCovered || std::memcmp(s.data, text.data(), n) == 0))
            return Ref::borrow(s.key.get());
        Ref k = str_object(text);
        if (k) {
            s.data = text.data();
            s.size = n;
            s.head = w.head;
            s.tail = w.tail;
            s.key = Ref::borrow(k.get());
        }
        return k;
    }

private:
    static constexpr std::size_t kSlots = 256;
    static constexpr std::size_t kUncached = 32;
    static constexpr std::size_t kLongest = 64;      // longer keys are seldom repeated
    static constexpr std::size_t kWordCovered = 16;  // head and tail hold every byte
    struct Words {
        std::uint64_t head = 0;
        std::uint64_t tail = 0;
    };
    struct Slot {
        const char* data = nullptr;
        std::size_t size = 0;
        std::uint64_t head = 0;
        std::uint64_t tail = 0;
        Ref key;
    };

    static Words words_of(std::string_view text) noexcept {
        const char* p = text.data();
        const std::size_t n = text.size();
        Words w;
        if (n >= 8) {
            std::memcpy(&w.head, p, 8);
            std::memcpy(&w.tail, p + n - 8, 8);
        } else if (n >= 4) {
            std::uint32_t head, tail;
            std::memcpy(&head, p, 4);
            std::memcpy(&tail, p + n - 4, 4);
            w.head = head;
            w.tail = tail;
        } else if (n > 0) {
            const auto byte = [&](std::size_t i) -> std::uint64_t {
                return static_cast<unsigned char>(p[i]);
            };
            w.head = byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16;
        }
        return w;
    }

    static std::size_t slot_of(const Words& w, std::size_t n) noexcept {
        const std::uint64_t h = (w.head * 0x9E3779B97F4A7C15u) ^ (w.tail * 0xC2B2AE3D27D4EB4Fu) ^ n;
        return static_cast<std::size_t>((h ^ (h >> 29)) >> 56);  // kSlots == 256
    }

    std::unique_ptr<Slot[]> slots_;
    std::size_t uncached_left_ = kUncached;  // keys still converted without the slots
};

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
