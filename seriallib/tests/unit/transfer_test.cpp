#include "transfer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>

#include "open_close.h"
#include "port_table.h"
#include "pty.h"
#include "timeouts.h"

namespace pellusk {
namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The slave end of a pty open in slot 0; the test plays the far end on the master.
class Transfer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, slot_);
        setReceiveTimeout(slot_, 0);
    }
    void TearDown() override {
        for (int slot = 0; slot < kPortSlots; ++slot) {
            closePort(slot);
            setReceiveTimeout(slot, 0);
            setTransmitTimeout(slot, 0);
        }
    }
    void sendFromFarEnd(const void* data, size_t size) {
        ASSERT_EQ(ssize_t(size), write(pty_.master(), data, size));
        pollfd entry{portDescriptor(slot_), POLLIN, 0};
        ASSERT_EQ(1, poll(&entry, 1, 5000));
    }
    testing::Pty pty_;
    int slot_ = openPort(pty_.slave(), kLowestFreeSlot).slot;
};

TEST_F(Transfer, BytesBothWaysWithEveryValue) {
    unsigned char all[256];
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    ASSERT_EQ(256, putData(slot_, all, 256));
    unsigned char back[256];
    size_t got = 0;
    while (got < sizeof back) {
        ssize_t n = read(pty_.master(), back + got, sizeof back - got);
        ASSERT_GT(n, 0);
        got += size_t(n);
    }
    EXPECT_EQ(0, std::memcmp(all, back, sizeof all));

    EXPECT_EQ(0, putByte(slot_, 0x1FF));  // the low 8 bits only
    unsigned char one = 0;
    ASSERT_EQ(1, read(pty_.master(), &one, 1));
    EXPECT_EQ(0xFF, one);

    sendFromFarEnd(all, sizeof all);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(i, getByte(slot_));
    EXPECT_EQ(-1, getByte(slot_)) << "nothing left, no wait";
}

TEST_F(Transfer, ReadFillsOnlyWhatArrived) {
    const unsigned char four[] = {1, 2, 3, 4};
    sendFromFarEnd(four, sizeof four);
    unsigned char into[10];
    std::memset(into, 0xAA, sizeof into);
    EXPECT_EQ(-1, getData(slot_, into, 0));
    EXPECT_EQ(-1, getData(slot_, into, -3));
    EXPECT_EQ(4, getData(slot_, into, 10));
    EXPECT_EQ(0, std::memcmp(four, into, 4));
    for (int i = 4; i < 10; ++i) EXPECT_EQ(0xAA, into[i]);
    EXPECT_EQ(0, getData(slot_, into, 10)) << "nothing arrived";
}

TEST_F(Transfer, ReceiveTimeoutIsTakenAfreshAndNegativeEndsAtOnce) {
    setReceiveTimeout(slot_, 200);
    auto start = Clock::now();
    EXPECT_EQ(-1, getByte(slot_));
    EXPECT_GE(millisecondsSince(start), 195);

    setReceiveTimeout(slot_, -1);
    start = Clock::now();
    unsigned char into[4];
    EXPECT_EQ(0, getData(slot_, into, 4));
    EXPECT_EQ(-1, getByte(slot_));
    EXPECT_LT(millisecondsSince(start), 100);
    EXPECT_EQ(-1, awaitInput(portDescriptor(slot_), INT_MIN));
}

TEST_F(Transfer, DescriptorsAbove1024AreWaitedOn) {
    const int high = dup2(portDescriptor(slot_), 1500);
    ASSERT_EQ(1500, high);
    EXPECT_EQ(0, awaitInput(high, 50));
    const char byte = 'x';
    ASSERT_EQ(1, write(pty_.master(), &byte, 1));
    EXPECT_EQ(1, awaitInput(high, 5000));
    close(high);
}

TEST_F(Transfer, QueuesOfAnOpenPort) {
    const unsigned char data[] = {9, 8, 7};
    sendFromFarEnd(data, sizeof data);
    EXPECT_EQ(3, receivedCount(slot_));
    EXPECT_EQ(0, flushReceived(slot_));
    EXPECT_EQ(0, receivedCount(slot_));
    EXPECT_EQ(0, unsentCount(slot_));
    EXPECT_EQ(0, flushUnsent(slot_));
    EXPECT_EQ(0, drainOutput(slot_));
}

// Free slots and numbers outside the table: nothing waits, nothing outside the tables is
// touched (ASan watches), and each call reports its failure.
TEST_F(Transfer, FreeSlotsAndSlotsOutsideTheTable) {
    ASSERT_EQ(kTimeoutStored, setReceiveTimeout(5, 5000));
    const auto start = Clock::now();
    unsigned char buffer[4] = {};
    for (int slot : {5, -1, kPortSlots, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(-1, putByte(slot, 1));
        EXPECT_EQ(-1, putData(slot, buffer, 4));
        EXPECT_EQ(-1, getByte(slot));
        EXPECT_EQ(-1, getData(slot, buffer, 4));
        EXPECT_EQ(-1, flushReceived(slot));
        EXPECT_EQ(-1, flushUnsent(slot));
        EXPECT_EQ(0, receivedCount(slot));
        EXPECT_EQ(0, unsentCount(slot));
        EXPECT_EQ(-1, drainOutput(slot));
    }
    EXPECT_LT(millisecondsSince(start), 1000) << "a free slot's timeout is not waited out";
    EXPECT_EQ(-1, putData(slot_, buffer, -1));
}

TEST_F(Transfer, TimeoutsBelongToTheSlot) {
    EXPECT_EQ(kTimeoutStored, setReceiveTimeout(3, 250));
    EXPECT_EQ(kTimeoutStored, setTransmitTimeout(3, -7));
    EXPECT_EQ(250, receiveTimeout(3));
    EXPECT_EQ(-7, transmitTimeout(3));
    EXPECT_EQ(0, receiveTimeout(4));
    closePort(slot_);
    EXPECT_EQ(0, openPort(pty_.slave(), 3).code);
    EXPECT_EQ(250, receiveTimeout(3));
    for (int slot : {-1, kPortSlots, INT_MIN, INT_MAX}) {
        EXPECT_EQ(kTimeoutRefused, setReceiveTimeout(slot, 1));
        EXPECT_EQ(kTimeoutRefused, setTransmitTimeout(slot, 1));
        EXPECT_EQ(0, receiveTimeout(slot));
        EXPECT_EQ(0, transmitTimeout(slot));
    }
}

}  // namespace
}  // namespace pellusk
