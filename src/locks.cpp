#include "locks.hpp"

#include <chrono>
#include <thread>

#include "gil.hpp"

namespace morvelan::py {

namespace {

// The document locks this thread holds: usually none to two; only Python
// code run while a lock is held (a finalizer, say) nests deeper. A plain
// array, so that reaching it costs no initialisation check.
struct HeldList {
    static constexpr int kMax = 64;
    DocLock* items[kMax];
    int size;
};
HeldList& held() noexcept {
    // The list is reached on every call: where the compiler allows, the
    // build gives this file the initial-exec TLS model (see CMakeLists.txt),
    // which spares a call to __tls_get_addr each time.
    static thread_local HeldList h;
    return h;
}

bool holds(DocLock* lock) noexcept {
    const HeldList& h = held();
    for (int i = 0; i < h.size; ++i)
        if (h.items[i] == lock) return true;
    return false;
}

void forget(DocLock* lock) noexcept {
    HeldList& h = held();
    for (int i = h.size; i-- > 0;) {
        if (h.items[i] == lock) {
            for (int j = i + 1; j < h.size; ++j) h.items[j - 1] = h.items[j];
            --h.size;
            return;
        }
    }
}

Error too_deep() { return runtime_error("too many documents in use at once by this thread"); }

// Waits between tries: a few yields, then short sleeps.
template <class Try>
void wait_for(Try&& attempt) noexcept {
    for (int round = 0; !attempt(); ++round) {
        if (round < 64)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

}  // namespace

void DocLock::lock_shared() noexcept {
    wait_for([this] { return try_lock_shared(); });
}

void DocLock::lock() noexcept {
    wait_for([this] { return try_lock(); });
}

void LockGuard::release() noexcept {
    if (mode_ == Mode::Shared)
        lock_->unlock_shared();
    else if (mode_ == Mode::Exclusive)
        lock_->unlock();
    forget(lock_);
    lock_ = nullptr;
    mode_ = Mode::None;
}

Result<LockGuard> LockGuard::acquire(DocLock& lock, Mode mode) {
    if (holds(&lock)) {
        if (mode == Mode::Shared) return LockGuard();  // already readable by this thread
        return runtime_error("the document is in use by this thread (an operation on it is still running)");
    }
    if (held().size == HeldList::kMax) return too_deep();
    const bool shared = mode == Mode::Shared;
    if (!(shared ? lock.try_lock_shared() : lock.try_lock())) {
        GilRelease unlocked;  // other Python threads run while this one waits
        if (shared)
            lock.lock_shared();
        else
            lock.lock();
    }
    HeldList& h = held();
    h.items[h.size++] = &lock;
    return LockGuard(&lock, mode);
}

}  // namespace morvelan::py
