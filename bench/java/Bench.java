import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.util.Arrays;
import java.util.Locale;
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
                if (written > 0) sent += written;
                else Thread.yield();  // the driver's buffer is full
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
        far.start();
        side.run();
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
        if (args.length > 0 && args[0].equals("--quick")) {
            blockTotal = 1L << 20;
            byteTotal = 8L << 10;
            reps = 1;
            batches = 2;
            timeoutReps = 3;
            timeouts = new int[] {10};
        }
        try (Pty pty = new Pty()) {
            master = pty.master;
            // jSSC leaves VMIN at 0, under which a blocking read() returns 0 at once; the plain C
            // side and the library then set VMIN 1, which jSSC's select-then-read also works with.
            jssc = new SerialPort(pty.slavePath);
            jssc.openPort();
            jssc.setParams(SerialPort.BAUDRATE_115200, 8, 1, SerialPort.PARITY_NONE);
            cFd = FarEnd.openRaw(pty.slavePath);
            if (SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)) != 0) {
                throw new IllegalStateException("SerOpenPort failed");
            }
            SerialPortLocal.SerSetTimeoutRx(SLOT, 5000);
            int[] t = Pty.termios(pty.slavePath);
            if (t[Pty.LFLAG] != 0 || (t[Pty.IFLAG] & 0x1400) != 0 || t[Pty.VMIN] != 1) {
                throw new IllegalStateException("the line is not raw with VMIN 1");
            }
            run();
            jssc.closePort();
            SerialPortLocal.SerClosePort(SLOT);
            FarEnd.close(cFd);
        }
    }

    static void run() throws Exception {
        pinned = Runtime.getRuntime().availableProcessors() >= 2 && FarEnd.pinToCpu(0) == 0;
        String[] names = {"plain C", "Pellusk", "jSSC"};
        Side[] sides = {new PlainC(), new Pellusk(), new Jssc()};
        int n = sides.length;
        double[][] sendBlocks = new double[n][reps], receiveBlocks = new double[n][reps];
        double[][] sendBytes = new double[n][reps], receiveBytes = new double[n][reps];
        double[] perRead = new double[n];

        // Warm-up of every path, then the sides take turns in each repetition.
        for (Side side : sides) {
            timed(() -> side.sendBlocks(1 << 20), () -> FarEnd.pump(master, 1 << 20, 1 << 16, false));
            timed(() -> side.receiveBlocks(1 << 20), () -> FarEnd.pump(master, 1 << 20, BLOCK, true));
        }
        for (int r = 0; r < reps; r++) {
            for (int s = 0; s < n; s++) {
                Side side = sides[s];
                sendBlocks[s][r] = blockTotal / 1e6
                        / timed(() -> side.sendBlocks(blockTotal), () -> FarEnd.pump(master, blockTotal, 1 << 16, false));
                receiveBlocks[s][r] = blockTotal / 1e6
                        / timed(() -> side.receiveBlocks(blockTotal), () -> FarEnd.pump(master, blockTotal, BLOCK, true));
                sendBytes[s][r] = byteTotal / 1e6
                        / timed(() -> side.sendBytes(byteTotal), () -> FarEnd.pump(master, byteTotal, 1 << 16, false));
                receiveBytes[s][r] = byteTotal / 1e6
                        / timed(() -> side.receiveBytes(byteTotal), () -> FarEnd.pump(master, byteTotal, BLOCK, true));
            }
        }
        for (int s = 0; s < n; s++) {
            long ns = 0;
            for (int b = 0; b < batches; b++) {
                FarEnd.pump(master, BATCH, BATCH, true);
                if (FarEnd.awaitQueued(cFd, BATCH, 5000) != 1) throw new IllegalStateException("bytes did not arrive");
                ns += sides[s].readWaiting(BATCH);
            }
            perRead[s] = (double) ns / ((long) BATCH * batches);
        }

        System.out.printf(Locale.ROOT, "Pty pair, %s JVM%s; median of %d runs of %d MiB in 4 KiB blocks and %d KiB in single bytes%n",
                System.getProperty("os.arch"), pinned ? ", side and far end on CPUs 0 and 1" : "", reps,
                blockTotal >> 20, byteTotal >> 10);
        System.out.printf(Locale.ROOT, "%-46s %10s %10s %10s %10s %13s%n", "", names[0], names[1], names[2],
                "Pellusk/C", "Pellusk/jSSC");
        row("4 KiB blocks, send (MB/s)", median(sendBlocks[0]), median(sendBlocks[1]), median(sendBlocks[2]));
        row("4 KiB blocks, receive (MB/s)", median(receiveBlocks[0]), median(receiveBlocks[1]), median(receiveBlocks[2]));
        row("single bytes, send (MB/s)", median(sendBytes[0]), median(sendBytes[1]), median(sendBytes[2]));
        row("single bytes, receive (MB/s)", median(receiveBytes[0]), median(receiveBytes[1]), median(receiveBytes[2]));
        row("one byte read, data waiting (ns; lower wins)", perRead[0], perRead[1], perRead[2]);

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

    /** One line of the table; the ratios are Pellusk's value divided by the other's. */
    static void row(String what, double c, double ours, double theirs) {
        System.out.printf(Locale.ROOT, "%-46s %10.2f %10.2f %10.2f %10.2f %13.2f%n", what, c, ours, theirs, ours / c,
                ours / theirs);
    }


}
