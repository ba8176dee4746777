#include "transfer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>

#include "open_close.h"
#include "port_table.h"
#include "pty.h"
#include "timeouts.h"

// The Java tests cover transfers on an open port; these cover what ASan and UBSan can watch:
// slots and counts outside what the tables and buffers hold.
namespace pellusk {
namespace {

constexpr int kOutsideTheTable[] = {-1, kPortSlots, INT_MIN, INT_MAX};

TEST(Transfer, FreeSlotsAndSlotsOutsideTheTableFailAtOnce) {
    ASSERT_EQ(kTimeoutStored, setReceiveTimeout(5, 5000));
    const auto start = std::chrono::steady_clock::now();
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
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1))
        << "a free slot's timeout is not waited out";
    setReceiveTimeout(5, 0);
}

TEST(Transfer, CountsOutsideTheBufferTransferNothing) {
    testing::Pty pty;
    const int slot = openPort(pty.slave(), kLowestFreeSlot).slot;
    ASSERT_EQ(0, slot);
    const char byte = 'x';
    ASSERT_EQ(1, write(pty.master(), &byte, 1));
    ASSERT_EQ(kTimeoutStored, setReceiveTimeout(slot, 5000));
    unsigned char into[2] = {};
    EXPECT_EQ(-1, putData(slot, into, -1));
    EXPECT_EQ(-1, putData(slot, into, INT_MIN));
    EXPECT_EQ(-1, getData(slot, into, 0));
    EXPECT_EQ(-1, getData(slot, into, INT_MIN));
    EXPECT_EQ(1, getData(slot, into, 2)) << "the byte waited through the refused calls";
    EXPECT_EQ('x', into[0]);
    EXPECT_EQ(-1, awaitInput(portDescriptor(slot), -1));
    setReceiveTimeout(slot, 0);
    closePort(slot);
}

TEST(Timeouts, BelongToTheSlotAndNothingOutsideTheTableIsStored) {
    EXPECT_EQ(kTimeoutStored, setReceiveTimeout(3, 250));
    EXPECT_EQ(kTimeoutStored, setTransmitTimeout(3, -7));
    EXPECT_EQ(250, receiveTimeout(3));
    EXPECT_EQ(-7, transmitTimeout(3));
    EXPECT_EQ(0, receiveTimeout(4));
    for (int slot : kOutsideTheTable) {
        EXPECT_EQ(kTimeoutRefused, setReceiveTimeout(slot, 1));
        EXPECT_EQ(kTimeoutRefused, setTransmitTimeout(slot, 1));
        EXPECT_EQ(0, receiveTimeout(slot));
        EXPECT_EQ(0, transmitTimeout(slot));
    }
    setReceiveTimeout(3, 0);
    setTransmitTimeout(3, 0);
}

}  // namespace
}  // namespace pellusk
