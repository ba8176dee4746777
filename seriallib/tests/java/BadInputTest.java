import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.io.*;
import java.util.*;
import java.util.function.*;
import java.util.stream.*;
import testkit.*;
import testkit.Methods.*;

/** Bad slots, counts and configs; then random calls against a model of the port table (-Dpellusk.seed replays). */
public class BadInputTest {
    interface Call { int run() throws IOException; }

    static final int FREE = -1, PTYS = 3, NULL = 3, ZERO = 4, MIN = Integer.MIN_VALUE, MAX = Integer.MAX_VALUE;
    static final int[] OUTSIDE = {-1, 128, MIN, MAX};
    static final byte[] FOUR = new byte[4];

    static final Pty[] ptys = {new Pty(), new Pty(), new Pty()};
    static final int[] held = new int[128], timeout = new int[256];  // receive, then transmit
    static Random random;
    static int r;

    static void expect(boolean ok) { if (!ok) throw new AssertionError("got " + r); }
    static int pick(int... values) { return values[random.nextInt(values.length)]; }
    static int[] slots(boolean taken) { return IntStream.range(0, 128).filter(s -> (held[s] != FREE) == taken).toArray(); }
    static boolean fits(byte[] data, int count, int least) { return data != null && count >= least && count <= data.length; }
    // The exception's message, or null; r holds the result. Any other exception fails the test.
    static String thrown(Call call) {
        try {
            r = call.run();
        } catch (IOException e) {
            return e.getMessage();
        }
        return null;
    }
    // The far end must read exactly these bytes next: anything sent elsewhere shows up here.
    static void farEndGets(int pty, byte[] data, int count) {
        expect(Arrays.equals(Arrays.copyOf(data, count), ptys[pty].readExactly(count, 5000)));
    }

    static void step() throws IOException {
        int[] taken = slots(true);
        int slot = switch (random.nextInt(4)) {
            case 0 -> pick(OUTSIDE);
            case 1 -> random.nextInt(8);
            default -> taken.length > 0 ? taken[random.nextInt(taken.length)] : random.nextInt(128);
        };
        boolean inTable = slot >= 0 && slot < 128, flag = random.nextBoolean();
        int h = inTable ? held[slot] : FREE, rx = h == FREE ? 0 : timeout[slot], ms = pick(-1, 0, 1, 10_000, MIN, MAX);
        boolean open = h != FREE, pty = open && h < PTYS;
        byte[] data = random.nextInt(5) == 0 ? null : new byte[pick(0, 3, 9000, 20000)];
        for (int i = 0, salt = random.nextInt(); data != null && i < data.length; i++) data[i] = (byte) (salt + 7 * i);
        int length = data == null ? 3 : data.length, count = pick(-1, 0, length, length, length + 1, MAX, MIN);
        int which = random.nextInt(12);
        switch (which) {
            case 0 -> { if (taken.length < 8) openPort(); }
            case 1 -> { expect((r = SerClosePort(slot)) == (open ? 0 : -1)); if (open) held[slot] = FREE; }
            case 2 -> {
                int rate = pick(-1, 0, 7, 12, 13, MIN), bits = pick(-1, 0, 1, 2, 3, 3, 4), stop = pick(-1, 0, 1, 2), parity = random.nextInt(7) - 1;
                int handshake = pick(0, 1, 2, 0x10, 0x80, -1);
                r = SerConfigure(SerialConfig.byNumber("", slot + 1).line(rate, bits, stop, parity, handshake));
                boolean inTables = bits >= 0 && bits <= 3 && stop >= 0 && stop <= 1, rewritten = bits != 3 || (parity >= 1 && parity <= 4);
                // A pty drops the parity bit and short characters, which the C library reports on read-back.
                expect(rate < 0 || rate > 12 ? r == 5001 : !inTables || !pty ? r == 5003 : r == 0 || (r == 5003 && rewritten));
                if (pty && inTables && rate >= 0 && rate <= 12)  // applied, even where the C library's read-back refused it
                    Pty.expectLine(ptys[h].master, Pty.line(rate, bits, stop, parity, handshake), Pty.PTY_REWRITES, "configure slot " + slot);
            }
            case 3 -> { expect((r = SerPutByte(slot, (byte) count)) == (open ? 0 : -1)); if (pty) farEndGets(h, new byte[] {(byte) count}, 1); }
            case 4 -> {
                r = SerPutData(slot, data, count);
                if (!open || !fits(data, count, 0)) expect(r == -1);
                else expect(pty && count > 0 ? r > 0 && r <= Math.min(count, 8192) : r == Math.min(count, 8192));
                if (pty && r > 0) farEndGets(h, data, r);
            }
            case 5, 6 -> {
                if (pty && rx > 20) break;  // nothing comes from a far end: do not sit the timeout out
                byte[] before = data == null ? null : data.clone();
                r = which == 5 ? SerGetData(slot, data, count) : SerGetByte(slot);
                int zero = which == 5 ? Math.min(count, 8192) : 0, nothing = which == 5 ? 0 : -1;
                if (!open || (which == 5 && !fits(data, count, 1)) || (rx >= 0 && h == NULL)) expect(r == -1);
                else expect(r == (rx >= 0 && h == ZERO ? zero : nothing));  // a negative timeout: nothing, at once
                int got = which == 5 ? Math.max(r, 0) : 0;
                if (data != null) expect(Arrays.equals(data, got, data.length, before, got, data.length));
            }
            case 7 -> { expect((r = flag ? SerSetTimeoutRx(slot, ms) : SerSetTimeoutTx(slot, ms)) == (inTable ? 1 : -1)); if (inTable) timeout[slot + (flag ? 0 : 128)] = ms; }
            case 8 -> {
                String message = thrown(() -> flag ? SerGetTimeoutRx(slot) : SerGetTimeoutTx(slot));
                expect(open ? message == null && r == timeout[slot + (flag ? 0 : 128)] : "Port not open".equals(message));
            }
            default -> {  // a row of the table; on an open port, only one that moves no data
                Row row = Methods.ROWS[random.nextInt(Methods.ROWS.length)];
                if (open && row.low() > row.high()) break;
                r = row.call().applyAsInt(slot);
                expect(open ? r >= row.low() && r <= row.high() : r == row.notOpen());
            }
        }
    }

    static void openPort() throws IOException {
        int device = random.nextInt(5), slot = slots(false)[0];
        SerialConfig config = SerialConfig.byName(device < PTYS ? ptys[device].slavePath : device == NULL ? "/dev/null" : "/dev/zero");
        if (random.nextInt(3) == 0) {
            expect((r = SerOpenPort(SerialConfig.byNumber("/dev/null", pick(0, 129, MIN)))) == 1003);
        } else {
            expect((r = SerOpenPort(config)) == (device < PTYS ? 0 : 5003) && (r != 0 || config.getPort() == slot + 1));
            held[slot] = device;  // a file that is no terminal keeps its slot
        }
    }

    // Every slot the model holds is taken, and no other: a free slot's timeout getter throws.
    static void checkTable() {
        IntStream.range(0, 128).forEach(s -> expect((thrown(() -> SerGetTimeoutRx(s)) == null) == (held[s] != FREE)));
    }

    public static void main(String[] args) throws Exception {
        if (args.length > 0) {  // a fresh JVM whose SerialConfig lacks getPort and getBaseName
            raises(NoSuchMethodError.class, () -> SerOpenPort(SerialConfig.byNumber("/dev/ttyS", 1)));
            System.exit(0);
        }
        Pty pty = ptys[0];
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
        group("bad receive counts take nothing, not even a waiting byte, and return -1 at once", () -> {
            equal(0, SerOpenPort(SerialConfig.byName(pty.slavePath)), "reopen into the closed slot");
            equal(1, SerSetTimeoutRx(0, 3000), "receive timeout");
            Pty.write(pty.master, new byte[] {9}, 0, 1);
            long ms = millis(() -> {
                for (int count : new int[] {5, 0, -3}) equal(-1, SerGetData(0, FOUR, count), "receive count " + count);
                equal(-1, SerGetData(0, null, 1), "receive into null");
            });
            isTrue(ms < 1000, "took " + ms + " ms");
            equal(9, SerGetByte(0), "the byte waiting was not taken");
        });

        group("getters: each once, in order; what one throws is handed on; null configs are 5000", () -> {
            SerialConfig all = new SerialConfig();
            equal(0, SerConfigure(all), "configure");
            List<String> order = List.of("getPort", "getBitRate", "getParity", "getDataBits", "getStopBits", "getHandshake");
            equal(order, all.calls, "calls");
            SerialConfig throwing = new SerialConfig().line(12, 3, 0, 0, 0);
            throwing.throwing = "getStopBits";
            equal("no getStopBits", raises(IllegalStateException.class, () -> SerConfigure(throwing)).getMessage(), "thrown");
            equal(order.subList(0, 5), throwing.calls, "calls");
            isTrue(Pty.termios(pty.master)[Pty.OSPEED] != 0x1003, "nothing was applied");
            all.throwing = "getPortName";
            raises(IllegalStateException.class, () -> SerOpenPort(all));
            equal(List.of(5000, 5000), List.of(SerOpenPort(null), SerConfigure(null)), "null configs");
            equal(-1, SerClosePort(1), "nothing was opened");
            equal(0, SerClosePort(0), "close");
        });

        group("a SerialConfig without its methods raises the lookup error, not a crash", () -> {
            Check.Result result = Check.jvm(System.getProperty("pellusk.brokenClasses") + ":" + System.getProperty("java.class.path"),
                    "BadInputTest", "contract");
            equal(0, result.exitCode(), "exit status; output:\n" + result.stdout());
        });

        long seed = Long.getLong("pellusk.seed", System.nanoTime()), seconds = Long.getLong("pellusk.randomSeconds", 3);
        random = new Random(seed);
        Arrays.fill(held, FREE);
        IntStream.range(0, 128).forEach(s -> r = SerSetTimeoutRx(s, 0) + SerSetTimeoutTx(s, 0));
        group("random calls with seed " + seed + " give documented results only", () -> {
            for (long n = 1, end = System.nanoTime() + seconds * 1_000_000_000L; System.nanoTime() < end; n++) {
                step();
                if (n % 1000 == 0) checkTable();
            }
            for (int slot : slots(true)) expect((r = SerClosePort(slot)) == 0);
            Arrays.fill(held, FREE);
            checkTable();
            for (int k = 0; k < PTYS; k++) {  // a last byte reaches each far end first: nothing else was left there
                expect((r = SerOpenPort(SerialConfig.byName(ptys[k].slavePath))) == 0 && (r = SerPutByte(0, (byte) 'Z')) == 0);
                farEndGets(k, new byte[] {'Z'}, 1);
                expect((r = SerClosePort(0)) == 0);
            }
        });
        Check.finish();
    }
}
