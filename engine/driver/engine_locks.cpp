// The engine's locks.
#include "driver/engine_locks.h"

namespace vellum {

namespace {
// How often the calling thread holds the transaction lock shared.
thread_local unsigned sharedDepth = 0;
}  // namespace

void TransactionLock::lockShared() {
    std::unique_lock<std::mutex> hold(mutex_);
    std::thread::id self = std::this_thread::get_id();
    if (sharedDepth == 0 && exclusiveOwner_ != self) {
        changed_.wait(hold, [&] {
            return exclusiveOwner_ == std::thread::id() && waitingExclusive_ == 0;
        });
    }
    ++shared_;
    ++sharedDepth;
}

void TransactionLock::unlockShared() {
    std::lock_guard<std::mutex> hold(mutex_);
    --shared_;
    --sharedDepth;
    changed_.notify_all();
}

void TransactionLock::lockExclusive() {
    std::unique_lock<std::mutex> hold(mutex_);
    ++waitingExclusive_;
    changed_.wait(hold, [&] { return exclusiveOwner_ == std::thread::id() && shared_ == 0; });
    --waitingExclusive_;
    exclusiveOwner_ = std::this_thread::get_id();
}

bool TransactionLock::unlockExclusive() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (exclusiveOwner_ != std::this_thread::get_id()) return false;
    exclusiveOwner_ = std::thread::id();
    changed_.notify_all();
    return true;
}

std::recursive_mutex& engineLock() {
    static std::recursive_mutex lock;
    return lock;
}

TransactionLock& transactionLock() {
    static TransactionLock lock;
    return lock;
}

std::recursive_mutex& controlBlockLock() {
    static std::recursive_mutex lock;
    return lock;
}

}  // namespace vellum
