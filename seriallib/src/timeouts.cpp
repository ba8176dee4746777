#include "timeouts.h"

#include "failure.h"
#include "port_table.h"

namespace pellusk {
namespace {

// Another thread may set a timeout while a receive call reads it: one relaxed word each way.
int load(std::int32_t (&table)[kPortSlots], int slot) {
    if (!isSlot(slot)) return 0;
    return atomicRef(table[slot]).load(std::memory_order_relaxed);
}

int store(std::int32_t (&table)[kPortSlots], int slot, int milliseconds) {
    if (!isSlot(slot)) return kNotASlot;
    atomicRef(table[slot]).store(milliseconds, std::memory_order_relaxed);
    return 0;
}

}  // namespace

int setReceiveTimeout(int slot, int milliseconds) {
    return store(tmoRx, slot, milliseconds);
}
int setTransmitTimeout(int slot, int milliseconds) {
    return store(tmoTx, slot, milliseconds);
}
int receiveTimeout(int slot) {
    return load(tmoRx, slot);
}
int transmitTimeout(int slot) {
    return load(tmoTx, slot);
}

}  // namespace pellusk
