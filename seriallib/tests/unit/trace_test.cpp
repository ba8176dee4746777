// The call trace on its own: targets that nobody reads, a terminal that takes lines in part, and
// one that cannot be opened yet. Each case is a process of its own, as the trace starts once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "pty.h"
#include "trace.h"

namespace pellusk {
namespace {

void call() {
    trace::Call("SerGetLibVer").arg("padding", 1234567890).result(262151);
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
               line.find(" SerGetLibVer padding=1234567890 result=262151 us=") !=
                   std::string::npos &&
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

std::string fifoPath() {
    return std::filesystem::temp_directory_path() / ("pellusk-trace-" + std::to_string(getpid()));
}

// A pipe and a terminal that nobody reads for a while: each line that arrives is whole, and the
// first after the reader comes back tells how many were lost.
TEST(Trace, LinesArriveWholeAndTheNextSaysHowManyWereLost) {
    testing::Pty pty;
    const std::string fifo = fifoPath();
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    const int pipeReader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    fcntl(pipeReader, F_SETPIPE_SZ, 4096);
    for (auto [target, reader] :
         {std::pair(fifo.c_str(), pipeReader), std::pair(pty.slave(), pty.master)}) {
        if (reader == pty.master) {
            // As the trace's own process would start again: the target is read once.
            trace::state = trace::kUnknown;
            fcntl(pty.master, F_SETFL, O_NONBLOCK);
        }
        setenv("PELLUSK_TRACE", target, 1);
        constexpr int kCalls = 3000;
        for (int i = 0; i < kCalls; ++i) call();
        std::string text = drain(reader);
        call();
        const auto all = lines(text + drain(reader));
        ASSERT_LT(all.size(), static_cast<std::size_t>(kCalls)) << target;
        const std::string lost = " lost=" + std::to_string(kCalls + 1 - all.size());
        EXPECT_NE(std::string::npos, all.back().find(lost)) << target << ": " << all.back();
    }
    unlink(fifo.c_str());
}

// A FIFO that nobody reads yet cannot be opened: the trace tries again a second later, not at
// every call, and then says what it missed.
TEST(Trace, ATargetThatCouldNotBeOpenedIsTriedAgainASecondLater) {
    const std::string fifo = fifoPath();
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    setenv("PELLUSK_TRACE", fifo.c_str(), 1);
    const auto start = std::chrono::steady_clock::now();
    call();
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    int calls = 1;
    pollfd line{reader, POLLIN, 0};
    for (; poll(&line, 1, 10) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5);
         ++calls)
        call();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(3));
    const auto got = lines(drain(reader));
    ASSERT_EQ(1u, got.size());
    EXPECT_NE(std::string::npos, got[0].find(" lost=" + std::to_string(calls - 1))) << got[0];
    unlink(fifo.c_str());
}

}  // namespace
}  // namespace pellusk
