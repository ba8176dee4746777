// The port table at the moments where one thread's open or close meets another's. Those moments
// last nanoseconds on a pty, so this program stretches them at link time: a close() of one chosen
// descriptor blocks until the test lets it return (-Wl,--wrap=close), as a UART's close waits
// for output that flow control holds back; and an opening thread may stop right after it
// unlocks a mutex (-Wl,--wrap=pthread_mutex_unlock), where a table lock would end.
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "open_close.h"
#include "port_table.h"
#include "pty.h"

namespace {

// A close() that blocks until the test lets it return.
std::atomic<int> slowDescriptor{-1};
std::promise<void> closeEntered, closeMayReturn;
std::atomic<bool> closeLetGo{false};

void letCloseReturn() {
    if (!closeLetGo.exchange(true)) closeMayReturn.set_value();
}

// An opening thread that stops after its first mutex unlock; the promise says whether it did.
thread_local bool stopAfterUnlock = false;
std::atomic<bool> stopTold{false};
std::promise<bool> stoppedAfterUnlock;
std::promise<void> mayGoOn;

void tellStopped(bool stopped) {
    if (!stopTold.exchange(true)) stoppedAfterUnlock.set_value(stopped);
}

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

extern "C" int __real_pthread_mutex_unlock(pthread_mutex_t* mutex);
extern "C" int __wrap_pthread_mutex_unlock(pthread_mutex_t* mutex) {
    const int result = __real_pthread_mutex_unlock(mutex);
    if (stopAfterUnlock) {
        stopAfterUnlock = false;
        tellStopped(true);
        mayGoOn.get_future().wait();
    }
    return result;
}

namespace pellusk {
namespace {

using namespace std::chrono_literals;

// Another thread closes an opening thread's port, and a third port is opened into its slot,
// before the first open has set its line up: that setting and its input flush belong to the
// first port alone. The third port is left at 115200 bit/s with RTS/CTS and 9 bytes waiting.
TEST(TableRaces, AnOpenSetsUpItsOwnPortEvenWhenItIsClosedAndItsSlotRetakenAtOnce) {
    testing::Pty first, third;
    std::future<OpenResult> opening = std::async(std::launch::async, [&] {
        stopAfterUnlock = true;
        const OpenResult result = openPort(first.slave(), 7);
        stopAfterUnlock = false;
        tellStopped(false);
        return result;
    });
    stoppedAfterUnlock.get_future().wait();
    EXPECT_EQ(0, closePort(7));
    ASSERT_EQ(code::kOk, openPort(third.slave(), 7).code);
    const int fd = portDescriptor(7);
    termios line;
    ASSERT_EQ(0, tcgetattr(fd, &line));
    cfsetspeed(&line, B115200);
    line.c_cflag |= CRTSCTS;
    ASSERT_EQ(0, tcsetattr(fd, TCSANOW, &line));
    ASSERT_EQ(9, write(third.master(), "123456789", 9));
    pollfd input{fd, POLLIN, 0};
    ASSERT_EQ(1, poll(&input, 1, 5000));

    mayGoOn.set_value();
    EXPECT_EQ(code::kOk, opening.get().code);
    ASSERT_EQ(0, tcgetattr(fd, &line));
    EXPECT_EQ(speed_t(B115200), cfgetospeed(&line));
    EXPECT_EQ(tcflag_t(CRTSCTS), line.c_cflag & CRTSCTS);
    int waiting = 0;
    ASSERT_EQ(0, ioctl(fd, FIONREAD, &waiting));
    EXPECT_EQ(9, waiting);
    EXPECT_EQ(0, closePort(7));
}

// A close that blocks in the driver holds up no other open, and its slot is not given to a new
// open, by name or by number, before that close has returned.
TEST(TableRaces, ACloseThatBlocksHoldsUpNoOpenAndKeepsItsSlotUntilItReturns) {
    testing::Pty slow, other;
    const int slot = openPort(slow.slave(), kLowestFreeSlot).slot;
    ASSERT_LE(0, slot);
    slowDescriptor = portDescriptor(slot);
    std::future<int> closing = std::async(std::launch::async, [&] { return closePort(slot); });
    closeEntered.get_future().wait();
    std::future<OpenResult> opening =
        std::async(std::launch::async, [&] { return openPort(other.slave(), kLowestFreeSlot); });
    struct LetCloseReturn {
        ~LetCloseReturn() { letCloseReturn(); }
    } onEveryExit;
    ASSERT_EQ(std::future_status::ready, opening.wait_for(10s))
        << "an open waited for the close of another port";
    const OpenResult elsewhere = opening.get();
    EXPECT_EQ(code::kOk, elsewhere.code);
    EXPECT_NE(slot, elsewhere.slot);
    EXPECT_EQ(code::kSlotTaken, openPort(slow.slave(), slot).code) << "the slot is still closing";
    EXPECT_EQ(std::future_status::timeout, closing.wait_for(0s));

    letCloseReturn();
    EXPECT_EQ(0, closing.get());
    EXPECT_EQ(code::kOk, openPort(slow.slave(), slot).code) << "free once the close returned";
    EXPECT_EQ(0, closePort(slot));
    EXPECT_EQ(0, closePort(elsewhere.slot));
}

}  // namespace
}  // namespace pellusk
