#include "open_close.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>

#include <cerrno>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "port_table.h"
#include "pty.h"
#include "timeouts.h"
#include "transfer.h"

namespace pellusk {
namespace {

class PortTable : public ::testing::Test {
  protected:
    void TearDown() override {
        for (int slot = 0; slot < kPortSlots; ++slot) closePort(slot);
    }
    testing::Pty pty_;
};

TEST(OpenErrorCode, MapsFourErrorsAndPassesTheRestOn) {
    EXPECT_EQ(1008, openErrorCode(ENOENT));
    EXPECT_EQ(1004, openErrorCode(ENODEV));
    EXPECT_EQ(1006, openErrorCode(EACCES));
    EXPECT_EQ(1007, openErrorCode(EBUSY));
    EXPECT_EQ(ENXIO, openErrorCode(ENXIO));
    EXPECT_EQ(EISDIR, openErrorCode(EISDIR));
}

TEST(NumberedPath, AppendsTheSlotAndRefusesWhatDoesNotFit) {
    char path[kDevicePathSize];
    ASSERT_TRUE(formatNumberedPath("/dev/ttyS", 0, path));
    EXPECT_STREQ("/dev/ttyS0", path);
    ASSERT_TRUE(formatNumberedPath("/dev/ttyUSB", 127, path));
    EXPECT_STREQ("/dev/ttyUSB127", path);

    const std::string base60(60, 'b');
    ASSERT_TRUE(formatNumberedPath(base60, 127, path));  // 63 bytes: the largest that fits
    EXPECT_EQ(63u, std::string(path).size());
    EXPECT_FALSE(formatNumberedPath(base60 + "b", 127, path));
    EXPECT_STREQ("", path);
    EXPECT_FALSE(formatNumberedPath(std::string(64, 'b'), 0, path));

    // Bytes after a zero in the Java array are not part of the name.
    ASSERT_TRUE(formatNumberedPath(std::string_view("/dev/ttyS\0junk", 14), 3, path));
    EXPECT_STREQ("/dev/ttyS3", path);
}

TEST_F(PortTable, FullTableRefusesAndEveryCloseFreesOnce) {
    for (int i = 0; i < kPortSlots; ++i)
        ASSERT_EQ(code::kOk, openPort(pty_.slave(), kLowestFreeSlot).code);
    EXPECT_EQ(1005, openPort(pty_.slave(), kLowestFreeSlot).code) << "the code Java sees";
    for (int slot = 0; slot < kPortSlots; ++slot) {
        ASSERT_EQ(0, closePort(slot));
        ASSERT_EQ(-1, closePort(slot));
    }
}

TEST_F(PortTable, SlotsOutsideTheTableAreFree) {
    for (int slot : {-1, kPortSlots, 1 << 30, -(1 << 30)}) {
        EXPECT_EQ(kNoDescriptor, portDescriptor(slot));
        EXPECT_EQ(-1, closePort(slot));
    }
}

TEST_F(PortTable, ConcurrentOpensNeverShareASlot) {
    std::vector<int> slots[2];
    auto opener = [this](std::vector<int>& taken) {
        for (int i = 0; i < kPortSlots / 2; ++i)
            taken.push_back(openPort(pty_.slave(), kLowestFreeSlot).slot);
    };
    std::thread first(opener, std::ref(slots[0]));
    std::thread second(opener, std::ref(slots[1]));
    first.join();
    second.join();
    std::set<int> distinct(slots[0].begin(), slots[0].end());
    distinct.insert(slots[1].begin(), slots[1].end());
    EXPECT_EQ(size_t(kPortSlots), distinct.size());
    EXPECT_EQ(0, *distinct.begin());
    std::set<int> descriptors;
    for (int slot = 0; slot < kPortSlots; ++slot) descriptors.insert(portDescriptor(slot));
    EXPECT_EQ(size_t(kPortSlots), descriptors.size()) << "each slot holds its own descriptor";
}

// A close does not wake a poll() on the descriptor in another thread, and the next open may be
// given the same descriptor number: a receive still waiting on the closed port must not then
// take the bytes of the port opened after it.
TEST_F(PortTable, AReceiveWaitingThroughACloseLeavesTheNextPortsBytesAlone) {
    testing::Pty next;
    const int first = openPort(pty_.slave(), kLowestFreeSlot).slot;
    ASSERT_EQ(kTimeoutStored, setReceiveTimeout(first, 20000));
    std::promise<int> waiterId;
    auto received = std::async(std::launch::async, [&] {
        waiterId.set_value(testing::threadId());
        unsigned char into[16];
        return getData(first, into, sizeof into);
    });
    const int waiter = waiterId.get_future().get();
    ASSERT_TRUE(testing::awaitBlockedInPoll(waiter));
    ASSERT_EQ(0, closePort(first));
    const int second = openPort(next.slave(), kLowestFreeSlot).slot;
    ASSERT_LE(0, second);
    const char bytes[] = "for the next port";
    ASSERT_EQ(ssize_t(sizeof bytes), write(next.master(), bytes, sizeof bytes));
    // Once the bytes are there to take, the continue signal ends the wait, and the waiting call
    // looks at its descriptor number again.
    pollfd ready{portDescriptor(second), POLLIN, 0};
    ASSERT_EQ(1, poll(&ready, 1, 5000));
    ASSERT_EQ(0, syscall(SYS_tgkill, getpid(), waiter, SIGCONT));
    EXPECT_GE(0, received.get()) << "the closed port received nothing";

    ASSERT_EQ(kTimeoutStored, setReceiveTimeout(second, 5000));
    char into[sizeof bytes] = {};
    EXPECT_EQ(int(sizeof bytes), getData(second, into, sizeof into));
    EXPECT_STREQ(bytes, into);
    setReceiveTimeout(first, 0);
    setReceiveTimeout(second, 0);
}

}  // namespace
}  // namespace pellusk
