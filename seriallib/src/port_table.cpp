#include "port_table.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

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

pthread_mutex_t portTableMutex = PTHREAD_MUTEX_INITIALIZER;

// Per slot: the open port's own hold plus one for each call using its descriptor. The slot is
// not reused before this is back at 0, so while it is above 0 the slot has one descriptor.
std::int32_t portUsers[kPortSlots] = {};
// The descriptor that the last hold closes; written only while the slot has no users.
std::int32_t heldDescriptor[kPortSlots] = {};

// Takes a hold unless nobody holds the slot, which then has no descriptor to lend.
bool takeHold(int slot) {
    auto users = atomicRef(portUsers[slot]);
    std::int32_t count = users.load(std::memory_order_relaxed);
    do {
        if (count == 0) return false;
    } while (!users.compare_exchange_weak(count, count + 1, std::memory_order_acquire,
                                          std::memory_order_relaxed));
    return true;
}

int dropHold(int slot) {
    const int fd = atomicRef(heldDescriptor[slot]).load(std::memory_order_relaxed);
    if (atomicRef(portUsers[slot]).fetch_sub(1, std::memory_order_acq_rel) != 1) return 0;
    return close(fd);
}

constexpr const char* kVendorTag = "Quorvia ";
constexpr const char* kNotice = "\nNative serial port support for Quorvia.SerialPortLocal";

}  // namespace

PortTableLock::PortTableLock() {
    pthread_mutex_lock(&portTableMutex);
}
PortTableLock::~PortTableLock() {
    pthread_mutex_unlock(&portTableMutex);
}

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

bool slotReusable(int slot) {
    return portDescriptor(slot) == kNoDescriptor &&
           atomicRef(portUsers[slot]).load(std::memory_order_acquire) == 0;
}

int lowestFreeSlot() {
    for (int slot = 0; slot < kPortSlots; ++slot) {
        if (slotReusable(slot)) return slot;
    }
    return -1;
}

void occupySlot(int slot, int fd) {
    atomicRef(heldDescriptor[slot]).store(fd, std::memory_order_relaxed);
    atomicRef(hSerPort[slot]).store(fd, std::memory_order_release);
    atomicRef(portUsers[slot]).store(1, std::memory_order_release);
}

int releaseSlot(int slot) {
    atomicRef(hSerPort[slot]).store(kNoDescriptor, std::memory_order_release);
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
    return verLib;
}
