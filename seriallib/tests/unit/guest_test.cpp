// The library as a guest in a process it does not own: an application's continue handler around the
// library's, and the latch that carries the signal to the waits; its own signal to a waiting
// thread; a child forked without exec that uses and closes the ports it inherited; the call trace
// on targets that nobody reads, or that cannot be opened yet. Each case runs in a process of its
// own (the handler and the trace are the process's).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jni.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "continue_signal.h"
#include "open_close.h"
#include "port_table.h"
#include "pty.h"
#include "timeouts.h"
#include "trace.h"
#include "transfer.h"

namespace pellusk {
namespace {

// The application's handler: counts its runs and notes the mask and stack it ran with; with
// `callsReplaced`, it calls the action it replaced (the library's), as the usual convention has it.
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
    if (callsReplaced) replaced.sa_sigaction(signalNumber, info, context);
}

void plainApplication(int signalNumber) {
    application(signalNumber, nullptr, nullptr);
}

// The application's handler as SA_SIGINFO in `flags` asks for it: with its siginfo, or plain.
void installApplication(int flags, int masked = 0) {
    struct sigaction action = {};
    if ((flags & SA_SIGINFO) != 0) {
        action.sa_sigaction = application;
    } else {
        action.sa_handler = plainApplication;
    }
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    if (masked != 0) sigaddset(&action.sa_mask, masked);
    ASSERT_EQ(0, sigaction(SIGCONT, &action, &replaced));
}

// The replaced action runs as the kernel would have run it: its kind and flags, from a table. The
// last row's application handler calls the library's, which the library then installs over it
// again, as the next open does: one signal runs each once, with no recursion.
TEST(ContinueChain, TheReplacedActionKeepsItsMaskFlagsAndStackAndRunsOncePerSignal) {
    static char alternate[64 * 1024];
    const stack_t stack{alternate, 0, sizeof alternate};
    ASSERT_EQ(0, sigaltstack(&stack, nullptr));
    const auto onAlternate = [] {
        return stackSeen >= reinterpret_cast<std::uintptr_t>(alternate) &&
               stackSeen < reinterpret_cast<std::uintptr_t>(alternate + sizeof alternate);
    };
    const struct {
        int flags, masked, runs;
        bool continueBlocked, usr1Blocked, alternateStack, callsLibrary;
    } rows[] = {
        {SA_SIGINFO, 0, 3, true, false, false, false},
        {0, 0, 3, true, false, false, false},
        {static_cast<int>(SA_SIGINFO | SA_RESETHAND), 0, 1, true, false, false, false},
        {SA_SIGINFO, SIGUSR1, 3, true, true, false, false},
        {SA_SIGINFO | SA_NODEFER, 0, 3, false, false, false, false},
        {SA_SIGINFO | SA_ONSTACK, 0, 3, true, false, true, false},
        {SA_SIGINFO, 0, 3, true, false, false, true},
    };
    // An ignored signal is no action to pass on.
    signal(SIGCONT, SIG_IGN);
    installContinueHandler();
    raise(SIGCONT);
    EXPECT_EQ(1, readResumeState(true));
    for (const auto& row : rows) {
        SCOPED_TRACE("flags " + std::to_string(row.flags));
        runs = 0;
        callsReplaced = row.callsLibrary;
        installApplication(row.flags, row.masked);
        installContinueHandler();
        for (int i = 0; i < 3; ++i) raise(SIGCONT);
        EXPECT_EQ(row.runs, runs.load());
        EXPECT_EQ(1, readResumeState(true));
        EXPECT_EQ(row.continueBlocked, sigismember(&maskSeen, SIGCONT) == 1);
        EXPECT_EQ(row.usr1Blocked, sigismember(&maskSeen, SIGUSR1) == 1);
        EXPECT_EQ(row.alternateStack, onAlternate());
    }
    // The default action replaced at the next open: the application's is passed on no more.
    signal(SIGCONT, SIG_DFL);
    installContinueHandler();
    runs = 0;
    raise(SIGCONT);
    EXPECT_EQ(0, runs.load());
}

// A child forked without exec, while a thread of the parent waits in a receive: its receive
// neither hangs nor touches the parent's; its close frees its own slot and ends no parent wait.
TEST(Fork, AChildClosesItsCopiesAndLeavesTheParentsPortAlone) {
    testing::Pty pty;
    const int slot = openPort(pty.slave(), kLowestFreeSlot).slot;
    ASSERT_GE(slot, 0);
    setReceiveTimeout(slot, 20000);
    std::future<int> receiving = testing::receiveWaiting(slot);
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

// A signal of the application's to a thread that waits in a receive ends the wait with nothing,
// as it ended the kernel's interrupted wait.
TEST(Signal, ToTheWaitingThreadEndsItsReceive) {
    testing::Pty pty;
    const int slot = openPort(pty.slave(), kLowestFreeSlot).slot;
    ASSERT_GE(slot, 0);
    setReceiveTimeout(slot, 60000);
    struct sigaction action {};
    action.sa_handler = plainApplication;
    ASSERT_EQ(0, sigaction(SIGUSR1, &action, nullptr));
    long receiver = 0;
    std::future<int> receiving = testing::receiveWaiting(slot, &receiver);
    ASSERT_EQ(0, tgkill(getpid(), static_cast<pid_t>(receiver), SIGUSR1));
    EXPECT_EQ(std::future_status::ready, receiving.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(1, runs);
    EXPECT_EQ(0, closePort(slot));  // which would end a wait the signal did not
    EXPECT_EQ(-1, receiving.get());
}

// The continue latch as awaitInput waits on it: a wait ends when its pipe or latch is readable
// and a signal came since it began.
bool readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 0) == 1;
}

bool ends(ContinueShare& wait) {
    return (readable(wait.pipeFd()) || readable(wait.latchFd())) && wait.fired();
}

// No free descriptor number, while it lives: the limit lowered to the lowest free one.
struct NoFreeDescriptors {
    NoFreeDescriptors() {
        getrlimit(RLIMIT_NOFILE, &saved);
        const int lowest = open("/dev/null", O_RDONLY | O_CLOEXEC);
        close(lowest);
        const rlimit low{static_cast<rlim_t>(lowest), saved.rlim_max};
        setrlimit(RLIMIT_NOFILE, &low);
    }
    ~NoFreeDescriptors() { setrlimit(RLIMIT_NOFILE, &saved); }
    rlimit saved;
};

class ContinueLatch : public ::testing::Test {
  protected:
    void SetUp() override {
        // Without standard input the first latch is descriptor 0, as good as any other.
        close(0);
        ASSERT_TRUE(prepareContinueLatch());
        installContinueHandler();
    }
};

// A wait that begins while the waits a signal woke are still returning is not ended by that
// signal, whichever of them looks last, but by the next one.
TEST_F(ContinueLatch, AWaitBegunAfterASignalWaitsForTheNextWhileTheWokenOnesReturn) {
    for (const int woken : {1, 3}) {
        std::vector<std::unique_ptr<ContinueShare>> before;
        for (int i = 0; i < woken; ++i) before.push_back(std::make_unique<ContinueShare>());
        raise(SIGCONT);
        EXPECT_TRUE(ends(*before[0])) << woken;
        ContinueShare later;
        EXPECT_FALSE(ends(later)) << woken;
        for (auto& wait : before) EXPECT_TRUE(ends(*wait)) << woken;
        EXPECT_FALSE(ends(later)) << woken;
        raise(SIGCONT);
        EXPECT_TRUE(ends(later)) << woken;
    }
    // A receive, likewise: it sits out its whole timeout.
    testing::Pty pty;
    const int slot = openPort(pty.slave(), kLowestFreeSlot).slot;
    setReceiveTimeout(slot, 300);
    ContinueShare first, second;
    raise(SIGCONT);
    ASSERT_TRUE(ends(first));
    const auto start = std::chrono::steady_clock::now();
    std::future<int> receiving = testing::receiveWaiting(slot);
    EXPECT_TRUE(ends(second));
    EXPECT_EQ(-1, receiving.get());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(0, closePort(slot));
}

// With every latch of the ring held by a wait its own signal woke (32, the ring's length), or no
// descriptor left for a fresh one, a wait that begins ends at once rather than on a latch no
// signal will fire. Each latch is reused, fresh and with its old descriptor, as soon as its last
// wait has left, whichever it is.
TEST_F(ContinueLatch, ALatchIsReusedOnceItsWaitsHaveLeftAndWaitsBeyondTheRingEndAtOnce) {
    using testing::descriptors;
    constexpr int kRing = 32;
    std::unique_ptr<ContinueShare> waits[kRing];
    const auto wakeNew = [](std::unique_ptr<ContinueShare>& wait, int at) {
        wait = std::make_unique<ContinueShare>();
        EXPECT_FALSE(ends(*wait)) << at;
        raise(SIGCONT);
        EXPECT_TRUE(ends(*wait)) << at;
    };
    wakeNew(waits[0], 0);
    {
        const NoFreeDescriptors none;
        EXPECT_TRUE(ends(*std::make_unique<ContinueShare>())) << "no descriptor for a fresh latch";
    }
    for (int i = 1; i < kRing; ++i) wakeNew(waits[i], i);
    const auto open = descriptors();
    EXPECT_TRUE(ends(*std::make_unique<ContinueShare>())) << "beyond the ring";
    for (int i = kRing - 1; i >= 0; --i) {
        waits[i].reset();
        wakeNew(waits[i], i);
    }
    EXPECT_EQ(open, descriptors());
    // The unload closes every latch, descriptor 0 too, and the pipe once no handler can write to
    // it; a later first open makes them again.
    for (auto& wait : waits) wait.reset();
    const int pipe = ContinueShare().pipeFd();
    closeContinueLatch(false);
    EXPECT_EQ(open - kRing, descriptors());
    EXPECT_NE(-1, fcntl(pipe, F_GETFD)) << "the pipe, while a handler may write";
    closeContinueLatch(true);
    EXPECT_EQ(open - kRing - 2, descriptors());
    ASSERT_TRUE(prepareContinueLatch());
    EXPECT_EQ(open - kRing + 1, descriptors());
}

// The handler keeps errno, also when its byte finds the pipe full (no wait has drained it).
TEST_F(ContinueLatch, TheHandlerKeepsErrno) {
    for (int i = 0; i < 70000; ++i) raise(SIGCONT);
    errno = 0;
    raise(SIGCONT);
    EXPECT_EQ(0, errno);
}

// The last call of a run pads with 1234567891, so that its line can be told from the others.
void call(long padding = 1234567890) {
    trace::Call("SerGetLibVer").arg("padding", padding).result(262151);
}

// Everything the reader finds now, as whole lines; a line cut short fails the test.
std::string drain(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    return text;
}

std::vector<std::string> lines(const std::string& text) {
    // Time, thread, then the call as made; a loss count may end it.
    const auto whole = [](const std::string& line) {
        const std::size_t dot = line.find('.'), tid = line.find(" tid=");
        return dot != std::string::npos && tid == dot + 7 &&
               line.find(" tid=", tid + 1) == std::string::npos &&
               line.find(" SerGetLibVer padding=123456789") != std::string::npos &&
               line.find(" result=262151 us=") != std::string::npos &&
               line.find_first_not_of("0123456789", dot + 1) == tid &&
               line.find_first_not_of("0123456789lost= \r", line.rfind(" us=") + 4) ==
                   std::string::npos;
    };
    std::vector<std::string> all;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        all.push_back(text.substr(at, end - at));
        EXPECT_TRUE(whole(all.back())) << all.back();
    }
    EXPECT_EQ(at, text.size()) << "a line without its end";
    return all;
}

// A FIFO that nobody reads yet cannot be opened: the trace tries again a second later, not at
// every call, and its first line says what it missed. Then the pipe and a terminal (twice: each
// time it takes a line in part) go unread for a while: each line that arrives is whole, and the
// first after the reader is back says how many were lost.
TEST(Trace, ATargetIsRetriedLinesArriveWholeAndLossesAreCounted) {
    testing::Pty pty;
    const std::string fifo =
        std::filesystem::temp_directory_path() / ("pellusk-trace-" + std::to_string(getpid()));
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    setenv("PELLUSK_TRACE", fifo.c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    call();
    const int pipeReader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    int calls = 1;
    pollfd line{pipeReader, POLLIN, 0};
    for (; poll(&line, 1, 10) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5);
         ++calls)
        call();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(3));
    const auto first = lines(drain(pipeReader));
    ASSERT_EQ(1u, first.size());
    EXPECT_NE(std::string::npos, first[0].find(" lost=" + std::to_string(calls - 1))) << first[0];

    fcntl(pipeReader, F_SETPIPE_SZ, 4096);
    for (auto [target, reader] :
         {std::pair(fifo.c_str(), pipeReader), std::pair(pty.slave(), pty.master),
          std::pair(pty.slave(), pty.master)}) {
        if (reader == pty.master) {
            // As the trace's own process would start again: the target is read once.
            trace::state = trace::kUnknown;
            fcntl(pty.master, F_SETFL, O_NONBLOCK);
            // Output as it is: a newline the terminal turned into two bytes it may drop in part.
            termios t{};
            tcgetattr(pty.master, &t), t.c_oflag &= ~OPOST, tcsetattr(pty.master, TCSANOW, &t);
        }
        setenv("PELLUSK_TRACE", target, 1);
        constexpr int kCalls = 3000;
        for (int i = 0; i < kCalls; ++i) call();
        std::string text = drain(reader);
        call(1234567891);
        // A terminal hands its output on to the reader a moment later, maybe in pieces.
        pollfd more{reader, POLLIN, 0};
        while (text.find("padding=1234567891 result=262151") == std::string::npos &&
               poll(&more, 1, 2000) > 0)
            text += drain(reader);
        const auto all = lines(text);
        ASSERT_LT(all.size(), static_cast<std::size_t>(kCalls)) << target;
        // A terminal frees room as it hands lines on, so a line may get through amid the losses
        // and tell those before it: every call's line arrived or was told lost, once.
        std::size_t told = 0;
        for (const std::string& line : all) {
            if (const std::size_t at = line.find(" lost="); at != std::string::npos)
                told += std::stoul(line.substr(at + 6));
        }
        EXPECT_EQ(static_cast<std::size_t>(kCalls + 1), all.size() + told) << target;
    }
    unlink(fifo.c_str());
}

// What each value of the variable leaves the trace in; its file is rw-r--r--, maybe descriptor 0.
// A line too long is cut at 736 bytes, and still ends with its loss count and newline. A result
// code gives errno only when it is not 0.
TEST(Trace, EachTargetsStateAndALineCutToFit) {
    const std::string file = "/tmp/pellusk-cut-" + std::to_string(getpid());
    close(0);
    umask(022);
    const std::pair<const char*, std::int32_t> rows[] = {
        {"", trace::kOff}, {".", trace::kRetry}, {file.c_str(), trace::kOn}};
    for (const auto& [target, left] : rows) {
        setenv("PELLUSK_TRACE", target, 1);
        trace::state = trace::kUnknown;
        EXPECT_EQ(left == trace::kOn, trace::on()) << target;
        EXPECT_EQ(left, trace::state) << target;
    }
    EXPECT_EQ(std::filesystem::perms(0644), std::filesystem::status(file).permissions());
    const std::string name(800, 'n');
    for (int i = 0; i < 2; ++i) trace::Call("SerGetLibVer").arg(name.c_str(), 1).result(0);
    const std::string text = drain(open(file.c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(736u + 8 + 737, text.size()) << text;
    EXPECT_EQ("n lost=1\n", text.substr(735, 9));
    // A code is a failure unless it is 0: only then does its line give errno.
    for (int code : {0, 1}) {
        trace::Call call("SerConfigure");
        errno = EAGAIN;
        call.code(code);
    }
    const std::string codes = drain(open(file.c_str(), O_RDONLY | O_CLOEXEC)).substr(text.size());
    EXPECT_NE(std::string::npos, codes.find(" result=0 us=")) << codes;
    EXPECT_NE(std::string::npos, codes.find(" result=1 errno=EAGAIN us=")) << codes;
    unlink(file.c_str());
}

// "stderr" as each kind of standard error the JVM may have: a file is written through descriptor
// 2 itself, whose offset the JVM's own writes share; a socket with send(), and a pipe through a
// description of its own, so that a full one nobody reads makes no call wait. stop() closes only
// what the trace opened.
TEST(Trace, ToStandardErrorOfEachKind) {
    setenv("PELLUSK_TRACE", "stderr", 1);
    const int saved = dup(STDERR_FILENO);
    for (const char* kind : {"file", "socket", "pipe"}) {
        int ends[2];
        if (kind[0] == 'f') {
            char path[] = "/tmp/pellusk-stderr-XXXXXX";
            ends[1] = mkstemp(path);
            ends[0] = open(path, O_RDONLY);
            unlink(path);
        } else {
            ASSERT_EQ(0, kind[0] == 's' ? socketpair(AF_UNIX, SOCK_STREAM, 0, ends) : pipe(ends));
        }
        fcntl(ends[0], F_SETFL, O_NONBLOCK);
        dup2(ends[1], STDERR_FILENO);
        close(ends[1]);
        const long before = testing::descriptors();
        trace::state = trace::kUnknown;
        ASSERT_EQ(2, write(STDERR_FILENO, "a\n", 2));
        call();
        ASSERT_EQ(2, write(STDERR_FILENO, "b\n", 2));
        std::string text = drain(ends[0]);
        ASSERT_TRUE(text.starts_with("a\n") && text.ends_with("b\n")) << kind << ": " << text;
        EXPECT_EQ(1u, lines(text.substr(2, text.size() - 4)).size()) << kind;
        if (kind[0] != 'f') {
            // Full, as the JVM's own blocking description finds it: the call's line is dropped.
            fcntl(STDERR_FILENO, F_SETFL, O_NONBLOCK);
            while (write(STDERR_FILENO, "c", 1) == 1) {
            }
            fcntl(STDERR_FILENO, F_SETFL, 0);
            call();
        }
        JNI_OnUnload(nullptr, nullptr);
        EXPECT_EQ(before, testing::descriptors()) << kind;
        EXPECT_NE(-1, fcntl(STDERR_FILENO, F_GETFD)) << kind;
        dup2(saved, STDERR_FILENO);
        close(ends[0]);
    }
}

}  // namespace
}  // namespace pellusk
