// Opens and closes meet in the port table for nanoseconds alone, so this program holds them there
// at link time: the close() of a chosen descriptor blocks until the test lets it go, as a UART's
// close waits for output that flow control holds back, and then may fail; an opening thread may
// stop as it starts to set its line up, or as it makes the continue signal's pipe or a latch; the
// first traced call, as it opens the trace's target.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <utility>

#include "continue_signal.h"
#include "failure.h"
#include "open_close.h"
#include "port_table.h"
#include "pty.h"
#include "timeouts.h"
#include "trace.h"
#include "transfer.h"

namespace {

// A call that, once armed, stops as it starts until the test lets it go.
struct Gate {
    void arm() {
        entered = {};
        mayReturn = {};
        armed = true;
    }
    // Whether the call was held.
    bool pass() {
        if (!armed.exchange(false)) return false;
        entered.set_value();
        mayReturn.get_future().wait();
        return true;
    }
    std::atomic<bool> armed{false};
    std::promise<void> entered, mayReturn;
};

Gate closeGate, setupGate, pipeGate, eventfdGate, openGate;
std::atomic<int> slowDescriptor{-1};  // the descriptor whose close() closeGate holds
int closeError = 0;                   // what the held close() then fails with
std::atomic<int> pipesMade{0};

}  // namespace

extern "C" int __real_close(int fd);
extern "C" int __wrap_close(int fd) {
    if (fd != slowDescriptor || !closeGate.pass()) return __real_close(fd);
    const int result = __real_close(fd);
    if (result == 0 && closeError != 0) {
        errno = closeError;
        return -1;
    }
    return result;
}

extern "C" int __real_tcsetattr(int fd, int when, const termios* setting);
extern "C" int __wrap_tcsetattr(int fd, int when, const termios* setting) {
    setupGate.pass();
    return __real_tcsetattr(fd, when, setting);
}

extern "C" int __real_pipe2(int ends[2], int flags);
extern "C" int __wrap_pipe2(int ends[2], int flags) {
    ++pipesMade;
    pipeGate.pass();
    return __real_pipe2(ends, flags);
}

extern "C" int __real_open(const char* path, int flags, mode_t mode);
extern "C" int __wrap_open(const char* path, int flags, mode_t mode) {
    openGate.pass();
    return __real_open(path, flags, mode);
}

extern "C" int __real_eventfd(unsigned count, int flags);
extern "C" int __wrap_eventfd(unsigned count, int flags) {
    eventfdGate.pass();
    return __real_eventfd(count, flags);
}

namespace pellusk {
namespace {

// Two first opens at once, while another thread frees descriptor 0: the second waits for the
// continue pipe the first makes, and makes none of its own. The pipe's read end lands at 0, a pipe
// like any other: a signal ends the waits through it, the unload may not unmap the copy while
// another handler stands in front of it, and closes it once the library's handler is out.
TEST(TableRaces, TwoFirstOpensAtOnceMakeOneContinuePipeEvenAtDescriptorZero) {
    pipeGate.arm();
    std::future<bool> first = std::async(std::launch::async, prepareContinueLatch);
    pipeGate.entered.get_future().wait();
    std::atomic<long> waiting{0};
    std::future<bool> second = std::async(std::launch::async, [&] {
        waiting = gettid();
        return prepareContinueLatch();
    });
    testing::awaitPoll(waiting, SYS_futex);  // on the latch's lock
    close(0);
    pipeGate.mayReturn.set_value();
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
    EXPECT_EQ(1, pipesMade.load());
    struct stat zero {};
    ASSERT_EQ(0, fstat(0, &zero));
    ASSERT_TRUE(S_ISFIFO(zero.st_mode));
    installContinueHandler();
    {
        ContinueShare wait;
        raise(SIGCONT);
        EXPECT_TRUE(wait.fired());
    }
    struct sigaction other = {}, library = {};
    other.sa_handler = [](int) {};
    sigaction(SIGCONT, &other, &library);
    EXPECT_FALSE(removeContinueHandler());
    sigaction(SIGCONT, &library, nullptr);
    ASSERT_TRUE(removeContinueHandler());
    closeContinueLatch(true);
    EXPECT_EQ(-1, fcntl(0, F_GETFD));
}

// A call that comes while the process's first call opens the trace's target goes untraced at
// once: it neither waits nor opens the target a second time.
TEST(TableRaces, ACallWhileTheFirstOpensTheTraceTargetOpensNothing) {
    const std::string target = ::testing::TempDir() + "pellusk-trace-" + std::to_string(getpid());
    setenv("PELLUSK_TRACE", target.c_str(), 1);
    openGate.arm();
    std::future<bool> first = std::async(std::launch::async, trace::on);
    openGate.entered.get_future().wait();
    EXPECT_FALSE(trace::on());
    openGate.mayReturn.set_value();
    EXPECT_TRUE(first.get());
    trace::stop();
    unlink(target.c_str());
}

// A child forked while another thread holds the latch's lock (here, making a fresh latch for a
// wait that begins after a signal) takes no share: it would wait for a lock nobody releases.
TEST(TableRaces, AChildForkedWhileTheLatchIsLockedTakesNoShare) {
    ASSERT_TRUE(prepareContinueLatch());
    installContinueHandler();
    ContinueShare woken;
    raise(SIGCONT);
    ASSERT_TRUE(woken.fired());
    eventfdGate.arm();
    std::future<int> later =
        std::async(std::launch::async, [] { return ContinueShare().latchFd(); });
    eventfdGate.entered.get_future().wait();
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);  // a child that waits for the lock ends with SIGALRM
        _exit(ContinueShare().latchFd() == -1 ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    eventfdGate.mayReturn.set_value();
    EXPECT_EQ(0, status);
    EXPECT_GE(later.get(), 0);
}

// A close during an open's setup waits for it, so the setting lands on the port it was meant for,
// and the slot is not given out before the close has returned.
TEST(TableRaces, ACloseWaitsForAnOpenSettingUpItsPort) {
    testing::Pty first, other;
    setupGate.arm();
    std::future<OpenResult> opening =
        std::async(std::launch::async, [&] { return openPort(first.slave(), 7); });
    setupGate.entered.get_future().wait();
    std::future<int> closing = std::async(std::launch::async, [] { return closePort(7); });
    EXPECT_EQ(std::future_status::timeout, closing.wait_for(std::chrono::milliseconds(200)));
    EXPECT_EQ(kSlotTaken, openPort(other.slave(), 7).status);
    setupGate.mayReturn.set_value();
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
    closeGate.arm();
    std::future<int> closing = std::async(std::launch::async, [&] { return closePort(slot); });
    closeGate.entered.get_future().wait();
    std::future<OpenResult> opening =
        std::async(std::launch::async, [&] { return openPort(other.slave(), kLowestFreeSlot); });
    const bool openedMeanwhile =
        opening.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const int closeStatus = openPort(slow.slave(), slot).status;
    closeGate.mayReturn.set_value();
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
    const int slot = openPort(pty.slave(), kLowestFreeSlot).slot;
    setReceiveTimeout(slot, 2000);
    std::future<int> receiving = testing::receiveWaiting(slot);
    slowDescriptor = portDescriptor(slot);
    closeGate.arm();
    closeError = EIO;
    std::future<std::pair<int, int>> closing =
        std::async(std::launch::async, [&] { return std::pair(closePort(slot), errno); });
    closeGate.entered.get_future().wait();
    // The receive let go of the port before close() was called, and returns while close() is
    // still held: it waits for nothing of the close's. Its result is set a moment after it let go.
    EXPECT_EQ(std::future_status::ready, receiving.wait_for(std::chrono::seconds(10)));
    closeGate.mayReturn.set_value();
    EXPECT_EQ(std::pair(-1, EIO), closing.get());
    EXPECT_EQ(-1, receiving.get());
    closeError = 0;
}

}  // namespace
}  // namespace pellusk
