// A real pseudo-terminal pair for the C++ tests.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace pellusk::testing {

class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            char name[128];
            if (ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
        }
    }
    ~Pty() {
        if (master_ >= 0) close(master_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master() const { return master_; }
    const char* slave() const { return slave_.c_str(); }

  private:
    int master_ = -1;
    std::string slave_;
};

// The calling thread's id, for awaitBlockedInPoll and tgkill.
inline int threadId() {
    return static_cast<int>(syscall(SYS_gettid));
}

// Waits up to ten seconds until the thread sleeps in poll or ppoll, so that a test acts on a
// wait that has really begun; false if it never did. There is no event for that, so the
// thread's record in /proc is read again until it says so.
inline bool awaitBlockedInPoll(int tid) {
    const std::string record = "/proc/self/task/" + std::to_string(tid) + "/syscall";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        long call = -1;
        std::ifstream(record) >> call;
        if (call == SYS_poll || call == SYS_ppoll) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}  // namespace pellusk::testing
