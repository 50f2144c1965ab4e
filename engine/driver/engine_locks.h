// The engine's process-wide locks. The engine lock (recursive) admits one engine call at a
// time; the transaction lock is taken shared by every call and exclusively from STARTRAN to
// ENDTRAN, and the thread that holds it exclusively may take it shared as well; the
// control-block lock guards the table-object pointer of control blocks shared by threads.
// A thread waiting to take the transaction lock exclusively keeps new shared holders out, so
// STARTRAN is not starved by busy threads; a thread already holding the lock shared (a nested
// call) takes it again at once.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vellum {

class TransactionLock {
public:
    void lockShared();
    void unlockShared();
    void lockExclusive();
    // Gives back an exclusive hold of the calling thread; false when it holds none.
    bool unlockExclusive();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread::id exclusiveOwner_;
    unsigned shared_ = 0;
    unsigned waitingExclusive_ = 0;
};

std::recursive_mutex& engineLock();
TransactionLock& transactionLock();
std::recursive_mutex& controlBlockLock();

}  // namespace vellum
