// The receive and transmit timeouts of each slot. They belong to the slot, not to one opening
// of it: open and close leave them alone, and they may be set before the port is opened.
#pragma once

namespace pellusk {

// 0, or kNotASlot for a slot outside the table, which stores nothing.
int setReceiveTimeout(int slot, int milliseconds);
int setTransmitTimeout(int slot, int milliseconds);

// The stored value; 0 for a slot outside the table.
int receiveTimeout(int slot);
int transmitTimeout(int slot);

}  // namespace pellusk
