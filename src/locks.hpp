// The reader-writer lock of a document, and its guards.
//
// Acquisition first tries the lock; only when that fails does the thread
// release the interpreter lock while it waits, so a thread waiting for a
// document never stops the other Python threads.
//
// The lock is not recursive. A thread that already holds it for reading may
// take it for reading again (the guard then does nothing); a thread asking
// for it in a way that would wait on itself (writing while it holds it)
// gets a RuntimeError instead of a deadlock.
#pragma once

#include <shared_mutex>

#include "frame.hpp"

namespace morvelan::py {

class DocLock {
public:
    std::shared_mutex mutex;
};

class LockGuard {
public:
    enum class Mode { None, Shared, Exclusive };

    LockGuard() noexcept = default;
    LockGuard(LockGuard&& o) noexcept : lock_(o.lock_), mode_(o.mode_) {
        o.lock_ = nullptr;
        o.mode_ = Mode::None;
    }
    LockGuard& operator=(LockGuard&&) = delete;
    LockGuard(const LockGuard&) = delete;
    ~LockGuard() { unlock(); }

    void unlock() noexcept;

    // Takes `lock` shared or exclusive; fails with RuntimeError when this
    // thread would wait on a lock it holds.
    static Result<LockGuard> shared(DocLock& lock);
    static Result<LockGuard> exclusive(DocLock& lock);

private:
    LockGuard(DocLock* lock, Mode mode) noexcept : lock_(lock), mode_(mode) {}
    DocLock* lock_ = nullptr;
    Mode mode_ = Mode::None;
};

}  // namespace morvelan::py
