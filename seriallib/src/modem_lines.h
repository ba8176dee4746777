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

// 0, or -1 when the break could not be sent.
int sendBreak(int slot, int duration);

// 1 when the status line is asserted, 0 when it is not and when the query failed.
int statusLine(int slot, int lineBit);

}  // namespace pellusk
