// The library as a guest in a process it does not own: an application's continue handler around
// the library's, and a child forked without exec that uses and closes the ports it inherited.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <vector>

#include "continue_signal.h"
#include "open_close.h"
#include "port_table.h"
#include "pty.h"
#include "timeouts.h"
#include "transfer.h"

namespace pellusk {
namespace {

// The application's handler: counts its runs and notes the mask and stack it ran with; with
// `replaced` set, it calls the action it replaced, as the usual convention has it.
std::atomic<int> runs{0};
sigset_t maskSeen;
std::uintptr_t stackSeen;
struct sigaction replaced;
bool callsReplaced = false;

void application(int signalNumber, siginfo_t* info, void* context) {
    ++runs;
    pthread_sigmask(SIG_SETMASK, nullptr, &maskSeen);
    int local;
    stackSeen = reinterpret_cast<std::uintptr_t>(&local);
    if (!callsReplaced) return;
    if ((replaced.sa_flags & SA_SIGINFO) != 0) {
        replaced.sa_sigaction(signalNumber, info, context);
    } else if (replaced.sa_handler != SIG_DFL && replaced.sa_handler != SIG_IGN) {
        replaced.sa_handler(signalNumber);
    }
}

void installApplication(int flags, int masked = 0) {
    struct sigaction action = {};
    action.sa_sigaction = application;
    action.sa_flags = SA_SIGINFO | flags;
    sigemptyset(&action.sa_mask);
    if (masked != 0) sigaddset(&action.sa_mask, masked);
    ASSERT_EQ(0, sigaction(SIGCONT, &action, &replaced));
}

// The application installs a handler that calls the library's after the library, then another
// port is opened: one signal runs each once, with no recursion.
TEST(ContinueChain, AnApplicationHandlerThatCallsTheLibrarysRunsOncePerSignal) {
    ASSERT_TRUE(prepareContinueLatch());
    ASSERT_EQ(0, installContinueHandler());
    callsReplaced = true;
    installApplication(0);
    ASSERT_EQ(0, installContinueHandler());
    for (int signal = 1; signal <= 3; ++signal) {
        raise(SIGCONT);
        EXPECT_EQ(signal, runs.load());
        EXPECT_EQ(1, readResumeState(true));
    }
}

// The replaced action runs as the kernel would have run it: its flags, from a table.
TEST(ContinueChain, TheReplacedActionKeepsItsMaskFlagsAndStack) {
    static char alternate[64 * 1024];
    const stack_t stack{alternate, 0, sizeof alternate};
    ASSERT_EQ(0, sigaltstack(&stack, nullptr));
    const auto onAlternate = [] {
        return stackSeen >= reinterpret_cast<std::uintptr_t>(alternate) &&
               stackSeen < reinterpret_cast<std::uintptr_t>(alternate + sizeof alternate);
    };
    const struct {
        int flags, masked, runs;
        bool continueBlocked, usr1Blocked, alternateStack;
    } rows[] = {
        {0, 0, 3, true, false, false},
        {static_cast<int>(SA_RESETHAND), 0, 1, true, false, false},
        {0, SIGUSR1, 3, true, true, false},
        {SA_NODEFER, 0, 3, false, false, false},
        {SA_ONSTACK, 0, 3, true, false, true},
    };
    for (const auto& row : rows) {
        runs = 0;
        installApplication(row.flags, row.masked);
        ASSERT_EQ(0, installContinueHandler());
        for (int i = 0; i < 3; ++i) raise(SIGCONT);
        EXPECT_EQ(row.runs, runs.load()) << "flags " << row.flags;
        EXPECT_EQ(row.continueBlocked, sigismember(&maskSeen, SIGCONT) == 1)
            << "flags " << row.flags;
        EXPECT_EQ(row.usr1Blocked, sigismember(&maskSeen, SIGUSR1) == 1) << "flags " << row.flags;
        EXPECT_EQ(row.alternateStack, onAlternate()) << "flags " << row.flags;
    }
}

// A child forked without exec, while a thread of the parent waits in a receive: its receive
// neither hangs nor touches the parent's; its close frees its own slot and ends no parent wait.
TEST(Fork, AChildClosesItsCopiesAndLeavesTheParentsPortAlone) {
    testing::Pty pty;
    const int slot = openPort(pty.slave(), kLowestFreeSlot).slot;
    ASSERT_GE(slot, 0);
    setReceiveTimeout(slot, 20000);
    std::atomic<long> receiver{0};
    std::future<int> receiving = std::async(std::launch::async, [&] {
        receiver = gettid();
        return getByte(slot);
    });
    testing::awaitPoll(receiver);
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);  // a hang ends the child with SIGALRM
        setReceiveTimeout(slot, 50);
        const bool ok = getByte(slot) == -1 && closePort(slot) == 0 && slotFree(slot);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_EQ(0, status) << "the child's receive and close";
    const unsigned char byte = 0x5A;
    ASSERT_EQ(1, write(pty.master, &byte, 1));
    EXPECT_EQ(0x5A, receiving.get()) << "the parent's receive waited on";
    EXPECT_EQ(0, closePort(slot));
}

}  // namespace
}  // namespace pellusk
