// Runs a piece of a test in a child process made by fork, with a pipe in each direction so
// that parent and child can wait for each other at chosen points. The child ends with _exit and
// the status its body returned; a failed gtest assertion in the child does not reach the parent,
// so child bodies report through their exit status.
#pragma once

#include <functional>
#include <sys/types.h>

namespace vellum::test {

class ChildProcess {
public:
    // Starts body(child) in a new process; it exits with the returned status.
    explicit ChildProcess(std::function<int(ChildProcess&)> body);
    ~ChildProcess();  // kills and reaps the child if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Parent side: send one byte to the child, wait for one byte from it (false on end of file
    // or after timeoutMs), wait for its exit status (-1 when it did not exit normally).
    void signalChild();
    bool waitForChild(int timeoutMs = 10000);
    int join();
    pid_t pid() const { return pid_; }

    // Child side: the same in the other direction.
    void signalParent();
    bool waitForParent(int timeoutMs = 10000);

private:
    pid_t pid_ = -1;
    int toChild_[2] = {-1, -1};
    int toParent_[2] = {-1, -1};
    bool joined_ = false;
};

}  // namespace vellum::test
