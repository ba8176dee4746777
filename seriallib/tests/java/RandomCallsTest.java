import static Quorvia.SerialPortLocal.*;

import Quorvia.SerialConfig;
import java.io.IOException;
import java.util.Arrays;
import java.util.Random;
import java.util.stream.IntStream;
import testkit.Check;
import testkit.Pty;

// The native methods in random order with arguments where faults hide, on ptys, /dev/null and
// /dev/zero, checking what holds after any sequence: the documented results and exceptions, the
// port table, bytes sent reaching their far end only. -Dpellusk.seed replays a run.
public class RandomCallsTest {
    interface Call { int run() throws IOException; }

    static final int FREE = -1, PTYS = 3, NULL = 3, ZERO = 4, MIN = Integer.MIN_VALUE, MAX = Integer.MAX_VALUE;
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
            case 0 -> pick(-1, 128, MIN, MAX);
            case 1 -> random.nextInt(8);
            default -> taken.length > 0 ? taken[random.nextInt(taken.length)] : random.nextInt(128);
        };
        boolean inTable = slot >= 0 && slot < 128, flag = random.nextBoolean();
        int h = inTable ? held[slot] : FREE, rx = h == FREE ? 0 : timeout[slot], ms = pick(-1, 0, 1, 10_000, MIN, MAX);
        boolean open = h != FREE, pty = open && h < PTYS;
        byte[] data = random.nextInt(5) == 0 ? null : new byte[pick(0, 3, 9000, 20000)];
        for (int i = 0, salt = random.nextInt(); data != null && i < data.length; i++) data[i] = (byte) (salt + 7 * i);
        int length = data == null ? 3 : data.length, count = pick(-1, 0, length, length, length + 1, MAX, MIN);
        int card = pick(-1, 0, 8, 9, MIN), mode = pick(0, 1, 2, -1), which = random.nextInt(25);
        switch (which) {
            case 0 -> { if (taken.length < 8) openPort(); }
            case 1 -> { expect((r = SerClosePort(slot)) == (open ? 0 : -1)); if (open) held[slot] = FREE; }
            case 2 -> {
                int rate = pick(-1, 0, 7, 12, 13, MIN), bits = pick(-1, 0, 3, 3, 4), stop = pick(-1, 0, 1, 2), parity = random.nextInt(7) - 1;
                r = SerConfigure(SerialConfig.byNumber("", slot + 1).line(rate, bits, stop, parity, pick(0, 1, 2, 0x10, 0x80, -1)));
                boolean inTables = bits >= 0 && bits <= 3 && stop >= 0 && stop <= 1, rewritten = bits != 3 || (parity >= 1 && parity <= 4);
                // A pty drops the parity bit and short characters, which the C library reports on read-back.
                expect(rate < 0 || rate > 12 ? r == 5001 : !inTables || !pty ? r == 5003 : r == 0 || (r == 5003 && rewritten));
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
            case 7, 8, 9 -> expect((r = which == 7 ? SerRxFlush(slot) : which == 8 ? SerTxFlush(slot) : SerTxDrain(slot)) == (pty ? 0 : -1));
            case 10, 11 -> expect((r = which == 10 ? SerRxReadyCount(slot) : SerTxBufCount(slot)) == 0 || (open && r > 0));
            case 12, 13, 14 -> expect((r = which == 12 ? SerSetDTR(slot, flag) : which == 13 ? SerSetRTS(slot, flag)
                    : SerSendBreak(slot, pick(0, 250, -1, MAX))) == -1 || (open && r == 0));
            case 15, 16, 17, 18 -> expect((r = which == 15 ? SerSigCTS(slot) : which == 16 ? SerSigDSR(slot)
                    : which == 17 ? SerSigCD(slot) : SerSigRing(slot)) == 0 || (open && r == 1));
            case 19 -> { expect((r = flag ? SerSetTimeoutRx(slot, ms) : SerSetTimeoutTx(slot, ms)) == (inTable ? 1 : -1)); if (inTable) timeout[slot + (flag ? 0 : 128)] = ms; }
            case 20 -> {
                String message = thrown(() -> flag ? SerGetTimeoutRx(slot) : SerGetTimeoutTx(slot));
                expect(open ? message == null && r == timeout[slot + (flag ? 0 : 128)] : "Port not open".equals(message));
            }
            case 21 -> expect((r = SerGetLibVer()) == 0x40007 && ((r = SerGetResumeState(flag)) == 0 || r == 1));
            case 22 -> { String message = thrown(() -> SerGetStatusAPM()); expect(message == null ? r >= 0 : message.equals("Failed to get APM status")); }
            default -> {
                String message = thrown(() -> flag ? SerSetPowerMode(card, mode) : SerGetPowerMode(card));
                if (flag && mode != 0 && mode != 1) expect(message == null && r == 5000);
                else if (card < 0 || card > 8) expect("Invalid slot number".equals(message));
                else expect(message != null || r == 0 || (r == 1 && !flag));
            }
        }
    }

    static void openPort() throws IOException {
        int device = random.nextInt(5), slot = slots(false)[0];
        SerialConfig config = SerialConfig.byName(device < PTYS ? ptys[device].slavePath : device == NULL ? "/dev/null" : "/dev/zero");
        switch (random.nextInt(3)) {
            case 0 -> {
                config.setPortNameBytes(random.nextBoolean() ? null : new byte[64]);
                expect("Port device name not valid".equals(thrown(() -> SerOpenPort(config))));
            }
            case 1 -> expect((r = SerOpenPort(SerialConfig.byNumber("/dev/null", pick(0, 129, MIN)))) == 1003);
            default -> {
                expect((r = SerOpenPort(config)) == (device < PTYS ? 0 : 5003) && (r != 0 || config.getPort() == slot + 1));
                held[slot] = device;  // a file that is no terminal keeps its slot
            }
        }
    }

    // Every slot the model holds is taken, and no other: a free slot's timeout getter throws.
    static void checkTable() {
        IntStream.range(0, 128).forEach(s -> expect((thrown(() -> SerGetTimeoutRx(s)) == null) == (held[s] != FREE)));
    }

    public static void main(String[] args) {
        long seed = Long.getLong("pellusk.seed", System.nanoTime()), seconds = Long.getLong("pellusk.randomSeconds", 3);
        random = new Random(seed);
        Arrays.fill(held, FREE);
        Check.group("random calls with seed " + seed + " give documented results only", () -> {
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
