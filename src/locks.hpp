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

#include <atomic>
#include <cstdint>

#include "frame.hpp"

namespace morvelan::py {

// A reader-writer lock in one atomic word: the number of readers, or -1
// while a writer holds it. Holds are short and taken with the interpreter
// lock held, so waiting is rare; a waiter (which has released the
// interpreter lock, see LockGuard) yields and then sleeps between tries.
class DocLock {
public:
    bool try_lock_shared() noexcept {
        std::int32_t s = state_.load(std::memory_order_relaxed);
        while (s >= 0)
            if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed))
                return true;
        return false;
    }
    void unlock_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }
    // Whether no writer holds the lock at this moment.
    bool unwritten() const noexcept { return state_.load(std::memory_order_acquire) >= 0; }
    // Taking and releasing the exclusive hold each start a new generation
    // (see generation()).
    bool try_lock() noexcept {
        std::int32_t expected = 0;
        if (!state_.compare_exchange_strong(expected, -1, std::memory_order_acquire,
                                            std::memory_order_relaxed))
            return false;
        next_generation();
        return true;
    }
    void unlock() noexcept {
        next_generation();
        state_.store(0, std::memory_order_release);
    }

    // Counts the exclusive holds taken and released. Every change to the
    // tree happens under an exclusive hold, so while a holder of the lock
    // reads the same generation as before, the tree has not changed since:
    // what a path resolved to then, it resolves to now. Inside an exclusive
    // hold nothing found before it counts (the holder changes the tree as
    // it goes). Read it while holding the lock (its release and acquisition
    // order the counter).
    std::uint64_t generation() const noexcept { return generation_.load(std::memory_order_relaxed); }
    // Whether the lock was ever taken for writing: a document whose lock
    // never was still holds the tree it was made with.
    bool ever_written() const noexcept { return generation() != 0; }

    // Blocking forms: call them with the interpreter lock released.
    void lock_shared() noexcept;
    void lock() noexcept;

private:
    // Written by the exclusive holder only.
    void next_generation() noexcept {
        generation_.store(generation_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }

    std::atomic<std::int32_t> state_{0};
    std::atomic<std::uint64_t> generation_{0};
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

    void unlock() noexcept {
        if (lock_) release();
    }

    // Takes `lock` shared or exclusive; fails with RuntimeError when this
    // thread would wait on a lock it holds.
    static Result<LockGuard> shared(DocLock& lock) { return acquire(lock, Mode::Shared); }
    static Result<LockGuard> exclusive(DocLock& lock) { return acquire(lock, Mode::Exclusive); }

    // For a short read that runs no Python code until the guard ends: it
    // makes no object the collector tracks and drops no reference that
    // could run a finalizer. Such a read takes nothing while no writer holds
    // the lock. The tree is only ever changed by a thread holding the
    // interpreter lock, which this thread keeps throughout the read, so no
    // writer can change it before the read is done (a waiting writer may
    // take the lock meanwhile, but changes nothing until it has the
    // interpreter lock). Otherwise it is shared().
    // An interpreter without that lock (a free-threaded build) always takes
    // the lock shared.
    static Result<LockGuard> glance(DocLock& lock) {
#ifndef Py_GIL_DISABLED
        if (lock.unwritten()) return LockGuard();
#endif
        return acquire(lock, Mode::Shared);
    }

private:
    static Result<LockGuard> acquire(DocLock& lock, Mode mode);
    void release() noexcept;
    LockGuard(DocLock* lock, Mode mode) noexcept : lock_(lock), mode_(mode) {}
    DocLock* lock_ = nullptr;
    Mode mode_ = Mode::None;
};

}  // namespace morvelan::py
