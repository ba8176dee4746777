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
 * Each side sends a stream whose bytes depend on their position and reports the CRC of what it
 * sent; a byte lost, doubled or moved changes the receiver's CRC.
 */
public class BulkTransferTest {
    static final int TOTAL = 16 << 20;
    static final int SLOT = 0;

    static void fill(byte[] block, int count, long position) {
        for (int i = 0; i < count; i++) {
            long x = (position + i) * 0x9E3779B97F4A7C15L;
            block[i] = (byte) (x >>> 56 ^ x >>> 29);
        }
    }

    interface Mover {
        /** Moves up to `count` bytes of the block; the count moved, or 0 or less for none. */
        int move(byte[] block, int count);
    }

    /** Sends the stream, resending from the returned position after a partial write. */
    static long send(Mover write) {
        byte[] block = new byte[8192];
        CRC32 crc = new CRC32();
        for (long position = 0; position < TOTAL; ) {
            int count = (int) Math.min(block.length, TOTAL - position);
            fill(block, count, position);
            int written = write.move(block, count);
            if (written > 0) {
                crc.update(block, 0, written);
                position += written;
            } else {
                Thread.yield();  // the driver's buffer is full: let the far end read
            }
        }
        return crc.getValue();
    }

    static long receive(Mover read, String who) {
        byte[] block = new byte[8192];
        CRC32 crc = new CRC32();
        for (long position = 0; position < TOTAL; ) {
            int got = read.move(block, (int) Math.min(block.length, TOTAL - position));
            isTrue(got > 0, who + " read " + got + " after " + position + " bytes");
            crc.update(block, 0, got);
            position += got;
        }
        return crc.getValue();
    }

    public static void main(String[] args) throws Exception {
        try (Pty pty = new Pty()) {
            group("16 MiB each way at once arrive complete and in order", () -> {
                equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)), "open");
                equal(1, SerialPortLocal.SerSetTimeoutRx(SLOT, 5000), "receive timeout");
                ExecutorService threads = Executors.newFixedThreadPool(4);
                try {
                    Future<Long> libSent = threads.submit(() -> send((b, n) -> SerialPortLocal.SerPutData(SLOT, b, n)));
                    Future<Long> farGot = threads.submit(() -> receive((b, n) -> Pty.read(pty.master, b, 0, n, 5000), "far end"));
                    Future<Long> farSent = threads.submit(() -> send((b, n) -> Pty.write(pty.master, b, 0, n)));
                    Future<Long> libGot = threads.submit(() -> receive((b, n) -> SerialPortLocal.SerGetData(SLOT, b, n), "library"));
                    long sentOut = libSent.get(120, TimeUnit.SECONDS), gotOut = farGot.get(120, TimeUnit.SECONDS);
                    long sentIn = farSent.get(120, TimeUnit.SECONDS), gotIn = libGot.get(120, TimeUnit.SECONDS);
                    equal(sentOut, gotOut, "CRC of the stream the library sent");
                    equal(sentIn, gotIn, "CRC of the stream the library received");
                } finally {
                    threads.shutdownNow();
                    SerialPortLocal.SerClosePort(SLOT);
                }
            });
        }
        Check.finish();
    }
}
