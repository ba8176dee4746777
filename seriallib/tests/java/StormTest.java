import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.CountDownLatch;
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
 * Eight ports carry a position-dependent stream each way, checked byte by byte, while two more
 * threads open and close ports of their own and continue signals rain on the process and on every
 * thread using the library, for pellusk.stormSeconds (30 by default). The library sends and
 * receives with arrays larger than one call moves, so partial sends and short reads are the rule.
 * The resident size may not grow after the first quarter of the run: the JVM runs with a fixed
 * heap touched up front and without its late optimising compiler, so growth is native memory.
 */
public class StormTest {
    static final int LINKS = 8, CYCLERS = 2, BLOCK = 3 * 8192;
    // Far longer than any pause in the streams: a receive that comes back empty before this was
    // cut short by a signal, one that took this long means the data stopped.
    static final int RECEIVE_TIMEOUT_MS = 60_000;
    // Room for allocator arenas; measured growth is under 0.5 MiB.
    static final long ALLOWED_GROWTH_KIB = 4 << 10;

    /** Who holds each slot, by worker number (0: nobody); a second holder fails the test. */
    static final AtomicIntegerArray holders = new AtomicIntegerArray(128);
    static final int[] workerThreads = new int[LINKS + CYCLERS];
    static final AtomicLong libraryCalls = new AtomicLong();
    static volatile boolean workersDone;

    static byte streamByte(long position, int stream) {
        long x = (position + 1) * 0x9E3779B97F4A7C15L + stream * 0xC2B2AE3D27D4EB4FL;
        return (byte) (x >>> 56 ^ x >>> 29);
    }

    static void fill(byte[] block, int count, long position, int stream) {
        for (int i = 0; i < count; i++) block[i] = streamByte(position + i, stream);
    }

    static void verify(byte[] block, int count, long position, int stream, String who) {
        for (int i = 0; i < count; i++) {
            if (block[i] != streamByte(position + i, stream)) throw new AssertionError(who + ": wrong byte at " + (position + i));
        }
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

    static long residentKib() throws Exception {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
        throw new AssertionError("no VmRSS");
    }

    /** One port and its far end; each side stops sending at the deadline and says how much it sent. */
    static final class Link {
        final Pty pty = new Pty();
        final int out, in;  // the streams the library sends and receives
        final AtomicLong librarySent = new AtomicLong(-1), farSent = new AtomicLong(-1);
        // Until the library has set the line up, the slave echoes and rewrites what it gets.
        final CountDownLatch opened = new CountDownLatch(1);
        // A hang-up could overtake the last bytes on their way to the far end.
        final CountDownLatch farDone = new CountDownLatch(1);
        long libraryGot, farGot, cutShort;

        Link(int index) {
            out = 2 * index;
            in = 2 * index + 1;
        }

        /** The library side: sends without blocking, receives with a long timeout. */
        Void library(int worker, long deadline) throws Exception {
            workerThreads[worker - 1] = Pty.threadId();
            int slot;
            try {
                slot = open(pty.slavePath, worker);
                equal(1, SerialPortLocal.SerSetTimeoutRx(slot, RECEIVE_TIMEOUT_MS), "receive timeout");
            } finally {
                opened.countDown();
            }
            byte[] block = new byte[BLOCK], into = new byte[BLOCK];
            long sent = 0;
            for (int call = 0; farSent.get() < 0 || libraryGot < farSent.get(); call++) {
                if (librarySent.get() < 0 && System.nanoTime() > deadline) librarySent.set(sent);
                if (librarySent.get() < 0) {
                    fill(block, BLOCK, sent, out);
                    int written = SerialPortLocal.SerPutData(slot, block, BLOCK);
                    isTrue(written <= 8192, "one send took " + written);
                    if (written > 0) sent += written;
                }
                long start = System.nanoTime();
                // One receive in eight takes a single byte, so both receive methods meet the signals.
                int got = call % 8 == 0 ? SerialPortLocal.SerGetByte(slot) : SerialPortLocal.SerGetData(slot, into, BLOCK);
                if (call % 8 == 0) {
                    into[0] = (byte) got;
                    got = got < 0 ? 0 : 1;
                }
                isTrue(got >= 0, "receive " + got);
                if (got == 0) {
                    cutShort++;
                    isTrue(System.nanoTime() - start < RECEIVE_TIMEOUT_MS * 1_000_000L, "a receive timed out at " + libraryGot);
                }
                verify(into, got, libraryGot, in, "library side of link " + out / 2);
                libraryGot += got;
                libraryCalls.addAndGet(2);
            }
            if (librarySent.get() < 0) librarySent.set(sent);
            farDone.await();
            close(slot, worker);
            return null;
        }

        /** The far end: a writer and a reader, until the library side's stream is all in. */
        Void farEnd(long deadline) throws InterruptedException {
            try {
                opened.await();
                byte[] block = new byte[4096], into = new byte[8192];
                long sent = 0;
                while (librarySent.get() < 0 || farGot < librarySent.get()) {
                    if (farSent.get() < 0 && System.nanoTime() > deadline) farSent.set(sent);
                    boolean sending = farSent.get() < 0;
                    if (sending) {
                        fill(block, block.length, sent, in);
                        int written = Pty.write(pty.master, block, 0, block.length);
                        isTrue(written > 0, "far end write " + written);
                        sent += written;
                    }
                    int got = Pty.read(pty.master, into, 0, into.length, sending ? 0 : 1000);
                    isTrue(got >= 0, "far end read " + got);
                    verify(into, got, farGot, out, "far end of link " + out / 2);
                    farGot += got;
                }
                if (farSent.get() < 0) farSent.set(sent);
                return null;
            } finally {
                farDone.countDown();  // also after a failure, which the library side then meets
            }
        }
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

    public static void main(String[] args) throws Exception {
        long seconds = Long.getLong("pellusk.stormSeconds", 30);
        group("ports under a signal storm lose, double and reorder nothing, share no slot and leak nothing", () -> {
            long start = System.nanoTime(), deadline = start + TimeUnit.SECONDS.toNanos(seconds);
            List<Link> links = new ArrayList<>();
            for (int i = 0; i < LINKS; i++) links.add(new Link(i));
            ExecutorService pool = Executors.newFixedThreadPool(2 * LINKS + CYCLERS + 1);
            try {
                List<Future<?>> workers = new ArrayList<>();
                List<Future<Long>> cyclers = new ArrayList<>();
                for (int i = 0; i < LINKS; i++) {
                    Link link = links.get(i);
                    int worker = i + 1;
                    workers.add(pool.submit((Callable<Void>) () -> link.library(worker, deadline)));
                    workers.add(pool.submit((Callable<Void>) () -> link.farEnd(deadline)));
                }
                for (int i = 0; i < CYCLERS; i++) {
                    int worker = LINKS + i + 1;
                    cyclers.add(pool.submit(() -> cycle(worker, deadline)));
                }
                workers.addAll(cyclers);
                Future<Long> storm = pool.submit(() -> {
                    long signals = 0;
                    while (!workersDone) {
                        int sent = Pty.signalStorm(workerThreads.clone(), Pty.SIGCONT, 4);
                        isTrue(sent > 0, "signals sent: " + sent);
                        signals += sent;
                        // A pace: unpaced, the storm takes one of two cores and the handling much of the other.
                        LockSupport.parkNanos(200_000);
                    }
                    return signals;
                });
                // A point in time, not an event: by then every loop is compiled and every buffer allocated.
                Thread.sleep(TimeUnit.SECONDS.toMillis(seconds) / 4);
                long settledKib = residentKib(), settledCalls = libraryCalls.get();
                try {
                    for (Future<?> worker : workers) worker.get(seconds + 120, TimeUnit.SECONDS);
                } catch (java.util.concurrent.TimeoutException e) {
                    // Where each stream stood tells a stalled side from a lost byte.
                    for (Link l : links) System.out.printf("link %d: library sent %d got %d, far end sent %d got %d%n",
                            l.out / 2, l.librarySent.get(), l.libraryGot, l.farSent.get(), l.farGot);
                    throw e;
                } finally {
                    workersDone = true;
                }
                long grownKib = residentKib() - settledKib, signals = storm.get(10, TimeUnit.SECONDS);
                long out = 0, in = 0, cut = 0, cycles = 0;
                for (Link link : links) {
                    equal(link.librarySent.get(), link.farGot, "bytes the far end got of link " + link.out / 2);
                    equal(link.farSent.get(), link.libraryGot, "bytes the library got of link " + link.out / 2);
                    out += link.farGot;
                    in += link.libraryGot;
                    cut += link.cutShort;
                }
                for (Future<Long> c : cyclers) cycles += c.get();
                System.out.printf("storm, %s JVM, %d s: %d MiB sent and %d MiB received by the library on %d ports; %d signals;"
                        + " %d receives cut short; %d opens and closes; resident size grew %d KiB in %d transfer calls%n",
                        System.getProperty("os.arch"), seconds, out >> 20, in >> 20, LINKS, signals, cut, cycles, grownKib,
                        libraryCalls.get() - settledCalls);
                isTrue(cut > 0, "the storm cut no receive short, so it proved nothing");
                isTrue(cycles > 0, "the open and close threads went round");
                // AddressSanitizer keeps freed memory in quarantine: the size says nothing there.
                boolean sanitized = Files.readString(Path.of("/proc/self/maps")).contains("libasan");
                isTrue(sanitized || grownKib <= ALLOWED_GROWTH_KIB, "grew by " + grownKib + " KiB after the first quarter");
            } finally {
                workersDone = true;
                pool.shutdownNow();
                for (Link link : links) link.pty.close();
            }
        });
        Check.finish();
    }
}
