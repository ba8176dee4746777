#include "modem_lines.h"

#include <linux/magic.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <termios.h>

#include <cerrno>

#include "failure.h"
#include "port_table.h"

namespace pellusk {

int setControlLine(int slot, int lineBit, bool raise) {
    int word = lineBit;
    PortHold port(slot);
    return ioctl(port.fd(), raise ? TIOCMBIS : TIOCMBIC, &word);
}

namespace {

// A pseudo-terminal has no break: tcsendbreak returns there at once, having nothing to wait for.
// Its slave lies on the devpts filesystem; its master, wherever its node is (/dev/ptmx), knows
// the pty's number. No device numbers to keep in step with the kernel's.
bool isPseudoTerminal(int fd) {
    struct statfs where;
    unsigned number = 0;
    return (fstatfs(fd, &where) == 0 && where.f_type == DEVPTS_SUPER_MAGIC) ||
           ioctl(fd, TIOCGPTN, &number) == 0;
}

}  // namespace

int sendBreak(int slot, int duration) {
    PortHold port(slot);
    const int fd = port.fd();
    if (fd == kNoDescriptor || isPseudoTerminal(fd)) return tcsendbreak(fd, breakUnits(duration));
    // As tcsendbreak sends it, in steps that a close ends: first a drain of the held output, whose
    // wait a close ends by discarding that output; then, unless the port is closing by now, the
    // break (TIOCSBRK, which finds nothing left to wait for), a wait on the port's wake, and
    // TIOCCBRK, also after the close's wake. A close during the drain so ends the call before the
    // break starts, where TIOCSBRK's own wait would have been ended by the close's flush and gone
    // on to break the line.
    const PortMark waitingForOutput(port, PortMark::kWaitingForOutput);
    const bool drained = !port.closing() && tcdrain(fd) == 0;
    if (port.closing()) errno = EBADF;
    if (!drained || port.closing()) return kFailed;
    // A driver that can tell only now that it sends no break: tcsendbreak takes that for done.
    if (ioctl(fd, TIOCSBRK) != 0) return errno == EOPNOTSUPP ? 0 : kFailed;
    const PortMark sending(port, PortMark::kBreakOnLine);
    pollfd wake{port.wakeFd(), POLLIN, 0};
    // Ended early by a close, or by a signal to this thread, as the kernel's break was.
    const int ended = poll(&wake, 1, breakMilliseconds(duration));
    const int error = ended > 0 ? EBADF : errno;
    const int cleared = ioctl(fd, TIOCCBRK);
    if (ended == 0) return cleared;
    errno = error;
    return kFailed;
}

int statusLine(int slot, int lineBit) {
    // The word stays 0 when the query fails: a free slot, or a device without modem lines,
    // reads as "not asserted".
    int word = 0;
    PortHold port(slot);
    ioctl(port.fd(), TIOCMGET, &word);
    return (word & lineBit) != 0 ? 1 : 0;
}

}  // namespace pellusk
