import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.concurrent.locks.LockSupport;
import jssc.SerialPort;
import jssc.SerialPortTimeoutException;
import testkit.Pty;

/**
 * The serial library against a plain C loop and jSSC, in one JVM on one pty pair: the three
 * take turns on the pty's slave while native code plays the far end on its master.
 */
public class Bench {
    static final int BLOCK = 4096;
    static final int SLOT = 0;
    static final int BATCH = 4000;  // bytes queued at once for the per-call cost: fits the tty
    // The library's sends never block: on a full output queue the application tries again at
    // once (yielding the CPU to whoever wants it), or waits a little first, as the reference
    // advises for real lines (a pty's SerTxDrain returns at once). Both loops are measured.
    static final long FULL_QUEUE_PAUSE_NS = 50_000;
    static boolean pauseWhenFull;
    /** The library's 4 KiB sends, per loop (trying again at once, pausing): calls, and calls that returned -1. */
    static final long[][] putCalls = new long[2][2];

    static long blockTotal = 32L << 20;
    static long byteTotal = 256L << 10;
    static int reps = 7;
    static int batches = 50;
    static int timeoutReps = 20;
    static int[] timeouts = {10, 100, 250};

    static int master;
    static int cFd;
    static SerialPort jssc;
    static boolean pinned;
    static final ThreadMXBean THREADS = ManagementFactory.getThreadMXBean();
    /** CPU time of the side's own thread in the last timed run, in nanoseconds. */
    static long lastCpuNs;

    /** One way of using the slave; each call moves exactly the bytes asked for. */
    interface Side {
        void sendBlocks(long total) throws Exception;
        void receiveBlocks(long total) throws Exception;
        void sendBytes(long total) throws Exception;
        void receiveBytes(long total) throws Exception;
        /** Nanoseconds for `count` single-byte reads with the bytes already waiting. */
        long readWaiting(int count) throws Exception;
    }

    static final class PlainC implements Side {
        public void sendBlocks(long total) { expect(total, FarEnd.pump(cFd, total, BLOCK, true)); }
        public void receiveBlocks(long total) { expect(total, FarEnd.pump(cFd, total, BLOCK, false)); }
        public void sendBytes(long total) { expect(total, FarEnd.writeOneByOne(cFd, total)); }
        public void receiveBytes(long total) { expect(0, FarEnd.readOneByOne(cFd, total) < 0 ? 1 : 0); }
        public long readWaiting(int count) { return FarEnd.readOneByOne(cFd, count); }
    }

    static final class Pellusk implements Side {
        final byte[] block = new byte[BLOCK];

        Pellusk() { Arrays.fill(block, (byte) 0x55); }

        public void sendBlocks(long total) {
            for (long sent = 0; sent < total; ) {
                int written = SerialPortLocal.SerPutData(SLOT, block, (int) Math.min(BLOCK, total - sent));
                long[] calls = putCalls[pauseWhenFull ? 1 : 0];
                calls[0]++;
                if (written <= 0) calls[1]++;
                if (written > 0) sent += written;
                else if (pauseWhenFull) LockSupport.parkNanos(FULL_QUEUE_PAUSE_NS);
                else Thread.yield();
            }
        }

        public void receiveBlocks(long total) {
            for (long got = 0; got < total; ) {
                int n = SerialPortLocal.SerGetData(SLOT, block, (int) Math.min(BLOCK, total - got));
                if (n <= 0) throw new IllegalStateException("SerGetData " + n + " after " + got);
                got += n;
            }
        }

        public void sendBytes(long total) {
            for (long sent = 0; sent < total; ) {
                if (SerialPortLocal.SerPutByte(SLOT, (byte) 0x55) == 0) sent++;
                else Thread.yield();
            }
        }

        public void receiveBytes(long total) {
            for (long got = 0; got < total; got++) {
                if (SerialPortLocal.SerGetByte(SLOT) < 0) throw new IllegalStateException("SerGetByte after " + got);
            }
        }

        public long readWaiting(int count) {
            long start = System.nanoTime();
            for (int i = 0; i < count; i++) {
                if (SerialPortLocal.SerGetByte(SLOT) < 0) throw new IllegalStateException("SerGetByte");
            }
            return System.nanoTime() - start;
        }
    }

    static final class Jssc implements Side {
        final byte[] block = new byte[BLOCK];

        Jssc() { Arrays.fill(block, (byte) 0x55); }

        public void sendBlocks(long total) throws Exception {
            for (long sent = 0; sent < total; sent += BLOCK) {
                if (!jssc.writeBytes(block)) throw new IllegalStateException("writeBytes");
            }
        }

        public void receiveBlocks(long total) throws Exception {
            for (long got = 0; got < total; got += BLOCK) jssc.readBytes(BLOCK);
        }

        public void sendBytes(long total) throws Exception {
            for (long sent = 0; sent < total; sent++) {
                if (!jssc.writeByte((byte) 0x55)) throw new IllegalStateException("writeByte");
            }
        }

        public void receiveBytes(long total) throws Exception {
            for (long got = 0; got < total; got++) jssc.readBytes(1);
        }

        public long readWaiting(int count) throws Exception {
            long start = System.nanoTime();
            for (int i = 0; i < count; i++) jssc.readBytes(1);
            return System.nanoTime() - start;
        }
    }

    interface Call {
        void run() throws Exception;
    }

    static void expect(long wanted, long got) {
        if (wanted != got) throw new IllegalStateException("moved " + got + " of " + wanted);
    }

    /** Seconds until both the side's call and the far end's have moved everything. */
    static double timed(Call side, Runnable farEnd) throws Exception {
        Thread far = new Thread(() -> {
            if (pinned) FarEnd.pinToCpu(1);
            farEnd.run();
        });
        far.setDaemon(true);  // a failed side must not leave the JVM waiting for the far end
        long start = System.nanoTime();
        long cpuStart = THREADS.getCurrentThreadCpuTime();
        far.start();
        side.run();
        lastCpuNs = THREADS.getCurrentThreadCpuTime() - cpuStart;
        far.join();
        return (System.nanoTime() - start) / 1e9;
    }

    static double median(double[] values) {
        double[] sorted = values.clone();
        Arrays.sort(sorted);
        return sorted[sorted.length / 2];
    }

    static double max(double[] values) {
        return Arrays.stream(values).max().orElse(Double.NaN);
    }

    public static void main(String[] args) throws Exception {
        List<String> options = List.of(args);
        if (options.contains("--quick")) {
            blockTotal = 1L << 20;
            byteTotal = 8L << 10;
            reps = 1;
            batches = 2;
            timeoutReps = 3;
            timeouts = new int[] {10};
        }
        if (options.contains("--trace-child")) {
            traceChild();
            return;
        }
        try (Pty pty = new Pty()) {
            master = pty.master;
            // jSSC leaves VMIN at 0, under which a blocking read() returns 0 at once; the plain C
            // side and the library then set VMIN 1, which jSSC's select-then-read also works with.
            jssc = new SerialPort(pty.slavePath);
            jssc.openPort();
            jssc.setParams(SerialPort.BAUDRATE_115200, 8, 1, SerialPort.PARITY_NONE);
            cFd = FarEnd.openRaw(pty.slavePath);
            openLibrary(pty);
            run();
            jssc.closePort();
            SerialPortLocal.SerClosePort(SLOT);
            FarEnd.close(cFd);
        }
        traceRows(options.contains("--quick"));
    }

    static void openLibrary(Pty pty) throws Exception {
        if (SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)) != 0) {
            throw new IllegalStateException("SerOpenPort failed");
        }
        SerialPortLocal.SerSetTimeoutRx(SLOT, 5000);
        int[] t = Pty.termios(pty.master);
        if (t[Pty.LFLAG] != 0 || (t[Pty.IFLAG] & 0x1400) != 0 || t[Pty.VMIN] != 1) {
            throw new IllegalStateException("the line is not raw with VMIN 1");
        }
    }

    /**
     * The library's single-byte rows in two child JVMs, one without PELLUSK_TRACE and one with it
     * set to /dev/null: every call then formats and writes its line, and only the disk is left out.
     */
    static void traceRows(boolean quick) throws Exception {
        String[] targets = {null, "/dev/null"};
        double[][] rows = new double[targets.length][];
        for (int i = 0; i < targets.length; i++) {
            ProcessBuilder child = new ProcessBuilder(System.getProperty("java.home") + "/bin/java",
                    "-Djava.library.path=" + System.getProperty("java.library.path"), "-cp",
                    System.getProperty("java.class.path"), "Bench", "--trace-child", quick ? "--quick" : "--full");
            child.environment().remove("PELLUSK_TRACE");
            if (targets[i] != null) child.environment().put("PELLUSK_TRACE", targets[i]);
            child.redirectError(ProcessBuilder.Redirect.INHERIT);
            Process process = child.start();
            String out = new String(process.getInputStream().readAllBytes());
            if (process.waitFor() != 0 || !out.contains("rows ")) throw new IllegalStateException("trace child: " + out);
            String[] words = out.substring(out.indexOf("rows ") + 5).split("\\s+");
            rows[i] = new double[] {Double.parseDouble(words[0]), Double.parseDouble(words[1]), Double.parseDouble(words[2])};
        }
        System.out.printf(Locale.ROOT, "%nPellusk with the call trace off and on (PELLUSK_TRACE=/dev/null), a JVM each%n");
        System.out.printf(Locale.ROOT, "%-46s %10s %10s %10s%n", "", "trace off", "trace on", "on/off");
        String[] names = {"single bytes, send (MB/s)", "single bytes, receive (MB/s)", "one byte read, data waiting (ns)"};
        for (int k = 0; k < names.length; k++) {
            System.out.printf(Locale.ROOT, "%-46s %10.2f %10.2f %10.2f%n", names[k], rows[0][k], rows[1][k], rows[1][k] / rows[0][k]);
        }
    }

    /** The child of traceRows: the library alone on a pty pair of its own, its rows on one line. */
    static void traceChild() throws Exception {
        try (Pty pty = new Pty()) {
            master = pty.master;
            cFd = FarEnd.openRaw(pty.slavePath);
            openLibrary(pty);
            pinned = Runtime.getRuntime().availableProcessors() >= 2 && FarEnd.pinToCpu(0) == 0;
            Side side = new Pellusk();
            timed(() -> side.receiveBlocks(1 << 20), () -> FarEnd.pump(master, 1 << 20, BLOCK, true));
            double[] send = new double[reps], receive = new double[reps];
            for (int r = 0; r < reps; r++) {
                send[r] = byteTotal / 1e6 / timed(() -> side.sendBytes(byteTotal), () -> FarEnd.pump(master, byteTotal, 1 << 16, false));
                receive[r] = byteTotal / 1e6 / timed(() -> side.receiveBytes(byteTotal), () -> FarEnd.pump(master, byteTotal, BLOCK, true));
            }
            System.out.printf(Locale.ROOT, "rows %.4f %.4f %.2f%n", median(send), median(receive), perRead(side));
            SerialPortLocal.SerClosePort(SLOT);
            FarEnd.close(cFd);
        }
    }

    /** Nanoseconds per single-byte read with the bytes waiting: the median batch, since a batch that another process
     * on the CPU interrupted says nothing about the read itself. */
    static double perRead(Side side) throws Exception {
        double[] batch = new double[batches];
        for (int b = 0; b < batches; b++) {
            FarEnd.pump(master, BATCH, BATCH, true);
            if (FarEnd.awaitQueued(cFd, BATCH, 5000) != 1) throw new IllegalStateException("bytes did not arrive");
            batch[b] = (double) side.readWaiting(BATCH) / BATCH;
        }
        return median(batch);
    }

    static void run() throws Exception {
        pinned = Runtime.getRuntime().availableProcessors() >= 2 && FarEnd.pinToCpu(0) == 0;
        String[] names = {"plain C", "Pellusk", "jSSC"};
        Side[] sides = {new PlainC(), new Pellusk(), new Jssc()};
        int n = sides.length;
        // Per side, per kind of transfer (4 KiB send and receive, single-byte send and receive),
        // per repetition: MB/s, and the CPU time the side's thread spent per MB.
        String[] kinds = {"4 KiB blocks, send", "4 KiB blocks, receive", "single bytes, send", "single bytes, receive",
            "4 KiB blocks, send, pausing when full"};
        double[][][] rate = new double[n][kinds.length][reps], cpu = new double[n][kinds.length][reps];
        double[] perRead = new double[n];

        // Warm-up of every path, then the sides take turns in each repetition.
        for (Side side : sides) {
            timed(() -> side.sendBlocks(1 << 20), () -> FarEnd.pump(master, 1 << 20, 1 << 16, false));
            timed(() -> side.receiveBlocks(1 << 20), () -> FarEnd.pump(master, 1 << 20, BLOCK, true));
        }
        for (int r = 0; r < reps; r++) {
            for (int s = 0; s < n; s++) {
                Side side = sides[s];
                Call[] calls = {() -> side.sendBlocks(blockTotal), () -> side.receiveBlocks(blockTotal),
                    () -> side.sendBytes(byteTotal), () -> side.receiveBytes(byteTotal), () -> {
                        pauseWhenFull = true;
                        try {
                            side.sendBlocks(blockTotal);
                        } finally {
                            pauseWhenFull = false;
                        }
                    }};
                for (int k = 0; k < kinds.length; k++) {
                    long total = k == 2 || k == 3 ? byteTotal : blockTotal;
                    boolean farWrites = k == 1 || k == 3;
                    rate[s][k][r] = total / 1e6 / timed(calls[k],
                            () -> FarEnd.pump(master, total, farWrites ? BLOCK : 1 << 16, farWrites));
                    cpu[s][k][r] = lastCpuNs / 1e6 / (total / 1e6);
                }
            }
        }
        for (int s = 0; s < n; s++) perRead[s] = perRead(sides[s]);

        System.out.printf(Locale.ROOT, "Pty pair, %s JVM%s; median of %d runs of %d MiB in 4 KiB blocks and %d KiB in single bytes%n",
                System.getProperty("os.arch"), pinned ? ", side and far end on CPUs 0 and 1" : "", reps,
                blockTotal >> 20, byteTotal >> 10);
        System.out.printf(Locale.ROOT, "%-46s %10s %10s %10s %10s %13s   %-26s%n", "", names[0], names[1], names[2],
                "Pellusk/C", "Pellusk/jSSC", "CPU ms/MB: C Pellusk jSSC");
        double[][] rates = new double[kinds.length][n];
        double[][] cpus = new double[kinds.length][n];
        for (int k = 0; k < kinds.length; k++) {
            for (int s = 0; s < n; s++) {
                rates[k][s] = median(rate[s][k]);
                cpus[k][s] = median(cpu[s][k]);
            }
            System.out.printf(Locale.ROOT, "%-46s %10.2f %10.2f %10.2f %10.2f %13.2f   %8.2f %8.2f %8.2f%n",
                    kinds[k] + " (MB/s)", rates[k][0], rates[k][1], rates[k][2], rates[k][1] / rates[k][0],
                    rates[k][1] / rates[k][2], cpus[k][0], cpus[k][1], cpus[k][2]);
        }
        System.out.printf(Locale.ROOT, "%-46s %10.2f %10.2f %10.2f %10.2f %13.2f%n", "one byte read, data waiting (ns; lower wins)",
                perRead[0], perRead[1], perRead[2], perRead[1] / perRead[0], perRead[1] / perRead[2]);

        // Sends never block: what a full queue costs the library's two send loops.
        for (int loop = 0; loop < 2; loop++) {
            long blocks = (reps * blockTotal + (loop == 0 ? 1 << 20 : 0)) / BLOCK;  // with the warm-up
            System.out.printf(Locale.ROOT, "Pellusk 4 KiB send, %s: %.2f SerPutData calls per block, %.0f%% of them -1%n",
                    loop == 0 ? "trying again at once" : "pausing when full", (double) putCalls[loop][0] / blocks,
                    100.0 * putCalls[loop][1] / putCalls[loop][0]);
        }

        System.out.printf(Locale.ROOT, "%nTargets, as ratios of this run%n");
        target("one byte read, data waiting: Pellusk/C time", perRead[1] / perRead[0], "<=", 1.3);
        target("single-byte receive: Pellusk/jSSC", rates[3][1] / rates[3][2], ">=", 2.0);
        target("single-byte receive: Pellusk/C", rates[3][1] / rates[3][0], ">=", 0.9);
        target("4 KiB blocks, send: Pellusk/C", rates[0][1] / rates[0][0], ">=", 0.95);
        target("4 KiB blocks, send, pausing when full: Pellusk/C", rates[4][1] / rates[4][0], ">=", 0.95);
        target("4 KiB blocks, receive: Pellusk/C", rates[1][1] / rates[1][0], ">=", 0.95);
        for (int k = 0; k < kinds.length; k++) {
            target(kinds[k] + ", CPU per MB: Pellusk/jSSC", cpus[k][1] / cpus[k][2], "<=", 1.0);
        }

        System.out.printf(Locale.ROOT, "%nReceive timeout with nothing arriving, %d waits each (ms)%n", timeoutReps);
        System.out.printf(Locale.ROOT, "%-10s %16s %16s %16s %16s%n", "requested", "Pellusk median", "Pellusk worst",
                "jSSC median", "jSSC worst");
        for (int timeout : timeouts) {
            double[] ours = new double[timeoutReps], theirs = new double[timeoutReps];
            SerialPortLocal.SerSetTimeoutRx(SLOT, timeout);
            for (int i = 0; i < timeoutReps; i++) {
                long start = System.nanoTime();
                if (SerialPortLocal.SerGetByte(SLOT) != -1) throw new IllegalStateException("a byte arrived");
                ours[i] = (System.nanoTime() - start) / 1e6;
                start = System.nanoTime();
                try {
                    jssc.readBytes(1, timeout);
                    throw new IllegalStateException("a byte arrived");
                } catch (SerialPortTimeoutException expected) {
                    theirs[i] = (System.nanoTime() - start) / 1e6;
                }
            }
            System.out.printf(Locale.ROOT, "%-10d %16.2f %16.2f %16.2f %16.2f%n", timeout, median(ours), worst(ours, timeout),
                    median(theirs), worst(theirs, timeout));
        }
        SerialPortLocal.SerSetTimeoutRx(SLOT, 5000);
    }

    /** The measurement furthest from the requested time. */
    static double worst(double[] measured, int requested) {
        double worst = measured[0];
        for (double m : measured) if (Math.abs(m - requested) > Math.abs(worst - requested)) worst = m;
        return worst;
    }

    static void target(String what, double ratio, String relation, double goal) {
        boolean met = relation.equals("<=") ? ratio <= goal : ratio >= goal;
        System.out.printf(Locale.ROOT, "%-64s %6.2f  target %s %.2f  %s%n", what, ratio, relation, goal,
                met ? "met" : "MISSED");
    }
}
