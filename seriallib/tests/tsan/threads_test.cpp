// The port table and its descriptor holds under ThreadSanitizer: a port closed and reopened again
// and again while two threads keep using its slot; receives ended by continue signals and closes.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "../unit/pty.h"
#include "continue_signal.h"
#include "failure.h"
#include "open_close.h"
#include "port_table.h"
#include "timeouts.h"
#include "trace.h"
#include "transfer.h"

namespace pellusk {
namespace {

TEST(Threads, ClosesUnderRunningCallsLeaveNoDescriptorBehind) {
    testing::Pty pty;
    prepareContinueLatch();  // the process's own, never closed
    setenv("PELLUSK_TRACE", "/dev/null", 1);
    trace::on();  // the target opened before the count
    const auto before = testing::descriptors();
    ASSERT_EQ(0, openPort(pty.slave(), 3).status);
    setReceiveTimeout(3, 1);
    std::atomic<bool> done{false};
    auto user = [&] {
        unsigned char into[4];
        while (!done) {
            trace::Call("SerPutByte", 3).result(putByte(3, 'u'));  // lines of both at once
            getData(3, into, sizeof into), receivedCount(3);
        }
    };
    std::thread users[] = {std::thread(user), std::thread(user)};
    for (int round = 0; round < 300; ++round) {
        ASSERT_EQ(0, closePort(3));
        // The slot comes back once the calls still holding its last descriptor have ended.
        while (openPort(pty.slave(), 3).status == kSlotTaken) std::this_thread::yield();
    }
    done = true;
    for (auto& t : users) t.join();
    EXPECT_EQ(0, closePort(3));
    EXPECT_EQ(before, testing::descriptors()) << "every descriptor was closed exactly once";
}

// Whichever thread a continue signal lands on, it ends every receive waiting then; a close ends
// every receive waiting on its port, and returns once they have.
TEST(Threads, ContinueSignalsAndClosesEndEveryWaitingReceive) {
    testing::Pty pty;
    constexpr int kFirst = 10, kWaits = 6;
    for (int round = 0; round < 40; ++round) {
        std::atomic<long> threads[kWaits] = {};
        std::future<int> waits[kWaits];
        for (int i = 0; i < kWaits; ++i) {
            ASSERT_EQ(0, openPort(pty.slave(), kFirst + i).status);
            setReceiveTimeout(kFirst + i, 20000);
            waits[i] = std::async(std::launch::async, [&, i] {
                threads[i] = gettid();
                unsigned char into[4];
                return getData(kFirst + i, into, sizeof into);
            });
        }
        for (auto& thread : threads) testing::awaitPoll(thread);
        const bool signal = round % 2 == 0;
        const auto start = std::chrono::steady_clock::now();
        if (signal) {
            kill(getpid(), SIGCONT);
        } else {
            for (int i = 0; i < kWaits; ++i) EXPECT_EQ(0, closePort(kFirst + i));
        }
        for (auto& wait : waits) EXPECT_EQ(signal ? 0 : -1, wait.get()) << "round " << round;
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10))
            << "round " << round;
        for (int i = 0; signal && i < kWaits; ++i) EXPECT_EQ(0, closePort(kFirst + i));
    }
}

}  // namespace
}  // namespace pellusk
