// The interpreter's C API, limited to the stable ABI of Python 3.11.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030B0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

// The flags that let `match` treat the module's classes as mappings and
// sequences are outside the limited API before 3.12 but are plain type flag
// bits, fixed since 3.10.
#ifndef Py_TPFLAGS_SEQUENCE
#define Py_TPFLAGS_SEQUENCE (1 << 5)
#endif
#ifndef Py_TPFLAGS_MAPPING
#define Py_TPFLAGS_MAPPING (1 << 6)
#endif
