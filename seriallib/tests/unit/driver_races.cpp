// Opens and closes meet in the port table for nanoseconds alone, so this program holds them there
// at link time: the close() of a chosen descriptor blocks until the test lets it go, as a UART's
// close waits for output that flow control holds back, and an opening thread may stop as it
// starts to set its line up.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <utility>

#include "open_close.h"
#include "port_table.h"
#include "pty.h"

namespace {

std::atomic<int> slowDescriptor{-1};
std::promise<void> closeEntered, closeMayReturn, mayGoOn;
thread_local bool stopInSetup = false;
std::promise<void> setupEntered;

}  // namespace

extern "C" int __real_close(int fd);
extern "C" int __wrap_close(int fd) {
    int chosen = fd;
    if (fd >= 0 && slowDescriptor.compare_exchange_strong(chosen, -1)) {
        closeEntered.set_value();
        closeMayReturn.get_future().wait();
    }
    return __real_close(fd);
}

extern "C" int __real_tcsetattr(int fd, int when, const termios* setting);
extern "C" int __wrap_tcsetattr(int fd, int when, const termios* setting) {
    if (std::exchange(stopInSetup, false)) {
        setupEntered.set_value();
        mayGoOn.get_future().wait();
    }
    return __real_tcsetattr(fd, when, setting);
}

namespace pellusk {
namespace {

// Another thread closes an opening thread's port and opens a third before the first open has
// set its line up: that setting and its input flush belong to the first port alone, even though
// the third may be given the descriptor number that a close would free.
TEST(TableRaces, AnOpenSetsUpItsOwnPortWhenItIsClosedAndAnotherOpenedMeanwhile) {
    testing::Pty first, third;
    std::future<OpenResult> opening = std::async(std::launch::async, [&] {
        stopInSetup = true;
        return openPort(first.slave(), 7);
    });
    setupEntered.get_future().wait();
    EXPECT_EQ(0, closePort(7));
    const int slot = openPort(third.slave(), kLowestFreeSlot).slot;
    const int fd = portDescriptor(slot);
    termios line{};
    tcgetattr(fd, &line);
    cfsetspeed(&line, B115200);
    EXPECT_EQ(0, tcsetattr(fd, TCSANOW, &line));
    EXPECT_EQ(3, write(third.master, "abc", 3));
    pollfd input{fd, POLLIN, 0};
    EXPECT_EQ(1, poll(&input, 1, 5000));

    mayGoOn.set_value();
    EXPECT_EQ(code::kOk, opening.get().code);
    EXPECT_EQ(0, tcgetattr(fd, &line));
    EXPECT_EQ(speed_t(B115200), cfgetospeed(&line));
    int waiting = 0;
    EXPECT_EQ(0, ioctl(fd, FIONREAD, &waiting));
    EXPECT_EQ(3, waiting);
    EXPECT_EQ(0, closePort(slot));
}

// A close that blocks in the driver holds up no other open, and its slot is not given to a new
// open, by name or by number, before that close has returned.
TEST(TableRaces, ACloseThatBlocksHoldsUpNoOpenAndKeepsItsSlotUntilItReturns) {
    testing::Pty slow, other;
    const int slot = openPort(slow.slave(), kLowestFreeSlot).slot;
    slowDescriptor = portDescriptor(slot);
    std::future<int> closing = std::async(std::launch::async, [&] { return closePort(slot); });
    closeEntered.get_future().wait();
    std::future<OpenResult> opening =
        std::async(std::launch::async, [&] { return openPort(other.slave(), kLowestFreeSlot); });
    const bool openedMeanwhile =
        opening.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const int closeCode = openPort(slow.slave(), slot).code;
    closeMayReturn.set_value();
    ASSERT_TRUE(openedMeanwhile) << "an open waited for the close of another port";
    EXPECT_NE(slot, opening.get().slot);
    EXPECT_EQ(code::kSlotTaken, closeCode) << "the slot is still closing";
    EXPECT_EQ(0, closing.get());
    EXPECT_EQ(code::kOk, openPort(slow.slave(), slot).code) << "free once the close returned";
    for (int s = 0; s < kPortSlots; ++s) closePort(s);
}

}  // namespace
}  // namespace pellusk
