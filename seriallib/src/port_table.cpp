#include "port_table.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "trace.h"

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
const std::int32_t verLib = 0x40007;
const char* libVer = "kdxLuxArm 4.7";

namespace pellusk {
namespace {

// Per slot: the open port's own hold plus one for each call using its descriptor. 0 is a free
// slot; kClaimed a slot that an open has claimed, or whose last descriptor is being closed. The
// slot has one descriptor while this is above 0, and only a free slot may be claimed.
std::int32_t portUsers[kPortSlots] = {};
constexpr std::int32_t kClaimed = -1;
// The descriptor that the last hold closes; written only while the slot is claimed.
std::int32_t heldDescriptor[kPortSlots] = {};

// Takes a hold unless nobody holds the slot, which then has no descriptor to lend.
bool takeHold(int slot) {
    auto users = atomicRef(portUsers[slot]);
    std::int32_t count = users.load(std::memory_order_relaxed);
    do {
        if (count <= 0) return false;
    } while (!users.compare_exchange_weak(count, count + 1, std::memory_order_acquire,
                                          std::memory_order_relaxed));
    return true;
}

// The last hold closes the descriptor. The slot stays claimed while close() runs, which may
// wait for the driver's closing wait, and is free only once close() has returned.
int dropHold(int slot) {
    const int fd = atomicRef(heldDescriptor[slot]).load(std::memory_order_relaxed);
    auto users = atomicRef(portUsers[slot]);
    std::int32_t count = users.load(std::memory_order_relaxed);
    std::int32_t next;
    do {
        next = count == 1 ? kClaimed : count - 1;
    } while (!users.compare_exchange_weak(count, next, std::memory_order_acq_rel,
                                          std::memory_order_relaxed));
    if (next != kClaimed) return 0;
    const int result = close(fd);
    users.store(0, std::memory_order_release);
    return result;
}

bool claim(int slot) {
    std::int32_t free = 0;
    return atomicRef(portUsers[slot])
        .compare_exchange_strong(free, kClaimed, std::memory_order_acquire);
}

constexpr const char* kVendorTag = "Quorvia ";
constexpr const char* kNotice = "\nNative serial port support for Quorvia.SerialPortLocal";

}  // namespace

int portDescriptor(int slot) {
    if (!isSlot(slot)) return kNoDescriptor;
    return atomicRef(hSerPort[slot]).load(std::memory_order_acquire);
}

PortHold::PortHold(int slot) : slot_(slot), fd_(kNoDescriptor) {
    if (!isSlot(slot) || !takeHold(slot)) return;
    fd_ = portDescriptor(slot);
    // Closed between the look at the count and the hold: the slot counts as free.
    if (fd_ == kNoDescriptor) dropHold(slot);
}

PortHold::~PortHold() {
    if (fd_ != kNoDescriptor) dropHold(slot_);
}

bool PortHold::stillOpen() const {
    return fd_ != kNoDescriptor && portDescriptor(slot_) == fd_;
}

SlotClaim::SlotClaim(int slot) {
    if (isSlot(slot) && claim(slot)) slot_ = slot;
}

SlotClaim::SlotClaim() {
    for (int slot = 0; slot < kPortSlots; ++slot) {
        if (claim(slot)) {
            slot_ = slot;
            return;
        }
    }
}

SlotClaim::~SlotClaim() {
    if (claimed()) atomicRef(portUsers[slot_]).store(0, std::memory_order_release);
}

PortHold SlotClaim::occupy(int fd) {
    const int slot = slot_;
    slot_ = -1;
    atomicRef(heldDescriptor[slot]).store(fd, std::memory_order_relaxed);
    // The port's own hold and the opener's, before the descriptor is there to be closed.
    atomicRef(portUsers[slot]).store(2, std::memory_order_release);
    atomicRef(hSerPort[slot]).store(fd, std::memory_order_release);
    return PortHold(slot, fd);
}

int closeSlot(int slot) {
    const int fd =
        isSlot(slot) ? atomicRef(hSerPort[slot]).exchange(kNoDescriptor, std::memory_order_acq_rel)
                     : kNoDescriptor;
    if (fd == kNoDescriptor) {
        errno = EBADF;
        return -1;
    }
    return dropHold(slot);
}

void showBanner() {
    // The exchange makes "once per process" hold even for two first opens on two threads.
    if (atomicRef(bannerShown).exchange(1) != 0) return;
    std::printf("%s%s%s\n", kVendorTag, libVer, kNotice);
}

int installContinueHandler() {
    struct sigaction action = {};
    action.sa_handler = sigContinueHandler;
    // As with the classic signal(): restartable calls restart, while a receive wait in poll()
    // still ends, and the handler stays installed.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGCONT, &action, nullptr);
}

}  // namespace pellusk

void ShowBanner(JNIEnv*) {
    pellusk::showBanner();
}

// Runs on whichever thread takes the signal: one lock-free store, nothing else.
void sigContinueHandler(int) {
    pellusk::atomicRef(gotContinueSignal).store(1);
}

jint JNICALL Java_Quorvia_SerialPortLocal_SerGetLibVer(JNIEnv*, jobject) {
    return pellusk::trace::Call("SerGetLibVer").result(verLib);
}
