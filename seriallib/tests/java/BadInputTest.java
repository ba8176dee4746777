import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.util.*;
import testkit.*;
import testkit.Methods.*;

/** Bad slots, counts and configs, and ports on files that are no terminal. */
public class BadInputTest {
    static final int MIN = Integer.MIN_VALUE, MAX = Integer.MAX_VALUE;
    static final byte[] FOUR = new byte[4];

    public static void main(String[] args) throws Exception {
        if (args.length > 0) {  // a fresh JVM whose SerialConfig lacks getBaseName, the line getters and setPortNum
            raises(NoSuchMethodError.class, () -> SerOpenPort(SerialConfig.byNumber("/dev/ttyS", 1)));
            raises(NoSuchMethodError.class, () -> SerConfigure(SerialConfig.byNumber("/dev/ttyS", 1)));
            Pty pty = new Pty();
            raises(NoSuchMethodError.class, () -> SerOpenPort(SerialConfig.byName(pty.slavePath)));
            equal(-1, SerClosePort(0), "the port whose number could not be reported was closed again");
            System.exit(0);
        }
        Pty pty = new Pty();
        equal(0, SerOpenPort(SerialConfig.byName(pty.slavePath)), "open");
        equal(0, SerClosePort(0), "close");
        isTrue(Methods.ROWS.length == 18, "the table, loaded before anything is timed");
        // A receive on a slot without a port fails at once, whatever timeout the slot has.
        for (int rx : new int[] {3000, -1}) {
            group("slots without a port, receive timeout " + rx + ": each method's result, at once", () -> {
                for (int slot : new int[] {-1, 128, MIN, MAX, 5, 0}) {
                    equal(slot >= 0 && slot < 128 ? 1 : -1, SerSetTimeoutRx(slot, rx), "set rx " + slot);
                    long ms = millis(() -> {
                        for (Row row : Methods.ROWS) equal(row.notOpen(), row.call().applyAsInt(slot), row.method() + " on slot " + slot);
                    });
                    isTrue(ms < 1000, "slot " + slot + " took " + ms + " ms");
                }
            });
        }

        // Sends of such counts meet the far ends of the model's ptys, which get whatever is sent.
        group("bad counts take nothing, not even a waiting byte, and return -1 at once; a send of none sends nothing", () -> {
            equal(0, SerOpenPort(SerialConfig.byName(pty.slavePath)), "reopen into the closed slot");
            equal(1, SerSetTimeoutRx(0, 3000), "receive timeout");
            Pty.write(pty.master, new byte[] {9}, 0, 1);
            long ms = millis(() -> {
                for (int count : new int[] {5, 0, -3})
                    equal(List.of(-1, -1), List.of(SerGetData(0, FOUR, count), SerPutData(1, FOUR, count)), "receive, send on a free slot " + count);
                equal(List.of(-1, 0), List.of(SerGetData(0, null, 1), SerPutData(0, FOUR, 0)), "receive into null, send none");
            });
            isTrue(ms < 1000, "took " + ms + " ms");
            equal(List.of(1, 9), List.of(SerGetData(0, FOUR, 1), (int) FOUR[0]), "a count of 1 takes the byte waiting");
        });

        group("getters: each once, in order; what one throws is handed on; null configs are 5000", () -> {
            SerialConfig all = new SerialConfig();
            equal(0, SerConfigure(all), "configure");
            List<String> order = List.of("getPort", "getBitRate", "getParity", "getDataBits", "getStopBits", "getHandshake");
            equal(order, all.calls, "calls");
            SerialConfig throwing = new SerialConfig().line(12, 3, 0, 0, 0).throwing("getStopBits");
            equal("no getStopBits", raises(IllegalStateException.class, () -> SerConfigure(throwing)).getMessage(), "thrown");
            equal(order.subList(0, 5), throwing.calls, "calls");
            isTrue(Pty.termios(pty.master)[Pty.OSPEED] != 0x1003, "nothing was applied");
            all.throwing = "getPortName";
            raises(IllegalStateException.class, () -> SerOpenPort(all));
            raises(IllegalStateException.class, () -> SerOpenPort(SerialConfig.byNumber("", 2).throwing("getBaseName")));
            raises(IllegalStateException.class, () -> SerOpenPort(SerialConfig.byName(pty.slavePath).throwing("setPortNum")));
            equal(List.of(5000, 5000), List.of(SerOpenPort(null), SerConfigure(null)), "null configs");
            equal(-1, SerClosePort(1), "nothing was opened, or kept when its number could not be reported");
            equal(0, SerClosePort(0), "close");
        });

        group("a SerialConfig without its methods raises the lookup error, not a crash", () -> {
            Check.Result result = Check.jvm(Map.of(), System.getProperty("pellusk.brokenClasses") + ":" + System.getProperty("java.class.path"),
                    "BadInputTest", "contract");
            equal(0, result.exitCode(), "exit status; output:\n" + result.stdout());
        });

        group("files that are no terminal keep their slot (5003); a call moves at most 8192 bytes; a negative timeout reads "
                + "nothing, at once; bad port numbers and table indexes", () -> {
            byte[] big = new byte[20000];
            equal(List.of(5003, 5003), List.of(SerOpenPort(SerialConfig.byName("/dev/null")), SerOpenPort(SerialConfig.byName("/dev/zero"))),
                    "slot 0 /dev/null, slot 1 /dev/zero");
            for (int rx : new int[] {0, -1}) {  // /dev/null ends at once (a hang-up), /dev/zero always has bytes
                equal(List.of(1, 1), List.of(SerSetTimeoutRx(0, rx), SerSetTimeoutRx(1, rx)), "timeouts " + rx);
                List<Integer> expected = rx == 0 ? List.of(8192, 8192, -1, -1, 8192, 0) : List.of(8192, 8192, 0, -1, 0, -1);
                equal(expected, List.of(SerPutData(0, big, 20000), SerPutData(1, big, 9000), SerGetData(0, big, 20000),
                        SerGetByte(0), SerGetData(1, big, 20000), SerGetByte(1)), "send, send, receives; timeout " + rx);
            }
            for (int port : new int[] {0, 129, MIN}) equal(1003, SerOpenPort(SerialConfig.byNumber("/dev/null", port)), "port " + port);
            for (int[] c : new int[][] {{13, 3, 0, 5001}, {-1, 3, 0, 5001}, {7, 4, 0, 5003}, {7, 3, 2, 5003}, {7, 3, 0, 5003}})
                equal(c[3], SerConfigure(SerialConfig.byNumber("", 1).line(c[0], c[1], c[2], 0, 0)), "line " + Arrays.toString(c));
            equal(List.of(0, 0), List.of(SerClosePort(0), SerClosePort(1)), "close both");
        });
        Check.finish();
    }
}
