import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicIntegerArray;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.locks.LockSupport;
import testkit.Check;
import testkit.Pty;

/**
 * Eight ports carry a position-dependent stream each way, checked byte by byte, while two more
 * threads open and close ports of their own and continue signals rain on the process and on
 * every thread using the library. Runs for pellusk.stormSeconds (30 by default).
 */
public class StormTest {
    static final int LINKS = 8, CYCLERS = 2;
    // Far longer than any pause in the streams: a receive that comes back empty before this
    // was cut short by a signal, one that took this long means the data stopped.
    static final int RECEIVE_TIMEOUT_MS = 60_000;
    static final long STORM_PAUSE_NANOS = 200_000;

    /** Who holds each slot, by worker number (0: nobody); a second holder fails the test. */
    static final AtomicIntegerArray holders = new AtomicIntegerArray(128);
    static final AtomicBoolean workersDone = new AtomicBoolean();
    static final int[] workerThreads = new int[LINKS + CYCLERS];

    static byte streamByte(long position, int stream) {
        long x = (position + 1) * 0x9E3779B97F4A7C15L + stream * 0xC2B2AE3D27D4EB4FL;
        return (byte) (x >>> 56 ^ x >>> 29);
    }

    static void fill(byte[] block, int count, long position, int stream) {
        for (int i = 0; i < count; i++) block[i] = streamByte(position + i, stream);
    }

    static void verify(byte[] block, int count, long position, int stream, String who) {
        for (int i = 0; i < count; i++) {
            if (block[i] != streamByte(position + i, stream)) {
                throw new AssertionError(who + ": wrong byte at " + (position + i));
            }
        }
    }

    static int open(SerialConfig config, int worker) throws java.io.IOException {
        equal(0, SerialPortLocal.SerOpenPort(config), "open");
        int slot = config.getPort() - 1;
        int other = holders.getAndSet(slot, worker);
        if (other != 0) throw new AssertionError("slot " + slot + " held by " + other + " and " + worker);
        return slot;
    }

    static void close(int slot, int worker) {
        isTrue(holders.compareAndSet(slot, worker, 0), "slot " + slot + " still held by " + worker);
        equal(0, SerialPortLocal.SerClosePort(slot), "close");
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
        long libraryGot, farGot, cutBytes, cutBlocks;

        Link(int index) {
            out = 2 * index;
            in = 2 * index + 1;
        }

        /** The library side: sends without blocking, receives with a long timeout. */
        Void library(int worker, long deadline) throws InterruptedException, java.io.IOException {
            workerThreads[worker - 1] = Pty.threadId();
            int slot;
            try {
                slot = open(SerialConfig.byName(pty.slavePath), worker);
                equal(1, SerialPortLocal.SerSetTimeoutRx(slot, RECEIVE_TIMEOUT_MS), "receive timeout");
            } finally {
                opened.countDown();
            }
            byte[] block = new byte[4096], into = new byte[8192];
            long sent = 0;
            for (int call = 0; farSent.get() < 0 || libraryGot < farSent.get(); call++) {
                if (librarySent.get() < 0) {
                    if (System.nanoTime() > deadline) {
                        librarySent.set(sent);
                    } else {
                        fill(block, block.length, sent, out);
                        int written = SerialPortLocal.SerPutData(slot, block, block.length);
                        if (written > 0) sent += written;
                    }
                }
                long start = System.nanoTime();
                // One receive in eight takes a single byte, so both receive methods meet the signals.
                int got;
                if (call % 8 == 0) {
                    int value = SerialPortLocal.SerGetByte(slot);
                    got = value < 0 ? 0 : 1;
                    into[0] = (byte) value;
                    if (value < 0) {
                        equal(-1, value, "SerGetByte cut short");
                        cutBytes++;
                    }
                } else {
                    got = SerialPortLocal.SerGetData(slot, into, into.length);
                    isTrue(got >= 0, "SerGetData " + got);
                    if (got == 0) cutBlocks++;
                }
                if (got == 0) {
                    long ms = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);
                    isTrue(ms < RECEIVE_TIMEOUT_MS, "a receive timed out after " + libraryGot + " bytes");
                }
                verify(into, got, libraryGot, in, "library side of link " + out / 2);
                libraryGot += got;
            }
            if (librarySent.get() < 0) librarySent.set(sent);
            farDone.await();
            close(slot, worker);
            return null;
        }

        /** The far end: a blocking writer and a reader, until the library side's stream is all in. */
        Void farEnd(long deadline) throws InterruptedException {
            try {
                return farEndStreams(deadline);
            } finally {
                farDone.countDown();  // also after a failure, which the library side then meets
            }
        }

        Void farEndStreams(long deadline) throws InterruptedException {
            opened.await();
            byte[] block = new byte[4096], into = new byte[8192];
            long sent = 0;
            while (librarySent.get() < 0 || farGot < librarySent.get()) {
                boolean sending = farSent.get() < 0;
                if (sending && System.nanoTime() > deadline) {
                    farSent.set(sent);
                    sending = false;
                }
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
        }
    }

    /** Opens and closes a port of its own until the deadline, checking each time that it leads there. */
    static Long cycle(int worker, long deadline) throws java.io.IOException {
        workerThreads[worker - 1] = Pty.threadId();
        long cycles = 0;
        try (Pty pty = new Pty()) {
            while (System.nanoTime() < deadline) {
                int slot = open(SerialConfig.byName(pty.slavePath), worker);
                equal(0, SerialPortLocal.SerPutByte(slot, (byte) worker), "marker");
                equal(worker, pty.readExactly(1, 5000)[0], "the marker came out of this worker's pty");
                close(slot, worker);
                cycles++;
            }
        }
        return cycles;
    }

    public static void main(String[] args) throws Exception {
        long seconds = Long.getLong("pellusk.stormSeconds", 30);
        group("ports under a signal storm lose, double and reorder nothing, and never share a slot", () -> {
            long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(seconds);
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
                    while (!workersDone.get()) {
                        int sent = Pty.signalStorm(workerThreads.clone(), Pty.SIGCONT, 4);
                        isTrue(sent > 0, "signals sent: " + sent);
                        signals += sent;
                        // A pace, not a wait for anything: unpaced, the storm takes one of the
                        // two cores and the signal handling much of the other.
                        LockSupport.parkNanos(STORM_PAUSE_NANOS);
                    }
                    return signals;
                });
                try {
                    for (Future<?> worker : workers) worker.get(seconds + 120, TimeUnit.SECONDS);
                } catch (java.util.concurrent.TimeoutException e) {
                    // Where each stream stood tells a stalled side from a lost byte.
                    for (Link l : links) System.out.printf("link %d: library sent %d got %d, far end sent %d got %d%n",
                            l.out / 2, l.librarySent.get(), l.libraryGot, l.farSent.get(), l.farGot);
                    throw e;
                } finally {
                    workersDone.set(true);
                }
                long signals = storm.get(10, TimeUnit.SECONDS);

                long out = 0, in = 0, cutBytes = 0, cutBlocks = 0, cycles = 0;
                for (Link link : links) {
                    equal(link.librarySent.get(), link.farGot, "bytes the far end got of link " + link.out / 2);
                    equal(link.farSent.get(), link.libraryGot, "bytes the library got of link " + link.out / 2);
                    out += link.farGot;
                    in += link.libraryGot;
                    cutBytes += link.cutBytes;
                    cutBlocks += link.cutBlocks;
                }
                for (Future<Long> c : cyclers) cycles += c.get();
                System.out.printf("storm, %s JVM, %d s: %d bytes sent and %d received by the library on %d ports;"
                        + " %d signals; receives cut short: %d SerGetByte, %d SerGetData; %d opens and closes%n",
                        System.getProperty("os.arch"), seconds, out, in, LINKS, signals, cutBytes, cutBlocks, cycles);
                isTrue(cutBytes + cutBlocks > 0, "the storm cut no receive short, so it proved nothing");
                isTrue(cycles > 0, "the open and close threads went round");
            } finally {
                pool.shutdownNow();
                for (Link link : links) link.pty.close();
            }
        });
        Check.finish();
    }
}
