import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicIntegerArray;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.locks.LockSupport;
import testkit.Check;
import testkit.Pty;

/**
 * Eight ports each send a position-dependent stream that their far end echoes, checked byte by
 * byte on its way back, while two more threads open and close ports of their own and continue
 * signals rain on the process and on every thread using the library, for pellusk.stormSeconds.
 * Arrays larger than one call moves make partial sends and short reads the rule. The resident
 * size may not grow after the first quarter: with a fixed heap touched up front and no late
 * optimising compiles (the JVM's arguments), growth is native memory.
 */
public class StormTest {
    static final int LINKS = 8, CYCLERS = 2, BLOCK = 3 * 8192;
    // Far longer than any pause in a stream: an empty receive before this was cut short by a signal.
    static final int RECEIVE_TIMEOUT_MS = 60_000;
    // Room for allocator arenas (measured: under 0.3 MiB), where a leak of 32 bytes a call would exceed it.
    static final long ALLOWED_GROWTH_KIB = 4 << 10;

    /** Who holds each slot, by worker number (0: nobody); a second holder fails the test. */
    static final AtomicIntegerArray holders = new AtomicIntegerArray(128);
    static final int[] workerThreads = new int[LINKS + CYCLERS];
    static final AtomicLong calls = new AtomicLong(), moved = new AtomicLong(), cutShort = new AtomicLong();
    static final ExecutorService pool = Executors.newCachedThreadPool();
    static volatile boolean done;

    static byte streamByte(long position, int stream) {
        long x = (position + 1) * 0x9E3779B97F4A7C15L + stream * 0xC2B2AE3D27D4EB4FL;
        return (byte) (x >>> 56 ^ x >>> 29);
    }

    static int open(String path, int worker) throws java.io.IOException {
        SerialConfig config = SerialConfig.byName(path);
        equal(0, SerialPortLocal.SerOpenPort(config), "open");
        int slot = config.getPort() - 1, other = holders.getAndSet(slot, worker);
        if (other != 0) throw new AssertionError("slot " + slot + " held by " + other + " and " + worker);
        return slot;
    }

    static void close(int slot, int worker) {
        isTrue(holders.compareAndSet(slot, worker, 0), "slot " + slot + " still held by " + worker);
        equal(0, SerialPortLocal.SerClosePort(slot), "close");
    }

    /** The library side of a link: sends until the deadline, receives until its whole stream is back. */
    static Void link(int worker, long deadline) throws Exception {
        workerThreads[worker - 1] = Pty.threadId();
        try (Pty pty = new Pty()) {
            int slot = open(pty.slavePath, worker);
            equal(1, SerialPortLocal.SerSetTimeoutRx(slot, RECEIVE_TIMEOUT_MS), "receive timeout");
            AtomicLong sentTotal = new AtomicLong(-1);
            Future<?> echo = pool.submit(() -> {
                byte[] block = new byte[8192];
                for (long echoed = 0; sentTotal.get() < 0 || echoed < sentTotal.get(); ) {
                    int got = Pty.read(pty.master, block, 0, block.length, 1000);
                    isTrue(got >= 0, "far end read " + got);
                    for (int n = 0, w; n < got; n += w) isTrue((w = Pty.write(pty.master, block, n, got - n)) > 0, "far end write");
                    echoed += got;
                }
                return null;
            });
            byte[] out = new byte[BLOCK], in = new byte[BLOCK];
            long sent = 0, got = 0;
            for (int call = 0; sentTotal.get() < 0 || got < sent; call++) {
                if (sentTotal.get() < 0 && System.nanoTime() > deadline) sentTotal.set(sent);
                if (sentTotal.get() < 0) {
                    for (int i = 0; i < BLOCK; i++) out[i] = streamByte(sent + i, worker);
                    int written = SerialPortLocal.SerPutData(slot, out, BLOCK);
                    isTrue(written <= 8192, "one send took " + written);
                    sent += Math.max(written, 0);
                }
                // One receive in eight takes a single byte, so both receive methods meet the signals.
                int n = call % 8 == 0 ? SerialPortLocal.SerGetByte(slot) : SerialPortLocal.SerGetData(slot, in, BLOCK);
                if (call % 8 == 0) {
                    in[0] = (byte) n;
                    n = n < 0 ? 0 : 1;
                }
                isTrue(n >= 0, "receive " + n);
                if (n == 0) cutShort.incrementAndGet();
                for (int i = 0; i < n; i++) {
                    if (in[i] != streamByte(got + i, worker)) throw new AssertionError("link " + worker + ": wrong byte at " + (got + i));
                }
                got += n;
                calls.addAndGet(2);
            }
            echo.get(30, TimeUnit.SECONDS);
            close(slot, worker);
            moved.addAndGet(got);
        }
        return null;
    }

    /** Opens and closes a port of its own until the deadline, checking each time that it leads there. */
    static Long cycle(int worker, long deadline) throws java.io.IOException {
        workerThreads[worker - 1] = Pty.threadId();
        long cycles = 0;
        try (Pty pty = new Pty()) {
            for (; System.nanoTime() < deadline; cycles++) {
                int slot = open(pty.slavePath, worker);
                equal(0, SerialPortLocal.SerPutByte(slot, (byte) worker), "marker");
                equal(worker, pty.readExactly(1, 5000)[0], "the marker came out of this worker's pty");
                close(slot, worker);
            }
        }
        return cycles;
    }

    static long residentKib() throws Exception {
        String status = Files.readString(Path.of("/proc/self/status"));
        return Long.parseLong(status.replaceAll("(?s).*VmRSS:\\s*(\\d+).*", "$1"));
    }

    public static void main(String[] args) throws Exception {
        long seconds = Long.getLong("pellusk.stormSeconds", 30);
        group("ports under a signal storm lose, double and reorder nothing, share no slot and leak nothing", () -> {
            long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(seconds);
            try {
                List<Future<?>> links = new ArrayList<>();
                List<Future<Long>> cyclers = new ArrayList<>();
                for (int w = 1; w <= LINKS; w++) {
                    int worker = w;
                    links.add(pool.submit(() -> link(worker, deadline)));
                }
                for (int w = LINKS + 1; w <= LINKS + CYCLERS; w++) {
                    int worker = w;
                    cyclers.add(pool.submit(() -> cycle(worker, deadline)));
                }
                Future<Long> storm = pool.submit(() -> {
                    long signals = 0;
                    for (int sent; !done; signals += sent) {
                        isTrue((sent = Pty.signalStorm(workerThreads.clone(), Pty.SIGCONT, 4)) > 0, "signals sent");
                        // A pace: unpaced, the storm takes one of two cores and the handling much of the other.
                        LockSupport.parkNanos(200_000);
                    }
                    return signals;
                });
                // A point in time, not an event: by then every loop is compiled and every buffer allocated.
                Thread.sleep(TimeUnit.SECONDS.toMillis(seconds) / 4);
                long settledKib = residentKib(), settledCalls = calls.get(), cycles = 0;
                for (Future<?> link : links) link.get(seconds + 120, TimeUnit.SECONDS);
                for (Future<Long> c : cyclers) cycles += c.get();
                long grownKib = residentKib() - settledKib;
                done = true;
                System.out.printf("storm, %s JVM, %d s: %d MiB each way on %d ports; %d signals; %d receives cut short;"
                        + " %d opens and closes; resident size grew %d KiB in %d transfer calls%n",
                        System.getProperty("os.arch"), seconds, moved.get() >> 20, LINKS, storm.get(10, TimeUnit.SECONDS),
                        cutShort.get(), cycles, grownKib, calls.get() - settledCalls);
                isTrue(cutShort.get() > 0, "the storm cut no receive short, so it proved nothing");
                isTrue(cycles > 0, "the open and close threads went round");
                // AddressSanitizer keeps freed memory in quarantine: the size says nothing there.
                boolean sanitized = Files.readString(Path.of("/proc/self/maps")).contains("libasan");
                isTrue(sanitized || grownKib <= ALLOWED_GROWTH_KIB, "grew by " + grownKib + " KiB after the first quarter");
            } finally {
                done = true;
                pool.shutdownNow();
            }
        });
        Check.finish();
    }
}
