#include "continue_latch.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace pellusk {
namespace {

// Each latch is reset and reused once no wait shares it. Every wait holds one share, so all of
// them are in use only when that many waits each missed a different signal's wake-up, which
// no real process sees; the fired latch then stays current, and waits that start meanwhile
// return "nothing" at once rather than sleep through a signal.
constexpr int kLatches = 32;

struct Latch {
    int fd = -1;
    int shares = 0;
    bool fired = false;
};

pthread_mutex_t latchLock = PTHREAD_MUTEX_INITIALIZER;
Latch latches[kLatches];
int current = -1;
std::uint32_t signalsPassed = 0;  // under the lock

// Written by the handler; the pipe's ends once, before the handler is first installed.
std::uint32_t signalsNoted = 0;
int pipeRead = -1, pipeWrite = -1;

template <typename T>
std::atomic_ref<T> shared(T& value) {
    return std::atomic_ref<T>(value);
}

struct Locked {
    Locked() { pthread_mutex_lock(&latchLock); }
    ~Locked() { pthread_mutex_unlock(&latchLock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

bool ready(Latch& latch) {
    if (latch.fd < 0) latch.fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (latch.fd < 0) return false;
    if (latch.fired) {
        std::uint64_t count;
        (void)!read(latch.fd, &count, sizeof count);
        latch.fired = false;
    }
    return true;
}

// Under the lock: a current latch that has fired is replaced, or reset once nobody shares it.
void freshCurrent() {
    for (int i = current, step = 0; step < kLatches; ++step, i = (i + 1) % kLatches) {
        if (i == current ? latches[i].shares == 0 || !latches[i].fired : latches[i].shares == 0) {
            if (ready(latches[i])) {
                current = i;
                return;
            }
        }
    }
}

// Under the lock. The bytes only wake the waits; the counts say whether a signal is new, so a
// byte whose signal was passed on already fires nothing.
void passSignals() {
    char sink[64];
    while (read(pipeRead, sink, sizeof sink) > 0) {
    }
    const std::uint32_t noted = shared(signalsNoted).load(std::memory_order_acquire);
    if (noted == signalsPassed) return;
    signalsPassed = noted;
    Latch& old = latches[current];
    if (old.shares == 0) return;  // no wait to end: the latch stays fresh
    const std::uint64_t one = 1;
    (void)!write(old.fd, &one, sizeof one);
    old.fired = true;
    freshCurrent();
}

}  // namespace

bool prepareContinueLatch() {
    // Every open after the first finds them without the lock.
    if (shared(pipeRead).load(std::memory_order_acquire) >= 0) return true;
    Locked lock;
    if (pipeRead >= 0) return true;
    if (!ready(latches[0])) return false;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        // Nothing is kept: the next open makes both again.
        const int error = errno;
        close(latches[0].fd);
        latches[0].fd = -1;
        errno = error;
        return false;
    }
    current = 0;
    shared(pipeWrite).store(ends[1], std::memory_order_release);
    shared(pipeRead).store(ends[0], std::memory_order_release);
    return true;
}

void noteContinueSignal() {
    const int saved = errno;
    shared(signalsNoted).fetch_add(1, std::memory_order_release);
    const int fd = shared(pipeWrite).load(std::memory_order_acquire);
    const char byte = 0;
    // A full pipe is readable already.
    if (fd >= 0) (void)!write(fd, &byte, 1);
    errno = saved;
}

ContinueShare::ContinueShare() {
    if (shared(pipeRead).load(std::memory_order_acquire) < 0) return;
    Locked lock;
    if (shared(signalsNoted).load(std::memory_order_acquire) != signalsPassed) passSignals();
    if (latches[current].fired) freshCurrent();
    latch_ = current;
    ++latches[latch_].shares;
}

ContinueShare::~ContinueShare() {
    if (latch_ < 0) return;
    Locked lock;
    --latches[latch_].shares;
}

int ContinueShare::pipeFd() const {
    return latch_ < 0 ? -1 : pipeRead;
}

int ContinueShare::latchFd() const {
    return latch_ < 0 ? -1 : latches[latch_].fd;
}

bool ContinueShare::fired() {
    if (latch_ < 0) return false;
    Locked lock;
    passSignals();
    return latches[latch_].fired;
}

}  // namespace pellusk
