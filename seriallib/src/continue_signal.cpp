#include "continue_signal.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "legacy_exports.h"

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

// Written by the handler; the pipe's ends once, before the handler is first installed, by the
// process that made them (latchOwner).
std::uint32_t signalsNoted = 0;
int pipeRead = -1, pipeWrite = -1;
pid_t latchOwner = 0;

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

// Under the lock, as a wait begins, when the current latch has fired: the first latch from it on
// that no wait shares (itself, once its waits have left) is reset and becomes current. While none
// is, the fired one stays current, and a later signal fires it again, harmlessly.
void freshCurrent() {
    for (int i = current, step = 0; step < kLatches; ++step, i = (i + 1) % kLatches) {
        if (latches[i].shares == 0 && ready(latches[i])) {
            current = i;
            return;
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
}

// A process forked without exec shares the pipe with its parent, whose waits its signals must
// not wake, and may hold a copy of the latch's lock taken by a thread that was not copied.
bool latchOwnedHere() {
    return shared(latchOwner).load(std::memory_order_relaxed) == getpid();
}

// The handler's part: async-signal-safe (an atomic count and one write), errno kept.
void noteContinueSignal() {
    const int saved = errno;
    shared(gotContinueSignal).store(1);
    shared(signalsNoted).fetch_add(1, std::memory_order_release);
    const int fd = shared(pipeWrite).load(std::memory_order_acquire);
    const char byte = 0;
    // A full pipe is readable already.
    if (fd >= 0 && latchOwnedHere()) (void)!write(fd, &byte, 1);
    errno = saved;
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
    shared(latchOwner).store(getpid(), std::memory_order_relaxed);
    shared(pipeWrite).store(ends[1], std::memory_order_release);
    shared(pipeRead).store(ends[0], std::memory_order_release);
    return true;
}

ContinueShare::ContinueShare() {
    if (shared(pipeRead).load(std::memory_order_acquire) < 0 || !latchOwnedHere()) return;
    Locked lock;
    if (current < 0) return;  // closed by the unload
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

void closeContinueLatch(bool handlerGone) {
    Locked lock;
    for (Latch& latch : latches) {
        if (latch.fd >= 0) close(latch.fd);
        latch = Latch{};
    }
    current = -1;
    if (!handlerGone || pipeRead < 0) return;
    close(shared(pipeWrite).exchange(-1, std::memory_order_acq_rel));
    close(shared(pipeRead).exchange(-1, std::memory_order_acq_rel));
}

int readResumeState(bool clear) {
    auto flag = shared(gotContinueSignal);
    return clear ? flag.exchange(0) : flag.load();
}

// --- The handler and its chain ------------------------------------------------------------------

namespace {

// The action replaced, as one of a few records that are written only under installLock and
// published by their index in one atomic word, so that a handler running on another thread never
// reads a record half written: it would take seven more installs to write over the one it reads.
constexpr int kRecords = 8, kNoChain = -1;
struct sigaction records[kRecords];
int chainIndex = kNoChain;
int nextRecord = 0;
pthread_mutex_t installLock = PTHREAD_MUTEX_INITIALIZER;

// Set while the handler passes the signal on, on this thread. Initial-exec: the handler must not
// be the first to touch a thread's dynamic TLS, which may allocate.
__thread int passingOn __attribute__((tls_model("initial-exec")));

struct InstallLocked {
    InstallLocked() { pthread_mutex_lock(&installLock); }
    ~InstallLocked() { pthread_mutex_unlock(&installLock); }
    InstallLocked(const InstallLocked&) = delete;
    InstallLocked& operator=(const InstallLocked&) = delete;
};

// The function an action calls; null for SIG_DFL and SIG_IGN, which are no functions (and
// SIGCONT continues the process whatever its action), and for the library's own plain handler,
// whose work is done already.
void* handlerOf(const struct sigaction& action) {
    if ((action.sa_flags & SA_SIGINFO) != 0) return reinterpret_cast<void*>(action.sa_sigaction);
    if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN ||
        action.sa_handler == sigContinueHandler) {
        return nullptr;
    }
    return reinterpret_cast<void*>(action.sa_handler);
}

// Under installLock.
void chainTo(const struct sigaction& action) {
    if (handlerOf(action) == nullptr) {
        shared(chainIndex).store(kNoChain, std::memory_order_release);
        return;
    }
    const int index = nextRecord;
    nextRecord = (nextRecord + 1) % kRecords;
    records[index] = action;
    shared(chainIndex).store(index, std::memory_order_release);
}

bool chained(struct sigaction* out) {
    const int index = shared(chainIndex).load(std::memory_order_acquire);
    if (index == kNoChain) return false;
    *out = records[index];
    return true;
}

bool rechain(void* from, const struct sigaction* to) {
    InstallLocked lock;
    struct sigaction now;
    if (!chained(&now) || handlerOf(now) != from) return false;
    chainTo(*to);
    return true;
}

// As the kernel would have run the replaced action: its mask and, unless SA_NODEFER, the signal
// itself added to the mask the signal interrupted; once only with SA_RESETHAND.
void passOn(int signalNumber, siginfo_t* info, void* context) {
    int index = shared(chainIndex).load(std::memory_order_acquire);
    if (index == kNoChain) return;
    const struct sigaction action = records[index];
    // The kernel resets a one-shot action as it delivers; of two threads, one runs it.
    if ((action.sa_flags & SA_RESETHAND) != 0 &&
        !shared(chainIndex).compare_exchange_strong(index, kNoChain)) {
        return;
    }
    sigset_t during = static_cast<ucontext_t*>(context)->uc_sigmask, before;
    sigorset(&during, &during, &action.sa_mask);
    if ((action.sa_flags & SA_NODEFER) == 0) sigaddset(&during, signalNumber);
    pthread_sigmask(SIG_SETMASK, &during, &before);
    if ((action.sa_flags & SA_SIGINFO) != 0) {
        action.sa_sigaction(signalNumber, info, context);
    } else {
        action.sa_handler(signalNumber);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void continueAction(int signalNumber, siginfo_t* info, void* context) {
    noteContinueSignal();
    // Back through the chain on this thread (or a signal nested under SA_NODEFER): noted, and
    // the chain that runs already is not run again.
    if (passingOn != 0) return;
    passingOn = 1;
    passOn(signalNumber, info, context);
    passingOn = 0;
}

}  // namespace

// The exported name of another copy's link: dlsym finds it in the object the handler lies in.
PELLUSK_EXPORT const ContinueLink pelluskContinueLink;
const ContinueLink pelluskContinueLink = {kContinueLinkMagic, continueAction, chained, rechain};

namespace {

// The link of the copy of the library whose action `handler` is; null for any other handler.
const ContinueLink* linkOf(void* handler) {
    // A handler of the main program is named by argv[0], which may be "": dlopen then gives the
    // program itself, whose link, if any, is not this handler's, so the check below refuses it.
    Dl_info where{};
    if (handler == nullptr || dladdr(handler, &where) == 0 || where.dli_fname == nullptr)
        return nullptr;
    void* object = dlopen(where.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (object == nullptr) return nullptr;
    const auto* link = static_cast<const ContinueLink*>(dlsym(object, "pelluskContinueLink"));
    // The object stays loaded: whoever installed its handler holds it.
    dlclose(object);
    if (link == nullptr || link->magic != kContinueLinkMagic ||
        reinterpret_cast<void*>(link->action) != handler) {
        return nullptr;
    }
    return link;
}

// A chain of copies longer than this is taken for a stranger's.
constexpr int kLongestChain = 16;

// The link of the copy, reached from `handler` through copies only, that passes the signal on to
// this copy's action; null when none does.
const ContinueLink* copyInFrontOfUs(void* handler) {
    for (int step = 0; step < kLongestChain; ++step) {
        const ContinueLink* link = linkOf(handler);
        struct sigaction next;
        if (link == nullptr || link == &pelluskContinueLink || !link->chained(&next))
            return nullptr;
        if (handlerOf(next) == reinterpret_cast<void*>(continueAction)) return link;
        handler = handlerOf(next);
    }
    return nullptr;
}

}  // namespace

void installContinueHandler() {
    InstallLocked lock;
    struct sigaction current = {};
    if (sigaction(SIGCONT, nullptr, &current) != 0) return;
    void* const installed = handlerOf(current);
    if (installed == reinterpret_cast<void*>(continueAction)) return;
    // Another copy that passes the signal on to this one: installing over it would close a loop.
    if (copyInFrontOfUs(installed) != nullptr) return;
    chainTo(current);
    struct sigaction action = {};
    action.sa_sigaction = continueAction;
    // As with the classic signal(): restartable calls restart, while a receive wait in poll()
    // still ends, and the handler stays installed. The replaced action's stack is its chain's.
    action.sa_flags = SA_RESTART | SA_SIGINFO | (current.sa_flags & SA_ONSTACK);
    sigemptyset(&action.sa_mask);
    sigaction(SIGCONT, &action, nullptr);
}

namespace {

bool leaveChains() {
    struct sigaction current = {}, replaced = {};
    if (sigaction(SIGCONT, nullptr, &current) != 0) return false;
    // What this copy replaced, as the kernel would hold it now: a one-shot action that has run is
    // SIG_DFL.
    if (!chained(&replaced)) {
        replaced = {};
        replaced.sa_handler = SIG_DFL;
    }
    if (handlerOf(current) == reinterpret_cast<void*>(continueAction))
        return sigaction(SIGCONT, &replaced, nullptr) == 0;
    // Never installed: nothing to take out.
    if (shared(pipeRead).load(std::memory_order_acquire) < 0) return true;
    const ContinueLink* front = copyInFrontOfUs(handlerOf(current));
    return front != nullptr && front->rechain(reinterpret_cast<void*>(continueAction), &replaced);
}

}  // namespace

bool removeContinueHandler() {
    InstallLocked lock;
    if (leaveChains()) return true;
    // Someone may still call the action: the copy stays mapped when the JVM closes it.
    Dl_info self;
    if (dladdr(&pelluskContinueLink, &self) != 0 && self.dli_fname != nullptr)
        dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    return false;
}

}  // namespace pellusk

// Runs on whichever thread takes the signal: lock-free stores and one write, nothing else.
void sigContinueHandler(int) {
    pellusk::noteContinueSignal();
}
