// The port table and its descriptor holds under ThreadSanitizer: a port closed and reopened again
// and again while two threads keep using its slot.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "../unit/pty.h"
#include "open_close.h"
#include "port_table.h"
#include "timeouts.h"
#include "transfer.h"

namespace pellusk {
namespace {

TEST(Threads, ClosesUnderRunningCallsLeaveNoDescriptorBehind) {
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    testing::Pty pty;
    const auto before = descriptors();
    ASSERT_EQ(code::kOk, openPort(pty.slave(), 3).code);
    setReceiveTimeout(3, 1);
    std::atomic<bool> done{false};
    auto user = [&] {
        unsigned char into[4];
        while (!done) putByte(3, 'u'), getData(3, into, sizeof into), receivedCount(3);
    };
    std::thread users[] = {std::thread(user), std::thread(user)};
    for (int round = 0; round < 300; ++round) {
        ASSERT_EQ(0, closePort(3));
        // The slot comes back once the calls still holding its last descriptor have ended.
        while (openPort(pty.slave(), 3).code == code::kSlotTaken) std::this_thread::yield();
    }
    done = true;
    for (auto& t : users) t.join();
    EXPECT_EQ(0, closePort(3));
    EXPECT_EQ(before, descriptors()) << "every descriptor was closed exactly once";
}

}  // namespace
}  // namespace pellusk
