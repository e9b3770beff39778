// Reading the values of a document without building its tree.
//
// decode_direct reads TOML text once, checking it by the same rules as
// parse_document (the same scanners and scalar decoders, the same table
// rules, nesting and key path limits), and hands each value to a sink, which
// builds whatever it wants from them; no tree is built. It only answers
// whether the text was read: invalid text gives no value and no message.
// The caller then parses the text with parse_document, which reports the
// problem; the same goes for text the sink refused. So on any text either
// both readers accept it, with the same values, or decode_direct gives
// nothing.
//
// What the decoder keeps is what the table rules need: a record per table
// (not per value) with how it was defined, and a map from (table, key) to the
// records of its child tables. A key defined twice is found by the sink,
// which reports that a key it is given is already in the table.
#pragma once

#include <cstdint>
#include <string_view>

#include "datetime.hpp"

namespace morvelan {

class ValueSink {
public:
    // A value the sink made: a scalar, a table or an array. Null means that
    // the sink failed (or refuses the value); decoding then stops.
    using Value = void*;

    virtual ~ValueSink() = default;

    virtual Value string(std::string_view text) = 0;
    virtual Value integer(std::int64_t v) = 0;
    virtual Value floating(double v) = 0;
    virtual Value boolean(bool v) = 0;
    virtual Value datetime(const Datetime& v) = 0;
    virtual Value table() = 0;
    virtual Value array() = 0;

    // Stores `value` under `key` at the end of `table`, taking `value` over
    // whatever the outcome. False when `table` already holds `key` (the text
    // then fails) or the sink failed. The key's text stays valid until
    // decode_direct returns; a table stays valid while its parent holds it.
    virtual bool put(Value table, std::string_view key, Value value) = 0;
    // Appends `value` to `array`, taking it over whatever the outcome.
    virtual bool append(Value array, Value value) = 0;
    // Moves the entry `key` of `table` to its end (a header takes over a
    // table that other headers made): the order in which the tree holds it.
    virtual bool move_to_end(Value table, std::string_view key) = 0;
    // Drops a value that was not stored.
    virtual void discard(Value value) noexcept = 0;
};

struct DirectResult {
    // The root table, owned by the caller (null when the text was not read).
    ValueSink::Value root = nullptr;
    // The deepest level of nesting of the result: the root table is level 1,
    // each table, array or array of tables inside a container one more.
    int depth = 0;
};

// Reads `text` (a whole document) into `sink`. Never throws: a failure of
// any kind (memory included) gives an empty result, every value made so far
// discarded.
DirectResult decode_direct(std::string_view text, ValueSink& sink) noexcept;

}  // namespace morvelan
