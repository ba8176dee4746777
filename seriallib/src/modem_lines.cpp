#include "modem_lines.h"

#include <sys/ioctl.h>
#include <termios.h>

#include "port_table.h"
#include "trace.h"

namespace pellusk {

int setControlLine(int slot, int lineBit, bool raise) {
    int word = lineBit;
    PortHold port(slot);
    return ioctl(port.fd(), raise ? TIOCMBIS : TIOCMBIC, &word);
}

int sendBreak(int slot, int duration) {
    PortHold port(slot);
    return tcsendbreak(port.fd(), breakUnits(duration));
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

using pellusk::setControlLine;
using pellusk::statusLine;

// A Java boolean is judged by its low byte alone, which is all a jboolean carries.
PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerSetDTR(JNIEnv*, jobject, jint slot,
                                                                   jboolean raise) {
    return pellusk::trace::Call("SerSetDTR", slot)
        .arg("raise", raise)
        .result(setControlLine(slot, TIOCM_DTR, raise != JNI_FALSE));
}

PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerSetRTS(JNIEnv*, jobject, jint slot,
                                                                   jboolean raise) {
    return pellusk::trace::Call("SerSetRTS", slot)
        .arg("raise", raise)
        .result(setControlLine(slot, TIOCM_RTS, raise != JNI_FALSE));
}

PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerSendBreak(JNIEnv*, jobject, jint slot,
                                                                      jint duration) {
    return pellusk::trace::Call("SerSendBreak", slot)
        .arg("duration", duration)
        .result(pellusk::sendBreak(slot, duration));
}

PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerSigCTS(JNIEnv*, jobject, jint slot) {
    return pellusk::trace::Call("SerSigCTS", slot).result(statusLine(slot, TIOCM_CTS));
}

PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerSigDSR(JNIEnv*, jobject, jint slot) {
    return pellusk::trace::Call("SerSigDSR", slot).result(statusLine(slot, TIOCM_DSR));
}

PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerSigCD(JNIEnv*, jobject, jint slot) {
    return pellusk::trace::Call("SerSigCD", slot).result(statusLine(slot, TIOCM_CAR));
}

PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerSigRing(JNIEnv*, jobject, jint slot) {
    return pellusk::trace::Call("SerSigRing", slot).result(statusLine(slot, TIOCM_RNG));
}
