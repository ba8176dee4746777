// The port table, the descriptor holds and the resume flag under ThreadSanitizer: real ptys
// opened, used and closed from several threads at once, and continue signals landing between
// the flag's readers.
#include <dirent.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "../unit/pty.h"
#include "card_power.h"
#include "open_close.h"
#include "port_table.h"
#include "timeouts.h"
#include "transfer.h"

namespace pellusk {
namespace {

int openDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

TEST(Threads, OpensAndClosesNeverShareASlotAndEachPortCarriesItsOwnBytes) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::atomic<int> owner[kPortSlots];
    for (auto& o : owner) o = -1;
    std::atomic<int> failures{0};
    auto run = [&](int me) {
        testing::Pty pty;
        for (int round = 0; round < kRounds; ++round) {
            const OpenResult opened = openPort(pty.slave(), kLowestFreeSlot);
            if (opened.code != code::kOk || owner[opened.slot].exchange(me) != -1) {
                ++failures;
                return;
            }
            const unsigned char byte = static_cast<unsigned char>(me * kRounds + round);
            unsigned char echoed = 0;
            // Through the port to the far end and back: the slot leads to this thread's pty.
            if (putByte(opened.slot, byte) != 0 || read(pty.master(), &echoed, 1) != 1 ||
                write(pty.master(), &echoed, 1) != 1 || getByte(opened.slot) != byte) {
                ++failures;
            }
            owner[opened.slot] = -1;
            if (closePort(opened.slot) != 0) ++failures;
        }
    };
    for (int slot = 0; slot < kPortSlots; ++slot) setReceiveTimeout(slot, 5000);
    std::vector<std::thread> threads;
    for (int me = 0; me < kThreads; ++me) threads.emplace_back(run, me);
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, failures.load());
    for (int slot = 0; slot < kPortSlots; ++slot) setReceiveTimeout(slot, 0);
}

TEST(Threads, ClosesUnderRunningCallsLeaveNoDescriptorBehind) {
    testing::Pty pty;
    const int before = openDescriptors();
    constexpr int kSlot = 3;
    ASSERT_EQ(code::kOk, openPort(pty.slave(), kSlot).code);
    setReceiveTimeout(kSlot, 1);
    std::atomic<bool> done{false};
    auto user = [&] {
        unsigned char into[4];
        while (!done) {
            putByte(kSlot, 'u');
            getData(kSlot, into, sizeof into);
            receivedCount(kSlot);
        }
    };
    std::thread users[] = {std::thread(user), std::thread(user)};
    int reopened = 0;
    for (int round = 0; round < 300; ++round) {
        ASSERT_EQ(0, closePort(kSlot));
        // The slot comes back once the calls still holding its last descriptor have ended.
        while (openPort(pty.slave(), kSlot).code == code::kSlotTaken) std::this_thread::yield();
        ++reopened;
    }
    done = true;
    for (auto& t : users) t.join();
    ASSERT_EQ(0, closePort(kSlot));
    setReceiveTimeout(kSlot, 0);
    EXPECT_EQ(300, reopened);
    EXPECT_EQ(before, openDescriptors()) << "every descriptor was closed exactly once";
}

// Each signal lands on a reader thread, between or inside its read-and-clear calls; every one
// must be seen by exactly one clearing read.
TEST(Threads, EveryContinueSignalIsTakenOnceByTheClearingReads) {
    testing::Pty pty;
    const int slot = openPort(pty.slave(), kLowestFreeSlot).slot;  // installs the handler
    ASSERT_LE(0, slot);
    readResumeState(true);
    constexpr int kSignals = 300;
    std::atomic<int> taken{0};
    std::atomic<bool> done{false};
    std::atomic<int> readerIds[2] = {0, 0};
    auto reader = [&](int me) {
        readerIds[me] = testing::threadId();
        while (!done) {
            if (readResumeState(true) == 1) ++taken;
            readResumeState(false);
        }
    };
    std::thread readers[] = {std::thread(reader, 0), std::thread(reader, 1)};
    bool allTaken = true;
    for (int sent = 0; sent < kSignals && allTaken; ++sent) {
        int tid;
        while ((tid = readerIds[sent % 2]) == 0) std::this_thread::yield();
        ASSERT_EQ(0, syscall(SYS_tgkill, getpid(), tid, SIGCONT));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (taken < sent + 1 && (allTaken = std::chrono::steady_clock::now() < deadline))
            std::this_thread::yield();
    }
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_TRUE(allTaken) << "a signal was lost after " << taken << " of " << kSignals;
    EXPECT_EQ(kSignals, taken.load());
    closePort(slot);
}

}  // namespace
}  // namespace pellusk
