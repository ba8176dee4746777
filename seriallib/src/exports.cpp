// The export layer: the 28 native methods of Quorvia.SerialPortLocal, the library's unload and
// the plain exported functions. Each takes its JNI arguments in, calls one plain function of a
// concern, turns the result into the method's code and writes one trace line. Only this file and
// java_calls include jni.h; no other file knows Java.
#include <jni.h>
#include <sys/ioctl.h>

#include <algorithm>

#include "apm.h"
#include "card_power.h"
#include "continue_signal.h"
#include "java_calls.h"
#include "legacy_exports.h"
#include "line_config.h"
#include "modem_lines.h"
#include "open_close.h"
#include "port_table.h"
#include "result_codes.h"
#include "timeouts.h"
#include "trace.h"
#include "transfer.h"

using namespace pellusk;

#define PELLUSK_METHOD(name) PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_##name

namespace {

constexpr jint kFirstPortNumber = 1;

jint openCode(const OpenResult& result) {
    return lineCode(result.status, result.error);
}

jint openByName(SerialConfigCalls& config, const char* path) {
    OpenResult result = openPort(path, kLowestFreeSlot);
    if (result.status != 0) return openCode(result);
    // The caller learns the slot only when the port is fully set up. A setPortNum that throws
    // leaves the caller without its number: the port is closed again rather than held for good.
    config.setPortNum(result.slot + kFirstPortNumber);
    if (!config.ok()) {
        closePort(result.slot);
        return code::kJavaError;
    }
    return openCode(result);
}

jint openByNumber(JNIEnv* env, SerialConfigCalls& config) {
    const jint portNumber = config.getInt("getPort");
    if (!config.ok()) return code::kJavaError;
    if (portNumber < kFirstPortNumber || portNumber > kPortSlots) return code::kBadPortNumber;
    const int slot = portNumber - kFirstPortNumber;
    if (!slotFree(slot)) return code::kSlotTaken;

    char baseName[kDevicePathSize];
    const int length = config.getBytes("getBaseName", baseName, sizeof baseName);
    if (!config.ok()) return code::kJavaError;
    char path[kDevicePathSize];
    if (length < 0 ||
        !formatNumberedPath(std::string_view(baseName, static_cast<std::size_t>(length)), slot,
                            path)) {
        throwIOException(env, message::kBadPortName);
        return code::kBadName;
    }
    return openCode(openPort(path, slot));
}

jint serOpenPort(JNIEnv* env, jobject configObject, trace::Call& trace) {
    atomicRef(firstTime).store(0);
    SerialConfigCalls config(env, configObject, &trace);
    if (!config.ok()) return code::kJavaError;
    if (!ioExceptionResolves(env)) return code::kJavaError;
    showBanner();

    char portName[kDevicePathSize];
    const int length = config.getBytes("getPortName", portName, sizeof portName);
    if (!config.ok()) return code::kJavaError;
    if (length < 0) {
        throwIOException(env, message::kBadPortName);
        return code::kBadName;
    }
    // A name of 0 or 1 byte selects the port by its number.
    if (length >= 2) return openByName(config, portName);
    return openByNumber(env, config);
}

jint serConfigure(JNIEnv* env, jobject configObject, trace::Call& trace) {
    SerialConfigCalls config(env, configObject, &trace);
    // Each getter once, in this order; the first Java error ends the call with it pending.
    const jint portNumber = config.getInt("getPort");
    LineRequest request{};
    request.bitRate = config.getInt("getBitRate");
    request.parity = config.getInt("getParity");
    request.dataBits = config.getInt("getDataBits");
    request.stopBits = config.getInt("getStopBits");
    request.handshake = config.getInt("getHandshake");
    if (!config.ok()) return code::kJavaError;
    return lineCode(configurePort(portNumber, request));
}

// A count that Java may pass for this array: never more than it holds, and never without one.
bool fitsArray(JNIEnv* env, jbyteArray array, jint count) {
    return array != nullptr && count >= 0 && count <= env->GetArrayLength(array);
}

// The bytes are copied into a stack buffer rather than pinned: the copy costs far less than the
// write itself, and the library allocates nothing and holds no Java array inside a system call.
jint serPutData(JNIEnv* env, jint slot, jbyteArray data, jint count, trace::Call& trace) {
    if (!fitsArray(env, data, count)) return -1;
    jbyte buffer[kTransferChunk];
    const jint chunk = std::min(count, kTransferChunk);
    env->GetByteArrayRegion(data, 0, chunk, buffer);
    const int sent = putData(slot, buffer, chunk);
    trace.data(buffer, sent);
    return sent;
}

// Only the bytes read are copied back, so a short read into a large array costs no more than
// the bytes it brought, and the array is not held while the call waits.
jint serGetData(JNIEnv* env, jint slot, jbyteArray data, jint count, trace::Call& trace) {
    if (count < 1 || !fitsArray(env, data, count)) return -1;
    jbyte buffer[kTransferChunk];
    const int got = getData(slot, buffer, std::min(count, kTransferChunk));
    if (got > 0) env->SetByteArrayRegion(data, 0, got, buffer);
    trace.data(buffer, got);
    return got;
}

// The getters report a free slot, and one outside the table, to the caller as well as the
// value; the value is still returned.
jint reportedTimeout(JNIEnv* env, const char* method, jint slot, int value) {
    trace::Call trace(method, slot);
    if (portDescriptor(slot) == kNoDescriptor) throwIOException(env, message::kPortNotOpen);
    return trace.result(value, env->ExceptionCheck());
}

// The IOException's message and the exported lookup's code for a failed card slot lookup.
struct LookupFailure {
    const char* message;
    int code;
};
LookupFailure lookupFailure(int failure) {
    switch (failure) {
        case kInvalidCardSlot:
            return {message::kInvalidSlot, slot_lookup::kInvalidSlot};
        case kNoCardDriver:
            return {message::kLookupFailed, slot_lookup::kNoDriver};
        default:
            return {message::kOpenSocketFailed, slot_lookup::kNoSocket};
    }
}

// A timeout setter's result.
jint timeoutStored(int status) {
    return status == 0 ? kTimeoutStored : -1;
}

jint setPowerMode(JNIEnv* env, int cardSlot, int mode) {
    if (mode != 0 && mode != 1) return code::kBadPowerMode;
    const int fd = getSlotHandle(env, cardSlot);
    if (fd < 0) return code::kNoCardSocket;
    if (setCardPower(fd, mode) == 0) return code::kOk;
    throwIOException(env, mode == 0 ? message::kSuspendFailed : message::kResumeFailed);
    return code::kCardRequest;
}

jint getPowerMode(JNIEnv* env, int cardSlot) {
    const int fd = getSlotHandle(env, cardSlot);
    if (fd < 0) return code::kNoCardSocket;
    const int powered = cardPowered(fd, cardSlot);
    if (powered >= 0) return powered;
    throwIOException(env, message::kStatusFailed);
    return code::kCardRequest;
}

jint serGetStatusAPM(JNIEnv* env) {
    std::int32_t status;
    if (readApmStatus(status) == 0) return status;
    throwIOException(env, message::kApmFailed);
    return -1;
}

}  // namespace

// --- The native methods, in the order of the reference's table --------------------------------

PELLUSK_METHOD(SerGetLibVer)(JNIEnv*, jobject) {
    return trace::Call("SerGetLibVer").result(verLib);
}

PELLUSK_METHOD(SerOpenPort)(JNIEnv* env, jobject, jobject configObject) {
    trace::Call trace("SerOpenPort");
    const jint result = serOpenPort(env, configObject, trace);
    return trace.code(result, env->ExceptionCheck());
}

PELLUSK_METHOD(SerClosePort)(JNIEnv*, jobject, jint slot) {
    return trace::Call("SerClosePort", slot).result(closePort(slot));
}

PELLUSK_METHOD(SerConfigure)(JNIEnv* env, jobject, jobject configObject) {
    trace::Call trace("SerConfigure");
    const jint result = serConfigure(env, configObject, trace);
    return trace.code(result, env->ExceptionCheck());
}

PELLUSK_METHOD(SerPutByte)(JNIEnv*, jobject, jint slot, jbyte value) {
    trace::Call trace("SerPutByte", slot);
    const int sent = putByte(slot, static_cast<unsigned char>(value));
    return trace.data(&value, sent == 0 ? 1 : 0).result(sent);
}

PELLUSK_METHOD(SerPutData)(JNIEnv* env, jobject, jint slot, jbyteArray data, jint count) {
    trace::Call trace("SerPutData", slot);
    return trace.arg("count", count).result(serPutData(env, slot, data, count, trace));
}

PELLUSK_METHOD(SerGetByte)(JNIEnv*, jobject, jint slot) {
    trace::Call trace("SerGetByte", slot);
    trace.arg("timeout", receiveTimeout(slot));
    const int got = getByte(slot);
    const unsigned char byte = static_cast<unsigned char>(got);
    return trace.data(&byte, got >= 0 ? 1 : 0).result(got);
}

PELLUSK_METHOD(SerGetData)(JNIEnv* env, jobject, jint slot, jbyteArray data, jint count) {
    trace::Call trace("SerGetData", slot);
    trace.arg("count", count).arg("timeout", receiveTimeout(slot));
    return trace.result(serGetData(env, slot, data, count, trace));
}

PELLUSK_METHOD(SerRxFlush)(JNIEnv*, jobject, jint slot) {
    return trace::Call("SerRxFlush", slot).result(flushReceived(slot));
}

PELLUSK_METHOD(SerTxFlush)(JNIEnv*, jobject, jint slot) {
    return trace::Call("SerTxFlush", slot).result(flushUnsent(slot));
}

PELLUSK_METHOD(SerRxReadyCount)(JNIEnv*, jobject, jint slot) {
    return trace::Call("SerRxReadyCount", slot).result(receivedCount(slot));
}

PELLUSK_METHOD(SerTxBufCount)(JNIEnv*, jobject, jint slot) {
    return trace::Call("SerTxBufCount", slot).result(unsentCount(slot));
}

PELLUSK_METHOD(SerTxDrain)(JNIEnv*, jobject, jint slot) {
    return trace::Call("SerTxDrain", slot).result(drainOutput(slot));
}

PELLUSK_METHOD(SerGetTimeoutRx)(JNIEnv* env, jobject, jint slot) {
    return reportedTimeout(env, "SerGetTimeoutRx", slot, receiveTimeout(slot));
}

PELLUSK_METHOD(SerGetTimeoutTx)(JNIEnv* env, jobject, jint slot) {
    return reportedTimeout(env, "SerGetTimeoutTx", slot, transmitTimeout(slot));
}

PELLUSK_METHOD(SerSetTimeoutRx)(JNIEnv*, jobject, jint slot, jint ms) {
    return trace::Call("SerSetTimeoutRx", slot)
        .arg("ms", ms)
        .result(timeoutStored(setReceiveTimeout(slot, ms)));
}

PELLUSK_METHOD(SerSetTimeoutTx)(JNIEnv*, jobject, jint slot, jint ms) {
    return trace::Call("SerSetTimeoutTx", slot)
        .arg("ms", ms)
        .result(timeoutStored(setTransmitTimeout(slot, ms)));
}

// A Java boolean is judged by its low byte alone, which is all a jboolean carries.
PELLUSK_METHOD(SerSetDTR)(JNIEnv*, jobject, jint slot, jboolean raise) {
    return trace::Call("SerSetDTR", slot)
        .arg("raise", raise)
        .result(setControlLine(slot, TIOCM_DTR, raise != JNI_FALSE));
}

PELLUSK_METHOD(SerSetRTS)(JNIEnv*, jobject, jint slot, jboolean raise) {
    return trace::Call("SerSetRTS", slot)
        .arg("raise", raise)
        .result(setControlLine(slot, TIOCM_RTS, raise != JNI_FALSE));
}

PELLUSK_METHOD(SerSendBreak)(JNIEnv*, jobject, jint slot, jint duration) {
    return trace::Call("SerSendBreak", slot)
        .arg("duration", duration)
        .result(sendBreak(slot, duration));
}

PELLUSK_METHOD(SerSigCTS)(JNIEnv*, jobject, jint slot) {
    return trace::Call("SerSigCTS", slot).result(statusLine(slot, TIOCM_CTS));
}

PELLUSK_METHOD(SerSigDSR)(JNIEnv*, jobject, jint slot) {
    return trace::Call("SerSigDSR", slot).result(statusLine(slot, TIOCM_DSR));
}

PELLUSK_METHOD(SerSigCD)(JNIEnv*, jobject, jint slot) {
    return trace::Call("SerSigCD", slot).result(statusLine(slot, TIOCM_CAR));
}

PELLUSK_METHOD(SerSigRing)(JNIEnv*, jobject, jint slot) {
    return trace::Call("SerSigRing", slot).result(statusLine(slot, TIOCM_RNG));
}

PELLUSK_METHOD(SerSetPowerMode)(JNIEnv* env, jobject, jint cardSlot, jint mode) {
    trace::Call trace("SerSetPowerMode");
    trace.arg("cardSlot", cardSlot).arg("mode", mode);
    const jint result = setPowerMode(env, cardSlot, mode);
    return trace.code(result, env->ExceptionCheck());
}

PELLUSK_METHOD(SerGetPowerMode)(JNIEnv* env, jobject, jint cardSlot) {
    trace::Call trace("SerGetPowerMode");
    trace.arg("cardSlot", cardSlot);
    const jint result = getPowerMode(env, cardSlot);
    return trace.result(result, env->ExceptionCheck());
}

// Only a true whose byte is exactly 1 clears the flag.
PELLUSK_METHOD(SerGetResumeState)(JNIEnv*, jobject, jboolean clear) {
    return trace::Call("SerGetResumeState")
        .arg("clear", clear)
        .result(readResumeState(clear == JNI_TRUE));
}

PELLUSK_METHOD(SerGetStatusAPM)(JNIEnv* env, jobject) {
    trace::Call trace("SerGetStatusAPM");
    const jint status = serGetStatusAPM(env);
    return trace.result(status, env->ExceptionCheck());
}

// --- The plain exported functions and the unload -------------------------------------------------

void ShowBanner(JNIEnv*) {
    showBanner();
}

int getSlotHandle(JNIEnv* env, int cardSlot) {
    jclass ioException = resolveIOException(env);
    if (ioException == nullptr) return slot_lookup::kNoExceptionClass;
    int result = lookUpCardSlot(cardSlot);
    if (result < 0) {
        const LookupFailure failure = lookupFailure(result);
        env->ThrowNew(ioException, failure.message);
        result = failure.code;
    }
    env->DeleteLocalRef(ioException);
    return result;
}

// The class loader of this copy is gone, and the JVM is about to close the library. No call of
// this copy runs or can come (every native frame holds the class), so the ports nobody can reach
// any more are closed, and with them what the copy holds, but the continue signal's pipe while a
// handler of this copy may still run (see closeContinueLatch).
PELLUSK_EXPORT void JNICALL JNI_OnUnload(JavaVM*, void*) {
    for (int slot = 0; slot < kPortSlots; ++slot) {
        if (portDescriptor(slot) != kNoDescriptor) closePort(slot);
    }
    closeContinueLatch(removeContinueHandler());
    trace::stop();
}
