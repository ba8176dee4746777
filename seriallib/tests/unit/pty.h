// A real pseudo-terminal pair for the C++ tests.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "transfer.h"

namespace pellusk::testing {

struct Pty {
    Pty() : master(posix_openpt(O_RDWR | O_NOCTTY)) {
        if (grantpt(master) == 0 && unlockpt(master) == 0) path = ptsname(master);
    }
    ~Pty() { close(master); }
    const char* slave() const { return path.c_str(); }

    const int master;
    std::string path;
};

// The descriptors the process has open.
inline long descriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// Once the thread (its id, when it has set it) sleeps in poll(), or another call: only /proc tells.
inline void awaitPoll(const std::atomic<long>& thread, long sleepsIn = SYS_poll) {
    while (thread == 0) std::this_thread::yield();
    const std::string record = "/proc/self/task/" + std::to_string(thread) + "/syscall";
    for (long call = -1; call != sleepsIn; std::this_thread::yield()) std::ifstream(record) >> call;
}

// A receive of one byte on the slot, in a thread of its own (its id into `thread`, if given),
// which waits in poll() once this returns.
inline std::future<int> receiveWaiting(int slot, long* thread = nullptr) {
    const auto receiver = std::make_shared<std::atomic<long>>(0);
    std::future<int> receiving = std::async(std::launch::async, [slot, receiver] {
        *receiver = gettid();
        return getByte(slot);
    });
    awaitPoll(*receiver);
    if (thread != nullptr) *thread = *receiver;
    return receiving;
}

}  // namespace pellusk::testing
