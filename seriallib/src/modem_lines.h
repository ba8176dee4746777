// DTR and RTS, the break, and the four modem status lines of an open port. Every call asks the
// driver afresh: no line state is kept here.
#pragma once

namespace pellusk {

// Raises or drops one control line (TIOCM_DTR or TIOCM_RTS) with a single set-bits or
// clear-bits request, so a change that another thread makes to the other line at the same
// time is never undone. 0, or -1 when the request failed.
int setControlLine(int slot, int lineBit, bool raise);

// What tcsendbreak receives for a break duration: the duration divided by 250, truncated
// toward zero, so -249..249 ask for the platform's default break.
constexpr int breakUnits(int duration) {
    return duration / 250;
}

// How long the C library's tcsendbreak breaks for those units on Linux: 0 and below ask for
// the kernel's 250 ms; a positive count goes to TCSBRKP rounded up to tenths of a second, which
// the kernel sends as that many times 100 ms.
constexpr int breakMilliseconds(int duration) {
    const int units = breakUnits(duration);
    return units <= 0 ? 250 : (units + 99) / 100 * 100;
}

// 0, or -1 when the break could not be sent, or was ended by a close of the port (a close ends
// it at once, also while it waits for the output to leave) or a signal to the calling thread.
// The break lasts as the C library's tcsendbreak makes it; a pseudo-terminal sends none.
int sendBreak(int slot, int duration);

// 1 when the status line is asserted, 0 when it is not and when the query failed.
int statusLine(int slot, int lineBit);

}  // namespace pellusk
