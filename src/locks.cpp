#include "locks.hpp"

#include <vector>

namespace morvelan::py {

namespace {

// The document locks this thread holds, with their modes (usually zero to
// two entries).
struct Held {
    DocLock* lock;
    LockGuard::Mode mode;
};
std::vector<Held>& held() {
    thread_local std::vector<Held> h;
    return h;
}

const Held* find_held(DocLock* lock) {
    for (const Held& h : held())
        if (h.lock == lock) return &h;
    return nullptr;
}

void forget(DocLock* lock) {
    auto& h = held();
    for (std::size_t i = h.size(); i-- > 0;) {
        if (h[i].lock == lock) {
            h.erase(h.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
    }
}

}  // namespace

void LockGuard::unlock() noexcept {
    if (!lock_) return;
    if (mode_ == Mode::Shared)
        lock_->mutex.unlock_shared();
    else if (mode_ == Mode::Exclusive)
        lock_->mutex.unlock();
    forget(lock_);
    lock_ = nullptr;
    mode_ = Mode::None;
}

Result<LockGuard> LockGuard::shared(DocLock& lock) {
    if (find_held(&lock)) return LockGuard();  // already readable by this thread
    held().reserve(held().size() + 1);
    if (!lock.mutex.try_lock_shared()) {
        PyThreadState* state = PyEval_SaveThread();
        lock.mutex.lock_shared();
        PyEval_RestoreThread(state);
    }
    held().push_back(Held{&lock, Mode::Shared});
    return LockGuard(&lock, Mode::Shared);
}

Result<LockGuard> LockGuard::exclusive(DocLock& lock) {
    if (find_held(&lock))
        return runtime_error("the document is in use by this thread (an operation on it is still running)");
    held().reserve(held().size() + 1);
    if (!lock.mutex.try_lock()) {
        PyThreadState* state = PyEval_SaveThread();
        lock.mutex.lock();
        PyEval_RestoreThread(state);
    }
    held().push_back(Held{&lock, Mode::Exclusive});
    return LockGuard(&lock, Mode::Exclusive);
}

}  // namespace morvelan::py
