// The port table and its descriptor holds under ThreadSanitizer: a port closed and reopened again
// and again while two threads keep using its slot.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "../unit/pty.h"
#include "open_close.h"
#include "port_table.h"
#include "timeouts.h"
#include "transfer.h"

namespace pellusk {
namespace {

int openDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

TEST(Threads, ClosesUnderRunningCallsLeaveNoDescriptorBehind) {
    testing::Pty pty;
    const int before = openDescriptors();
    constexpr int kSlot = 3;
    ASSERT_EQ(code::kOk, openPort(pty.slave(), kSlot).code);
    setReceiveTimeout(kSlot, 1);
    std::atomic<bool> done{false};
    auto user = [&] {
        unsigned char into[4];
        while (!done) putByte(kSlot, 'u'), getData(kSlot, into, sizeof into), receivedCount(kSlot);
    };
    std::thread users[] = {std::thread(user), std::thread(user)};
    for (int round = 0; round < 300; ++round) {
        ASSERT_EQ(0, closePort(kSlot));
        // The slot comes back once the calls still holding its last descriptor have ended.
        while (openPort(pty.slave(), kSlot).code == code::kSlotTaken) std::this_thread::yield();
    }
    done = true;
    for (auto& t : users) t.join();
    EXPECT_EQ(0, closePort(kSlot));
    EXPECT_EQ(before, openDescriptors()) << "every descriptor was closed exactly once";
}

}  // namespace
}  // namespace pellusk
