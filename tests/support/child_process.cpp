// fork-based child processes with two signalling pipes.
#include "support/child_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace vellum::test {

namespace {
bool readByte(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char c;
    return read(fd, &c, 1) == 1;
}

void writeByte(int fd) {
    char c = 1;
    if (write(fd, &c, 1) != 1) std::perror("child_process write");
}
}  // namespace

ChildProcess::ChildProcess(std::function<int(ChildProcess&)> body) {
    if (pipe(toChild_) != 0 || pipe(toParent_) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        close(toChild_[1]);
        close(toParent_[0]);
        int status = 99;
        try {
            status = body(*this);
        } catch (...) {
            status = 98;
        }
        std::fflush(nullptr);
        _exit(status);
    }
    close(toChild_[0]);
    close(toParent_[1]);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !joined_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(toChild_[1]);
    close(toParent_[0]);
}

void ChildProcess::signalChild() { writeByte(toChild_[1]); }
bool ChildProcess::waitForChild(int timeoutMs) { return readByte(toParent_[0], timeoutMs); }

int ChildProcess::join() {
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    joined_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ChildProcess::signalParent() { writeByte(toParent_[1]); }
bool ChildProcess::waitForParent(int timeoutMs) { return readByte(toChild_[0], timeoutMs); }

}  // namespace vellum::test
