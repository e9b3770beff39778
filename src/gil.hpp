// Releases the interpreter lock for the lifetime of the guard.
#pragma once

#include "python.hpp"

namespace morvelan::py {

class GilRelease {
public:
    GilRelease() noexcept : state_(PyEval_SaveThread()) {}
    ~GilRelease() { PyEval_RestoreThread(state_); }
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

private:
    PyThreadState* state_;
};

}  // namespace morvelan::py
