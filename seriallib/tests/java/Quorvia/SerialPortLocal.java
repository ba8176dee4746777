package Quorvia;

import java.io.*;

/** The Java half of the serial library: each native method is one export of libPellusk. */
public class SerialPortLocal {
    static {
        System.loadLibrary("Pellusk");
    }

    public static native int SerGetLibVer();
    public static native int SerOpenPort(SerialConfig config) throws IOException;
    public static native int SerClosePort(int slot);
    public static native int SerConfigure(SerialConfig config);
    public static native int SerPutByte(int slot, byte value);
    public static native int SerPutData(int slot, byte[] data, int count);
    public static native int SerGetByte(int slot);
    public static native int SerGetData(int slot, byte[] data, int count);
    public static native int SerRxFlush(int slot);
    public static native int SerTxFlush(int slot);
    public static native int SerRxReadyCount(int slot);
    public static native int SerTxBufCount(int slot);
    public static native int SerTxDrain(int slot);
    public static native int SerGetTimeoutRx(int slot) throws IOException;
    public static native int SerGetTimeoutTx(int slot) throws IOException;
    public static native int SerSetTimeoutRx(int slot, int milliseconds);
    public static native int SerSetTimeoutTx(int slot, int milliseconds);
    public static native int SerSetDTR(int slot, boolean raise);
    public static native int SerSetRTS(int slot, boolean raise);
    public static native int SerSendBreak(int slot, int duration);
    public static native int SerSigCTS(int slot);
    public static native int SerSigDSR(int slot);
    public static native int SerSigCD(int slot);
    public static native int SerSigRing(int slot);
    public static native int SerSetPowerMode(int cardSlot, int mode) throws IOException;
    public static native int SerGetPowerMode(int cardSlot) throws IOException;
    public static native int SerGetResumeState(boolean clear);
    public static native int SerGetStatusAPM() throws IOException;
}
