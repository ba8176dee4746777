#include "timeouts.h"

#include "jni_support.h"
#include "port_table.h"
#include "trace.h"

namespace pellusk {
namespace {

// Another thread may set a timeout while a receive call reads it: one relaxed word each way.
int load(std::int32_t (&table)[kPortSlots], int slot) {
    if (!isSlot(slot)) return 0;
    return atomicRef(table[slot]).load(std::memory_order_relaxed);
}

int store(std::int32_t (&table)[kPortSlots], int slot, int milliseconds) {
    if (!isSlot(slot)) return kTimeoutRefused;
    atomicRef(table[slot]).store(milliseconds, std::memory_order_relaxed);
    return kTimeoutStored;
}

// The getters report a free slot, and one outside the table, to the caller as well as the
// value; the value is still returned.
jint reportedTimeout(JNIEnv* env, int slot, int value) {
    if (portDescriptor(slot) == kNoDescriptor) throwIOException(env, message::kPortNotOpen);
    return value;
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

using namespace pellusk;

PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerGetTimeoutRx(JNIEnv* env, jobject,
                                                                         jint slot) {
    trace::Call trace("SerGetTimeoutRx", slot);
    const jint value = reportedTimeout(env, slot, receiveTimeout(slot));
    return trace.result(value, env->ExceptionCheck());
}

PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerGetTimeoutTx(JNIEnv* env, jobject,
                                                                         jint slot) {
    trace::Call trace("SerGetTimeoutTx", slot);
    const jint value = reportedTimeout(env, slot, transmitTimeout(slot));
    return trace.result(value, env->ExceptionCheck());
}

PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerSetTimeoutRx(JNIEnv*, jobject,
                                                                         jint slot, jint ms) {
    return trace::Call("SerSetTimeoutRx", slot).arg("ms", ms).result(setReceiveTimeout(slot, ms));
}

PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerSetTimeoutTx(JNIEnv*, jobject,
                                                                         jint slot, jint ms) {
    return trace::Call("SerSetTimeoutTx", slot).arg("ms", ms).result(setTransmitTimeout(slot, ms));
}
