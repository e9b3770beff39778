// TOMLDecodeError: the ValueError raised for TOML text that does not parse,
// with the attributes of json.JSONDecodeError and tomllib's error: msg (the
// one-line message), doc (the text), pos (a str index into doc), lineno and
// colno (1-based, the numbers the report shows). Its str() is the report.
#pragma once

#include "engine/error.hpp"
#include "frame.hpp"

namespace morvelan::py {

// The class (created once, on first use); null with an error set on failure.
PyObject* decode_error_type();

// The error for a failed parse (a thread that ran out of stack raises
// RecursionError instead: the text itself may be fine).
Error parse_failure(const ParseErrorReport& report);

}  // namespace morvelan::py
