// Moving bytes through an open port, and the driver's queues behind it. Every byte goes
// straight to or from the terminal driver with one system call; the library buffers nothing
// from one call to the next.
#pragma once

#include <cstddef>

namespace pellusk {

// The most bytes one SerGetData or SerPutData call moves: it bounds the stack buffer through
// which Java arrays are copied. A larger send is a partial write, which the caller resends.
inline constexpr int kTransferChunk = 8192;

class PortHold;

// awaitInput's result for a port whose close has begun.
inline constexpr int kPortClosing = -2;

// Waits up to `timeoutMs` for input on the port: poll's events (above 0) when a read will not
// block (data, end of file or an error to collect); 0 when nothing came in time or a continue
// signal reached the process meanwhile, on whichever thread it landed; kPortClosing once the
// port's close has begun; -1 when the wait failed or a signal to this thread ended it. 0 does
// not wait; a negative timeout fails at once rather than waiting forever.
int awaitInput(const PortHold& port, int timeoutMs);

// The line's poll events now, without waiting; 0 when there are none.
int lineState(int fd);

// Writes the byte once; 0 when exactly that byte was written, -1 otherwise.
int putByte(int slot, int value);

// One write of `count` bytes (0 or more): the count written, or -1.
int putData(int slot, const void* data, int count);

// A receive reads first and waits at most the slot's receive timeout only when nothing is
// there, then reads once more. A negative timeout returns "nothing" at once, unread, unless the
// line has hung up.

// The next byte as 0..255; -1 when none came in time, the line has hung up, the read failed,
// the slot is free (which returns at once) or was closed while the call waited.
int getByte(int slot);

// Up to `count` bytes: the count read; 0 when nothing came in time or a signal ended the wait;
// -1 for a count below 1, a free slot (without waiting), a hang-up, a failed read, or a slot
// closed while the call waited.
int getData(int slot, void* into, int count);

// The queue operations: each one call on the slot's descriptor.
int flushReceived(int slot);  // tcflush's result
int flushUnsent(int slot);    // tcflush's result
int receivedCount(int slot);  // 0 when the driver cannot say
int unsentCount(int slot);    // 0 when the driver cannot say
int drainOutput(int slot);    // tcdrain's result; 0 on a free slot, and when a close ended it

}  // namespace pellusk
