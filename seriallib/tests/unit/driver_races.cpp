// Opens and closes meet in the port table for nanoseconds alone, so this program holds them there
// at link time: the close() of a chosen descriptor blocks until the test lets it go, as a UART's
// close waits for output that flow control holds back, and then may fail; an opening thread may
// stop as it starts to set its line up, or as it makes the continue signal's pipe or a latch.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <thread>
#include <utility>

#include "continue_signal.h"
#include "failure.h"
#include "open_close.h"
#include "port_table.h"
#include "pty.h"
#include "timeouts.h"
#include "transfer.h"

namespace {

std::atomic<int> slowDescriptor{-1};
int closeError = 0;  // what the slow close() then fails with
std::promise<void> closeEntered, closeMayReturn, mayGoOn;
thread_local bool stopInSetup = false;
std::promise<void> setupEntered;
std::atomic<bool> holdPipe{false};  // the next pipe2() waits until the test lets it go
std::atomic<int> pipesMade{0};
std::promise<void> pipeEntered, pipeMayReturn;
std::atomic<bool> holdEventfd{false};  // likewise the next eventfd()
std::promise<void> eventfdEntered, eventfdMayReturn;

}  // namespace

extern "C" int __real_close(int fd);
extern "C" int __wrap_close(int fd) {
    int chosen = fd;
    if (fd >= 0 && slowDescriptor.compare_exchange_strong(chosen, -1)) {
        closeEntered.set_value();
        closeMayReturn.get_future().wait();
        if (__real_close(fd) == 0 && closeError != 0) {
            errno = closeError;
            return -1;
        }
        return 0;
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

extern "C" int __real_pipe2(int ends[2], int flags);
extern "C" int __wrap_pipe2(int ends[2], int flags) {
    ++pipesMade;
    if (holdPipe.exchange(false)) {
        pipeEntered.set_value();
        pipeMayReturn.get_future().wait();
    }
    return __real_pipe2(ends, flags);
}

extern "C" int __real_eventfd(unsigned count, int flags);
extern "C" int __wrap_eventfd(unsigned count, int flags) {
    if (holdEventfd.exchange(false)) {
        eventfdEntered.set_value();
        eventfdMayReturn.get_future().wait();
    }
    return __real_eventfd(count, flags);
}

namespace pellusk {
namespace {

// Two first opens at once: the second waits for the continue pipe the first makes, and makes
// none of its own.
TEST(TableRaces, TwoFirstOpensAtOnceMakeOneContinuePipe) {
    holdPipe = true;
    std::future<bool> first = std::async(std::launch::async, prepareContinueLatch);
    pipeEntered.get_future().wait();
    std::atomic<long> waiting{0};
    std::future<bool> second = std::async(std::launch::async, [&] {
        waiting = gettid();
        return prepareContinueLatch();
    });
    testing::awaitPoll(waiting, SYS_futex);  // on the latch's lock
    pipeMayReturn.set_value();
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
    EXPECT_EQ(1, pipesMade.load());
}

// A child forked while another thread holds the latch's lock (here, making a fresh latch for a
// wait that begins after a signal) takes no share: it would wait for a lock nobody releases.
TEST(TableRaces, AChildForkedWhileTheLatchIsLockedTakesNoShare) {
    ASSERT_TRUE(prepareContinueLatch());
    ASSERT_EQ(0, installContinueHandler());
    ContinueShare woken;
    raise(SIGCONT);
    ASSERT_TRUE(woken.fired());
    holdEventfd = true;
    std::future<int> later =
        std::async(std::launch::async, [] { return ContinueShare().latchFd(); });
    eventfdEntered.get_future().wait();
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);  // a child that waits for the lock ends with SIGALRM
        _exit(ContinueShare().latchFd() == -1 ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    eventfdMayReturn.set_value();
    EXPECT_EQ(0, status);
    EXPECT_GE(later.get(), 0);
}

// A close during an open's setup waits for it, so the setting lands on the port it was meant for,
// and the slot is not given out before the close has returned.
TEST(TableRaces, ACloseWaitsForAnOpenSettingUpItsPort) {
    testing::Pty first, other;
    std::future<OpenResult> opening = std::async(std::launch::async, [&] {
        stopInSetup = true;
        return openPort(first.slave(), 7);
    });
    setupEntered.get_future().wait();
    std::future<int> closing = std::async(std::launch::async, [] { return closePort(7); });
    EXPECT_EQ(std::future_status::timeout, closing.wait_for(std::chrono::milliseconds(200)));
    EXPECT_EQ(kSlotTaken, openPort(other.slave(), 7).status);
    mayGoOn.set_value();
    EXPECT_EQ(0, opening.get().status);
    EXPECT_EQ(0, closing.get());
    EXPECT_EQ(0, openPort(other.slave(), 7).status) << "free once the close returned";
    EXPECT_EQ(0, closePort(7));
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
    const int closeStatus = openPort(slow.slave(), slot).status;
    closeMayReturn.set_value();
    ASSERT_TRUE(openedMeanwhile) << "an open waited for the close of another port";
    EXPECT_NE(slot, opening.get().slot);
    EXPECT_EQ(kSlotTaken, closeStatus) << "the slot is still closing";
    EXPECT_EQ(0, closing.get());
    EXPECT_EQ(0, openPort(slow.slave(), slot).status) << "free once the close returned";
    for (int s = 0; s < kPortSlots; ++s) closePort(s);
}

// The close itself runs close(), after the receive it woke has returned, and reports its failure.
TEST(TableRaces, ACloseReportsItsOwnFailureAfterTheReceiveItWokeHasReturned) {
    testing::Pty pty;
    closeMayReturn = {};
    closeEntered = {};
    const int slot = openPort(pty.slave(), kLowestFreeSlot).slot;
    setReceiveTimeout(slot, 2000);
    std::future<int> receiving = testing::receiveWaiting(slot);
    slowDescriptor = portDescriptor(slot);
    closeError = EIO;
    std::future<std::pair<int, int>> closing =
        std::async(std::launch::async, [&] { return std::pair(closePort(slot), errno); });
    closeEntered.get_future().wait();
    // The receive let go of the port before close() was called, and returns while close() is
    // still held: it waits for nothing of the close's. Its result is set a moment after it let go.
    EXPECT_EQ(std::future_status::ready, receiving.wait_for(std::chrono::seconds(10)));
    closeMayReturn.set_value();
    EXPECT_EQ(std::pair(-1, EIO), closing.get());
    EXPECT_EQ(-1, receiving.get());
    closeError = 0;
}

}  // namespace
}  // namespace pellusk
