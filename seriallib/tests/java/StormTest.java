import static testkit.Check.*;
import Quorvia.*;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import java.util.concurrent.atomic.*;
import java.util.concurrent.locks.*;
import java.util.stream.*;
import testkit.*;

/** Eight echoed streams, checked byte by byte, under continue signals to the process and each thread. */
public class StormTest {
    static final int LINKS = 8, BLOCK = 3 * 8192;
    // Room for allocator arenas (measured: under 0.3 MiB), where a leak of 32 bytes a call would exceed it.
    static final long ALLOWED_GROWTH_KIB = 4 << 10;
    static final int[] threads = new int[LINKS + 1];  // each link's thread, then the process
    static final AtomicLong cutShort = new AtomicLong();
    static final ExecutorService pool = Executors.newCachedThreadPool();
    static volatile boolean done;

    static byte streamByte(long position, int stream) {
        long x = (position + 1) * 0x9E3779B97F4A7C15L + stream * 0xC2B2AE3D27D4EB4FL;
        return (byte) (x >>> 56 ^ x >>> 29);
    }

    /** The library side of a link: sends until the deadline, receives until its whole stream is back. */
    static Void link(int link, long deadline) throws Exception {
        threads[link] = Pty.threadId();
        try (Pty pty = new Pty()) {
            SerialConfig config = SerialConfig.byName(pty.slavePath);
            equal(0, SerialPortLocal.SerOpenPort(config), "open");
            int slot = config.getPort() - 1;
            // Far longer than any pause in a stream: an empty receive before it was cut short by a signal.
            equal(1, SerialPortLocal.SerSetTimeoutRx(slot, 60_000), "receive timeout");
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
                    for (int i = 0; i < BLOCK; i++) out[i] = streamByte(sent + i, link);
                    sent += Math.max(SerialPortLocal.SerPutData(slot, out, BLOCK), 0);
                }
                // One receive in eight takes a single byte, so both receive methods meet the signals.
                int n = call % 8 == 0 ? SerialPortLocal.SerGetByte(slot) : SerialPortLocal.SerGetData(slot, in, BLOCK);
                if (call % 8 == 0) {
                    in[0] = (byte) n;
                    n = n < 0 ? 0 : 1;
                }
                isTrue(n >= 0, "receive " + n);
                if (n == 0) cutShort.incrementAndGet();
                for (int i = 0; i < n; i++) isTrue(in[i] == streamByte(got + i, link), "link " + link + ": wrong byte at " + (got + i));
                got += n;
            }
            echo.get(30, TimeUnit.SECONDS);
            equal(0, SerialPortLocal.SerClosePort(slot), "close");
        }
        return null;
    }

    static long residentKib() throws Exception {
        return Long.parseLong(Files.readString(Path.of("/proc/self/status")).replaceAll("(?s).*VmRSS:\\s*(\\d+).*", "$1"));
    }

    public static void main(String[] args) throws Exception {
        long seconds = Long.getLong("pellusk.stormSeconds", 30);
        threads[LINKS] = -1;
        group("ports under a signal storm lose, double and reorder nothing, and leak nothing", () -> {
            long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(seconds);
            try {
                List<Future<Void>> links =
                        IntStream.range(0, LINKS).mapToObj(l -> pool.submit(() -> link(l, deadline))).toList();
                Future<?> storm = pool.submit(() -> {
                    while (!done) {
                        equal(0, Pty.signal(Pty.SIGCONT, threads.clone()), "signals sent");
                        // A pace: unpaced, the storm takes one of two cores and the handling much of the other.
                        LockSupport.parkNanos(50_000);
                    }
                    return null;
                });
                // A point in time, not an event: by then every loop is compiled and every buffer allocated.
                Thread.sleep(TimeUnit.SECONDS.toMillis(seconds) / 4);
                long settledKib = residentKib();
                for (Future<?> link : links) link.get(seconds + 120, TimeUnit.SECONDS);
                long grownKib = residentKib() - settledKib;
                done = true;
                storm.get(10, TimeUnit.SECONDS);
                isTrue(cutShort.get() > 0, "the storm cut no receive short, so it proved nothing");
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
