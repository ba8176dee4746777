import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.zip.CRC32;
import testkit.Check;
import testkit.Pty;

/**
 * 16 MiB each way at once through one pty, the library on the slave and the test on the master.
 * Every byte is a function of its position in the stream, so a byte lost, doubled or moved shows
 * at the first place it happens; the CRC of each whole stream is compared as well.
 */
public class BulkTransferTest {
    static final int TOTAL = 16 << 20;
    static final int SLOT = 0;

    static byte valueAt(long position, long seed) {
        long x = (position + seed) * 0x9E3779B97F4A7C15L;
        return (byte) (x >>> 56 ^ x >>> 29);
    }

    /** Checks a received stream byte by byte; returns its CRC. */
    static final class Receiver {
        final long seed;
        final CRC32 crc = new CRC32();
        long position;

        Receiver(long seed) { this.seed = seed; }

        void take(byte[] data, int count) {
            for (int i = 0; i < count; i++, position++) {
                if (data[i] != valueAt(position, seed)) {
                    throw new AssertionError("byte " + position + " is " + data[i] + ", expected "
                            + valueAt(position, seed));
                }
            }
            crc.update(data, 0, count);
        }
    }

    static long streamCrc(long seed) {
        CRC32 crc = new CRC32();
        byte[] block = new byte[1 << 16];
        for (long position = 0; position < TOTAL; position += block.length) {
            for (int i = 0; i < block.length; i++) block[i] = valueAt(position + i, seed);
            crc.update(block);
        }
        return crc.getValue();
    }

    /** Sends through the library, resending whatever a partial write left over. */
    static long librarySends(long seed) {
        byte[] block = new byte[8192];
        long position = 0;
        int partial = 0;
        while (position < TOTAL) {
            int count = (int) Math.min(block.length, TOTAL - position);
            for (int i = 0; i < count; i++) block[i] = valueAt(position + i, seed);
            int written = SerialPortLocal.SerPutData(SLOT, block, count);
            if (written > 0) {
                if (written < count) partial++;
                position += written;
            } else {
                Thread.yield();  // the driver's buffer is full: let the far end read
            }
        }
        return partial;
    }

    static long libraryReceives(Receiver receiver) {
        byte[] block = new byte[8192];
        while (receiver.position < TOTAL) {
            int got = SerialPortLocal.SerGetData(SLOT, block, block.length);
            isTrue(got >= 0, "SerGetData failed after " + receiver.position + " bytes");
            isTrue(got > 0, "nothing within the receive timeout after " + receiver.position + " bytes");
            receiver.take(block, got);
        }
        return receiver.crc.getValue();
    }

    static void farEndSends(Pty pty, long seed) {
        byte[] block = new byte[16384];
        for (long position = 0; position < TOTAL; ) {
            int count = (int) Math.min(block.length, TOTAL - position);
            for (int i = 0; i < count; i++) block[i] = valueAt(position + i, seed);
            for (int sent = 0; sent < count; ) {
                int n = Pty.write(pty.master, block, sent, count - sent);
                isTrue(n > 0, "far end write failed after " + (position + sent) + " bytes");
                sent += n;
            }
            position += count;
        }
    }

    static long farEndReceives(Pty pty, Receiver receiver) {
        byte[] block = new byte[16384];
        while (receiver.position < TOTAL) {
            int got = Pty.read(pty.master, block, 0, block.length, 5000);
            isTrue(got > 0, "far end read " + got + " after " + receiver.position + " bytes");
            receiver.take(block, got);
        }
        return receiver.crc.getValue();
    }

    public static void main(String[] args) throws Exception {
        final long out = 1, in = 0x5EED;
        try (Pty pty = new Pty()) {
            group("16 MiB each way at once arrive complete and in order", () -> {
                equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)), "open");
                equal(1, SerialPortLocal.SerSetTimeoutRx(SLOT, 5000), "receive timeout");
                ExecutorService threads = Executors.newFixedThreadPool(4);
                try {
                    long start = System.nanoTime();
                    Future<Long> sender = threads.submit(() -> librarySends(out));
                    Future<Long> farReceiver = threads.submit(() -> farEndReceives(pty, new Receiver(out)));
                    Future<?> farSender = threads.submit(() -> farEndSends(pty, in));
                    Future<Long> receiver = threads.submit(() -> libraryReceives(new Receiver(in)));
                    farSender.get(120, TimeUnit.SECONDS);
                    long partial = sender.get(120, TimeUnit.SECONDS);
                    long sentCrc = farReceiver.get(120, TimeUnit.SECONDS);
                    long receivedCrc = receiver.get(120, TimeUnit.SECONDS);
                    equal(streamCrc(out), sentCrc, "CRC of what the library sent");
                    equal(streamCrc(in), receivedCrc, "CRC of what the library received");
                    long ms = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start);
                    System.out.println("2 x 16 MiB in " + ms + " ms, " + partial + " partial writes resent");
                } finally {
                    threads.shutdownNow();
                    SerialPortLocal.SerClosePort(SLOT);
                }
            });
        }
        Check.finish();
    }
}
