import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicLong;
import testkit.Check;
import testkit.Pty;

/**
 * 1 GiB through one pty, half each way at once, checked byte by byte; the process may not keep
 * growing. The resident size is taken when the first 64 MiB are through (the loops are compiled)
 * and again at the end. The JVM runs with a fixed heap touched up front and without its late
 * optimising compiler, so growth after that point is native memory (measured: under 0.5 MiB).
 * Allowed: 4 MiB, room for allocator arenas, while a leak of 32 bytes in each of the at least
 * 131072 transfer calls would exceed it.
 */
public class SoakTest {
    // The emulated i386 guest moves a pty's bytes about a hundred times slower: there it sends
    // less (pellusk.soakMiB each way) and takes the first resident size sooner.
    static final long EACH_WAY = Long.getLong("pellusk.soakMiB", 512) << 20;
    static final long SETTLED = Math.min(64L << 20, EACH_WAY / 2);
    static final long ALLOWED_GROWTH_KIB = 4 << 10;
    static final int SLOT = 0, BLOCK = 8192;

    static final AtomicLong moved = new AtomicLong();
    static volatile long settledKib = -1;

    static long residentKib() throws Exception {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
        throw new AssertionError("no VmRSS");
    }

    // The streams repeat with a prime period, so a block lost, doubled or moved (never a whole
    // number of periods) shows as wrong bytes, and filling a block is one array copy.
    static final int PERIOD = 65521;
    static final byte[] PATTERN = new byte[PERIOD + BLOCK];

    static {
        for (int i = 0; i < PATTERN.length; i++) {
            long x = (i % PERIOD + 1) * 0x9E3779B97F4A7C15L;
            PATTERN[i] = (byte) (x >>> 56 ^ x >>> 29);
        }
    }

    static void fill(byte[] block, int count, long position, int stream) {
        System.arraycopy(PATTERN, (int) ((position + stream * 4099L) % PERIOD), block, 0, count);
    }

    interface Mover {
        int move(byte[] block, int count);
    }

    static Void send(Mover write, int stream) {
        byte[] block = new byte[BLOCK];
        for (long position = 0; position < EACH_WAY; ) {
            int count = (int) Math.min(BLOCK, EACH_WAY - position);
            fill(block, count, position, stream);
            int written = write.move(block, count);
            if (written > 0) {
                position += written;
            } else {
                Thread.yield();  // the driver's buffer is full: let the far end read
            }
        }
        return null;
    }

    static Void receive(Mover read, int stream, String who) throws Exception {
        byte[] block = new byte[BLOCK], expected = new byte[BLOCK];
        for (long position = 0; position < EACH_WAY; ) {
            int got = read.move(block, (int) Math.min(BLOCK, EACH_WAY - position));
            isTrue(got > 0, who + " read " + got + " after " + position + " bytes");
            fill(expected, got, position, stream);
            if (!Arrays.equals(block, 0, got, expected, 0, got)) {
                throw new AssertionError(who + ": wrong bytes in the " + got + " from " + position);
            }
            position += got;
            long total = moved.addAndGet(got);
            if (total >= SETTLED && total - got < SETTLED) settledKib = residentKib();
        }
        return null;
    }

    public static void main(String[] args) throws Exception {
        try (Pty pty = new Pty()) {
            group((2 * EACH_WAY >> 20) + " MiB through one port arrive intact and the process does not grow", () -> {
                equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)), "open");
                equal(1, SerialPortLocal.SerSetTimeoutRx(SLOT, 5000), "receive timeout");
                ExecutorService threads = Executors.newFixedThreadPool(4);
                long start = System.nanoTime();
                try {
                    Future<?>[] all = {
                        threads.submit(() -> send((b, n) -> SerialPortLocal.SerPutData(SLOT, b, n), 1)),
                        threads.submit(() -> receive((b, n) -> Pty.read(pty.master, b, 0, n, 5000), 1, "far end")),
                        threads.submit(() -> send((b, n) -> Pty.write(pty.master, b, 0, n), 2)),
                        threads.submit(() -> receive((b, n) -> SerialPortLocal.SerGetData(SLOT, b, n), 2, "library")),
                    };
                    for (Future<?> f : all) f.get(300, TimeUnit.SECONDS);
                } finally {
                    threads.shutdownNow();
                    SerialPortLocal.SerClosePort(SLOT);
                }
                long seconds = TimeUnit.NANOSECONDS.toSeconds(System.nanoTime() - start);
                long endKib = residentKib();
                System.out.printf("soak, %s JVM: %d MiB in %d s; resident %d KiB after 64 MiB, %d KiB at the end%n",
                        System.getProperty("os.arch"), moved.get() >> 20, seconds, settledKib, endKib);
                isTrue(endKib - settledKib <= ALLOWED_GROWTH_KIB,
                        "grew by " + (endKib - settledKib) + " KiB after the first 64 MiB");
            });
        }
        Check.finish();
    }
}
