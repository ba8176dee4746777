#include "port_table.h"

#include <pthread.h>
#include <signal.h>

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

void storeDescriptor(int slot, int fd) {
    atomicRef(hSerPort[slot]).store(fd, std::memory_order_release);
}

int lowestFreeSlot() {
    for (int slot = 0; slot < kPortSlots; ++slot) {
        if (portDescriptor(slot) == kNoDescriptor) return slot;
    }
    return -1;
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
