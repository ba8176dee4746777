#include "transfer.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cerrno>

#include "continue_signal.h"
#include "failure.h"
#include "port_table.h"
#include "timeouts.h"

namespace pellusk {

int lineState(int fd) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, 0);
    return ready > 0 ? entry.revents : ready;
}

namespace {

struct Deadline {
    explicit Deadline(int timeoutMs) {
        clock_gettime(CLOCK_MONOTONIC, &at);
        at.tv_sec += timeoutMs / 1000;
        at.tv_nsec += (timeoutMs % 1000) * 1000000L;
        if (at.tv_nsec >= 1000000000L) at.tv_sec += 1, at.tv_nsec -= 1000000000L;
    }
    // Rounded up, so the wait never ends early.
    int remainingMs() const {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = (static_cast<long long>(at.tv_sec) - now.tv_sec) * 1000000000LL +
                               (at.tv_nsec - now.tv_nsec);
        return left <= 0 ? 0 : static_cast<int>((left + 999999) / 1000000);
    }
    timespec at;
};

}  // namespace

int awaitInput(const PortHold& port, int timeoutMs) {
    if (timeoutMs < 0) {
        errno = EINVAL;
        return kFailed;
    }
    // Nothing to wake: no share of the continue latch, whose lock a polling loop would meet.
    if (timeoutMs == 0) return lineState(port.fd());
    // poll rather than select: a descriptor of 1024 or more would overrun an fd_set. Besides the
    // line, the port's wake (its close) and the continue signal's pipe and latch.
    ContinueShare share;
    pollfd entries[] = {{port.fd(), POLLIN, 0},
                        {port.wakeFd(), POLLIN, 0},
                        {share.pipeFd(), POLLIN, 0},
                        {share.latchFd(), POLLIN, 0}};
    const Deadline deadline(timeoutMs);
    for (int waitMs = timeoutMs;; waitMs = deadline.remainingMs()) {
        const int ready = poll(entries, 4, waitMs);
        if (ready < 0) return kFailed;  // a signal to this very thread ends the wait too
        if (entries[1].revents != 0) return kPortClosing;
        if (entries[0].revents != 0) return entries[0].revents;
        if (ready == 0) return 0;
        // The pipe woke every wait; only a signal since this wait began ends it.
        if (share.fired()) return 0;
    }
}

namespace {

// As a write on the port's non-blocking descriptor while the kernel's own break held its write
// lock: nothing taken, EAGAIN.
ssize_t writePort(const PortHold& port, const void* data, std::size_t count) {
    if (port.breaking()) {
        errno = EAGAIN;
        return kFailed;
    }
    return write(port.fd(), data, count);
}

}  // namespace

int putByte(int slot, int value) {
    const unsigned char byte = static_cast<unsigned char>(value);
    PortHold port(slot);
    return writePort(port, &byte, 1) == 1 ? 0 : -1;
}

int putData(int slot, const void* data, int count) {
    if (count < 0) return kFailed;
    PortHold port(slot);
    return static_cast<int>(writePort(port, data, static_cast<std::size_t>(count)));
}

namespace {

constexpr int kNothing = 0;

// Up to `count` bytes: read first, and wait only when nothing is there, then read once more.
// The count read; kNothing when nothing came in time, the wait was ended by a signal, or the
// timeout is negative; kFailed for a free slot (at once), a hang-up, a failed read, and a slot
// closed while the call waited, whatever then ended the wait: the close meant to end it, and
// bytes still there were not the caller's any more.
int receive(int slot, void* into, int count) {
    PortHold port(slot);
    // poll ignores a negative descriptor and would sit out the whole timeout.
    if (port.fd() == kNoDescriptor) return kFailed;
    const int timeoutMs = receiveTimeout(slot);
    if (timeoutMs < 0) {
        // No wait and no read, yet a line that is gone (a hang-up, an unplugged adapter) fails.
        const int state = lineState(port.fd());
        return state > 0 && (state & (POLLHUP | POLLERR)) != 0 ? kFailed : kNothing;
    }
    const std::size_t size = static_cast<std::size_t>(count);
    ssize_t got = read(port.fd(), into, size);
    if (got > 0) return static_cast<int>(got);
    // 0 is end of file: the wait below tells a hang-up from a line that could yet deliver.
    if (got < 0 && errno != EAGAIN) return kFailed;
    const int ready = awaitInput(port, timeoutMs);
    if (ready == kPortClosing || port.closing()) return kFailed;
    if (ready <= 0) return kNothing;
    got = read(port.fd(), into, size);
    if (got > 0) return static_cast<int>(got);
    // Readable, yet nothing to read: a line that has hung up, unless another reader took the
    // bytes first.
    if (got < 0 && errno == EAGAIN && (ready & (POLLHUP | POLLERR)) == 0) return kNothing;
    return kFailed;
}

}  // namespace

int getByte(int slot) {
    unsigned char byte;
    return receive(slot, &byte, 1) == 1 ? byte : kFailed;
}

int getData(int slot, void* into, int count) {
    if (count < 1) return kFailed;
    return receive(slot, into, count);
}

int flushReceived(int slot) {
    PortHold port(slot);
    return tcflush(port.fd(), TCIFLUSH);
}

int flushUnsent(int slot) {
    PortHold port(slot);
    return tcflush(port.fd(), TCOFLUSH);
}

int receivedCount(int slot) {
    int count = 0;
    PortHold port(slot);
    return ioctl(port.fd(), FIONREAD, &count) == 0 ? count : 0;
}

int unsentCount(int slot) {
    int count = 0;
    PortHold port(slot);
    return ioctl(port.fd(), TIOCOUTQ, &count) == 0 ? count : 0;
}

int drainOutput(int slot) {
    PortHold port(slot);
    // A free slot has nothing to drain.
    if (port.fd() == kNoDescriptor) return 0;
    const PortMark mark(port, PortMark::kWaitingForOutput);
    // A close that began before the mark was seen discards the output anyway.
    if (port.closing()) return 0;
    return tcdrain(port.fd());
}

}  // namespace pellusk
