import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;
import static testkit.Check.millis;
import static testkit.Check.raises;
import static testkit.Check.raisesIOException;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.util.ArrayList;
import java.util.List;
import java.util.function.IntUnaryOperator;
import testkit.Check;
import testkit.Pty;

/**
 * Every per-port method on slots that hold no port (outside the table, never opened, closed),
 * counts that do not fit the array, and SerialConfig objects that break their contract.
 */
public class BadInputTest {
    static final int FREE = 5, CLOSED = 0;
    static final int[] SLOTS = {-1, 128, Integer.MIN_VALUE, Integer.MAX_VALUE, FREE, CLOSED};

    record Row(String method, int notOpen, IntUnaryOperator call) {}

    static final byte[] FOUR = new byte[4];
    static final Row[] ROWS = {
        new Row("SerClosePort", -1, SerialPortLocal::SerClosePort),
        new Row("SerPutByte", -1, slot -> SerialPortLocal.SerPutByte(slot, (byte) 1)),
        new Row("SerPutData", -1, slot -> SerialPortLocal.SerPutData(slot, FOUR, 4)),
        new Row("SerGetByte", -1, SerialPortLocal::SerGetByte),
        new Row("SerGetData", -1, slot -> SerialPortLocal.SerGetData(slot, FOUR, 4)),
        new Row("SerRxFlush", -1, SerialPortLocal::SerRxFlush),
        new Row("SerTxFlush", -1, SerialPortLocal::SerTxFlush),
        new Row("SerTxDrain", -1, SerialPortLocal::SerTxDrain),
        new Row("SerRxReadyCount", 0, SerialPortLocal::SerRxReadyCount),
        new Row("SerTxBufCount", 0, SerialPortLocal::SerTxBufCount),
        new Row("SerSetDTR", -1, slot -> SerialPortLocal.SerSetDTR(slot, true)),
        new Row("SerSetRTS", -1, slot -> SerialPortLocal.SerSetRTS(slot, false)),
        new Row("SerSendBreak", -1, slot -> SerialPortLocal.SerSendBreak(slot, 250)),
        new Row("SerSigCTS", 0, SerialPortLocal::SerSigCTS),
        new Row("SerSigDSR", 0, SerialPortLocal::SerSigDSR),
        new Row("SerSigCD", 0, SerialPortLocal::SerSigCD),
        new Row("SerSigRing", 0, SerialPortLocal::SerSigRing),
        new Row("SerConfigure", 5003, slot -> SerialPortLocal.SerConfigure(SerialConfig.byNumber("", slot + 1))),
    };

    /** A SerialConfig that records the getters called, in order, and throws from one of them. */
    static class Recording extends SerialConfig {
        final List<String> calls = new ArrayList<>();
        final String throwing;

        Recording(String throwing) {
            this.throwing = throwing;
        }

        int call(String getter, int value) {
            calls.add(getter);
            if (getter.equals(throwing)) throw new IllegalStateException("no " + getter);
            return value;
        }

        @Override public byte[] getPortName() { call("getPortName", 0); return super.getPortName(); }
        @Override public int getPort() { return call("getPort", super.getPort()); }
        @Override public int getBitRate() { return call("getBitRate", super.getBitRate()); }
        @Override public int getParity() { return call("getParity", super.getParity()); }
        @Override public int getDataBits() { return call("getDataBits", super.getDataBits()); }
        @Override public int getStopBits() { return call("getStopBits", super.getStopBits()); }
        @Override public int getHandshake() { return call("getHandshake", super.getHandshake()); }
    }

    public static void main(String[] args) throws Exception {
        if (args.length > 0) {  // a fresh JVM whose SerialConfig lacks getPort and getBaseName
            raises(NoSuchMethodError.class, () -> SerialPortLocal.SerOpenPort(SerialConfig.byNumber("/dev/ttyS", 1)));
            System.exit(0);
        }
        try (Pty pty = new Pty()) {
            equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)), "open");
            equal(0, SerialPortLocal.SerClosePort(CLOSED), "close");

            // A receive on a slot without a port fails at once, whatever timeout the slot has.
            for (int timeout : new int[] {3000, -1}) {
                group("slots without a port, receive timeout " + timeout + ": each method's result, at once", () -> {
                    for (int slot : SLOTS) {
                        equal(slot == FREE || slot == CLOSED ? 1 : -1, SerialPortLocal.SerSetTimeoutRx(slot, timeout), "set rx " + slot);
                        equal(slot == FREE || slot == CLOSED ? 1 : -1, SerialPortLocal.SerSetTimeoutTx(slot, timeout), "set tx " + slot);
                        long ms = millis(() -> {
                            for (Row row : ROWS) equal(row.notOpen(), row.call().applyAsInt(slot), row.method() + " on slot " + slot);
                        });
                        isTrue(ms < 1000, "slot " + slot + " took " + ms + " ms");
                        raisesIOException("Port not open", () -> SerialPortLocal.SerGetTimeoutRx(slot));
                        raisesIOException("Port not open", () -> SerialPortLocal.SerGetTimeoutTx(slot));
                    }
                });
            }

            group("counts that do not fit the array transfer nothing and return -1 at once", () -> {
                equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)), "reopen into the closed slot");
                equal(1, SerialPortLocal.SerSetTimeoutRx(0, 3000), "receive timeout");
                Pty.write(pty.master, new byte[] {9}, 0, 1);
                long ms = millis(() -> {
                    for (int count : new int[] {5, -1}) equal(-1, SerialPortLocal.SerPutData(0, FOUR, count), "send count " + count);
                    equal(-1, SerialPortLocal.SerPutData(0, null, 1), "send from null");
                    for (int count : new int[] {5, 0, -3}) equal(-1, SerialPortLocal.SerGetData(0, FOUR, count), "receive count " + count);
                    equal(-1, SerialPortLocal.SerGetData(0, null, 1), "receive into null");
                });
                isTrue(ms < 1000, "took " + ms + " ms");
                equal(0, SerialPortLocal.SerPutData(0, FOUR, 0), "count 0");
                equal(0, SerialPortLocal.SerPutByte(0, (byte) 0x5A), "a marker");
                equal(0x5A, pty.readExactly(1, 5000)[0], "nothing was sent before the marker");
                equal(9, SerialPortLocal.SerGetByte(0), "the byte waiting was not taken");
            });

            group("SerConfigure calls each getter once, in order, and stops at the first that throws", () -> {
                Recording all = new Recording(null);
                equal(0, SerialPortLocal.SerConfigure(all), "configure");
                List<String> order = List.of("getPort", "getBitRate", "getParity", "getDataBits", "getStopBits", "getHandshake");
                equal(order, all.calls, "calls");
                Recording throwing = new Recording("getStopBits");
                throwing.line(12, 3, 0, 0, 0);
                equal("no getStopBits", raises(IllegalStateException.class, () -> SerialPortLocal.SerConfigure(throwing)).getMessage(), "thrown");
                equal(order.subList(0, 5), throwing.calls, "calls");
                isTrue(Pty.termios(pty.slavePath)[Pty.OSPEED] != 0x1003, "nothing was applied");
            });

            group("SerOpenPort hands on what a getter throws, and a null config is 5000", () -> {
                Recording throwing = new Recording("getPortName");
                raises(IllegalStateException.class, () -> SerialPortLocal.SerOpenPort(throwing));
                equal(5000, SerialPortLocal.SerOpenPort(null), "open with null");
                equal(5000, SerialPortLocal.SerConfigure(null), "configure with null");
                equal(-1, SerialPortLocal.SerClosePort(1), "nothing was opened");
            });
            equal(0, SerialPortLocal.SerClosePort(0), "close");
        }

        group("a SerialConfig without its methods raises the lookup error, not a crash", () -> {
            Check.Result result = Check.jvm(System.getProperty("pellusk.brokenClasses") + ":" + System.getProperty("java.class.path"),
                    "BadInputTest", "contract");
            equal(0, result.exitCode(), "exit status; output:\n" + result.stdout());
        });
        Check.finish();
    }
}
