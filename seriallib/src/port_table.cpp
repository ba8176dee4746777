#include "port_table.h"

#include <linux/futex.h>
#include <signal.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>

#include <cerrno>
#include <cstdio>

#include "continue_signal.h"
#include "failure.h"
#include "tarvio_version.h"

// Every slot starts free rather than holding descriptor 0: a per-port call made before the
// first open would otherwise act on the JVM's standard input.
#define PELLUSK_FREE_8 -1, -1, -1, -1, -1, -1, -1, -1
#define PELLUSK_FREE_64                                                             \
    PELLUSK_FREE_8, PELLUSK_FREE_8, PELLUSK_FREE_8, PELLUSK_FREE_8, PELLUSK_FREE_8, \
        PELLUSK_FREE_8, PELLUSK_FREE_8, PELLUSK_FREE_8

std::int32_t hSerPort[pellusk::kPortSlots] = {PELLUSK_FREE_64, PELLUSK_FREE_64};
std::int32_t tmoRx[pellusk::kPortSlots] = {};
std::int32_t tmoTx[pellusk::kPortSlots] = {};
std::int32_t firstTime = 1;
jclass ioEx = nullptr;
std::int32_t bannerShown = 0;
std::int32_t gotContinueSignal = 0;
const std::int32_t verLib = (PELLUSK_VERSION_MAJOR << 16) | PELLUSK_VERSION_MINOR;
const char* libVer = "kdxLuxArm " PELLUSK_VERSION_TEXT;

namespace pellusk {
namespace {

// Per slot: 0 free; kClaiming while an open puts its descriptor in (a few stores, no system
// call between); else the port's own hold plus one for each call using it, until a close sets
// kClosing and gives up the port's own hold, after which the count is the calls still holding
// it. The close frees the slot (0) once that count is 0 and close() has returned.
std::int32_t portUsers[kPortSlots] = {};
constexpr std::int32_t kClaiming = -1;
constexpr std::int32_t kClosing = 1 << 30;
// Written while the slot is claimed, read under a hold or by the close.
std::int32_t heldDescriptor[kPortSlots] = {};
std::int32_t wakeDescriptor[kPortSlots] = {};
// The process that opened the port: a child forked without exec shares its wake and has copies
// of its holds, of threads the fork did not copy.
pid_t openerProcess[kPortSlots] = {};
// Calls of the slot waiting for the output to leave (tcdrain, or a break before it starts),
// which only discarding the unsent output ends; and breaks of the slot on the line.
std::int32_t drainsRunning[kPortSlots] = {};
std::int32_t breaksRunning[kPortSlots] = {};

// The classic timespec, which SYS_futex takes on i386 whatever time_t the C library uses.
struct FutexTimeout {
    long tv_sec;
    long tv_nsec;
};

void awaitChange(std::int32_t& word, std::int32_t seen, long milliseconds) {
    const FutexTimeout timeout{0, milliseconds * 1000000L};
    syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, seen, &timeout, nullptr, 0);
}

void wakeCloser(std::int32_t& word) {
    syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Only an open port lends holds: not a free slot, a claimed one or one being closed.
bool takeHold(int slot) {
    auto users = atomicRef(portUsers[slot]);
    std::int32_t count = users.load(std::memory_order_relaxed);
    do {
        if (count <= 0 || (count & kClosing) != 0) return false;
    } while (!users.compare_exchange_weak(count, count + 1, std::memory_order_acquire,
                                          std::memory_order_relaxed));
    return true;
}

// While the port is open its own hold keeps the count above 0; once it is closing, the last
// holder to leave wakes the close.
void dropHold(int slot) {
    if (atomicRef(portUsers[slot]).fetch_sub(1, std::memory_order_acq_rel) - 1 == kClosing)
        wakeCloser(portUsers[slot]);
}

// Until no call holds the port. Each woken receive or break is gone within milliseconds; a
// wait for the output to leave is ended by discarding that output, again every 50 ms in case it
// began after the last discard.
void awaitLastHolder(int slot, int fd) {
    auto users = atomicRef(portUsers[slot]);
    for (std::int32_t now; (now = users.load(std::memory_order_acquire)) != kClosing;) {
        if (atomicRef(drainsRunning[slot]).load() > 0) tcflush(fd, TCOFLUSH);
        awaitChange(portUsers[slot], now, 50);
    }
}

bool claim(int slot) {
    std::int32_t free = 0;
    return atomicRef(portUsers[slot])
        .compare_exchange_strong(free, kClaiming, std::memory_order_acquire);
}

constexpr const char* kVendorTag = "Quorvia ";
constexpr const char* kNotice = "\nNative serial port support for Quorvia.SerialPortLocal";

}  // namespace

int portDescriptor(int slot) {
    if (!isSlot(slot)) return kNoDescriptor;
    return atomicRef(hSerPort[slot]).load(std::memory_order_acquire);
}

PortHold::PortHold(int slot) : slot_(-1), fd_(kNoDescriptor), wake_(kNoDescriptor) {
    if (!isSlot(slot) || !takeHold(slot)) return;
    slot_ = slot;
    fd_ = heldDescriptor[slot];
    wake_ = wakeDescriptor[slot];
}

PortHold::~PortHold() {
    if (fd_ != kNoDescriptor) dropHold(slot_);
}

bool PortHold::closing() const {
    return fd_ == kNoDescriptor ||
           (atomicRef(portUsers[slot_]).load(std::memory_order_acquire) & kClosing) != 0;
}

bool PortHold::breaking() const {
    return fd_ != kNoDescriptor &&
           atomicRef(breaksRunning[slot_]).load(std::memory_order_relaxed) > 0;
}

bool slotFree(int slot) {
    if (isSlot(slot)) return atomicRef(portUsers[slot]).load(std::memory_order_relaxed) == 0;
    for (int each = 0; each < kPortSlots; ++each)
        if (slotFree(each)) return true;
    return false;
}

PortHold occupySlot(int slot, int fd, int wakeFd) {
    int taken = -1;
    if (isSlot(slot)) {
        if (claim(slot)) taken = slot;
    } else {
        for (int each = 0; each < kPortSlots && taken < 0; ++each)
            if (claim(each)) taken = each;
    }
    if (taken < 0) return PortHold(-1, kNoDescriptor, kNoDescriptor);
    heldDescriptor[taken] = fd;
    wakeDescriptor[taken] = wakeFd;
    openerProcess[taken] = getpid();
    // The port's own hold and the opener's, before the descriptor is there to be closed.
    atomicRef(portUsers[taken]).store(2, std::memory_order_release);
    atomicRef(hSerPort[taken]).store(fd, std::memory_order_release);
    return PortHold(taken, fd, wakeFd);
}

int closeSlot(int slot) {
    auto users = atomicRef(portUsers[isSlot(slot) ? slot : 0]);
    std::int32_t count = users.load(std::memory_order_relaxed);
    do {
        if (!isSlot(slot) || count <= 0 || (count & kClosing) != 0) {
            errno = EBADF;
            return kFailed;
        }
    } while (!users.compare_exchange_weak(count, kClosing | (count - 1)));
    atomicRef(hSerPort[slot]).store(kNoDescriptor, std::memory_order_release);
    const int fd = heldDescriptor[slot], wake = wakeDescriptor[slot];
    if (openerProcess[slot] == getpid()) {
        const std::uint64_t one = 1;
        (void)!write(wake, &one, sizeof one);
        awaitLastHolder(slot, fd);
    }
    const int result = close(fd);
    const int error = errno;
    close(wake);
    users.store(0, std::memory_order_release);
    errno = error;
    return result;
}

PortMark::PortMark(const PortHold& port, Kind kind) {
    if (port.slot() < 0) return;
    count_ = &(kind == kWaitingForOutput ? drainsRunning : breaksRunning)[port.slot()];
    atomicRef(*count_).fetch_add(1);
}

PortMark::~PortMark() {
    if (count_ != nullptr) atomicRef(*count_).fetch_sub(1);
}

void showBanner() {
    // The exchange makes "once per process" hold even for two first opens on two threads.
    if (atomicRef(bannerShown).exchange(1) != 0) return;
    std::printf("%s%s%s\n", kVendorTag, libVer, kNotice);
}

}  // namespace pellusk
