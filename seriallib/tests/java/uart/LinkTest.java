package uart;

import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;
import static uart.Uart.*;

import Quorvia.SerialPortLocal;
import java.util.Arrays;
import java.util.Random;
import java.util.zip.CRC32;
import testkit.Check;

/** Data between ttyS1 and ttyS2, two UARTs joined through the host, through their real driver. */
public class LinkTest {
    static final int BULK = 200 * 1024;

    /** One direction of the bulk run: what is left to send, and the CRC of what arrived. */
    static final class Stream {
        final int from, to;
        final byte[] data = new byte[BULK];
        final CRC32 received = new CRC32();
        final byte[] block = new byte[4096];
        int sent, got;

        Stream(int from, int to, long seed) {
            this.from = from;
            this.to = to;
            new Random(seed).nextBytes(data);
        }

        boolean done() {
            return got == BULK;
        }

        /** One send and one receive; true when either moved a byte. */
        boolean step() {
            boolean moved = false;
            if (sent < BULK) {
                byte[] rest = Arrays.copyOfRange(data, sent, Math.min(BULK, sent + block.length));
                int n = SerialPortLocal.SerPutData(from, rest, rest.length);
                if (n > 0) {
                    sent += n;
                    moved = true;
                }
            }
            int n = SerialPortLocal.SerGetData(to, block, block.length);
            if (n > 0) {
                isTrue(got + n <= BULK, "more bytes arrived than were sent");
                received.update(block, 0, n);
                got += n;
                moved = true;
            }
            return moved;
        }

        long expectedCrc() {
            CRC32 crc = new CRC32();
            crc.update(data);
            return crc.getValue();
        }
    }

    public static void main(String[] args) {
        int s1 = open(S1);
        int s2 = open(S2);

        group("every byte value crosses the link unchanged, both ways", () -> {
            byte[] all = new byte[256];
            for (int i = 0; i < all.length; i++) all[i] = (byte) i;
            send(s1, all);
            equal(Arrays.toString(all), Arrays.toString(receive(s2, all.length)), "ttyS1 to ttyS2");
            send(s2, all);
            equal(Arrays.toString(all), Arrays.toString(receive(s1, all.length)), "ttyS2 to ttyS1");
        });

        group("SerRxReadyCount counts the bytes waiting on the receiving side", () -> {
            byte[] data = new byte[1000];
            new Random(2).nextBytes(data);
            send(s2, data);
            awaitReadyCount(s1, data.length);
            byte[] first = new byte[400];
            equal(400, SerialPortLocal.SerGetData(s1, first, 400), "read part");
            equal(600, SerialPortLocal.SerRxReadyCount(s1), "the rest waits");
            equal(Arrays.toString(Arrays.copyOfRange(data, 400, 1000)), Arrays.toString(receive(s1, 600)),
                    "the rest");
            equal(0, SerialPortLocal.SerRxReadyCount(s1), "nothing waits");
        });

        group("a receive waits for a byte still on its way", () -> {
            SerialPortLocal.SerSetTimeoutRx(s2, 5000);
            equal(0, SerialPortLocal.SerPutByte(s1, (byte) 0x5a), "send");
            equal(0x5a, SerialPortLocal.SerGetByte(s2), "received");
        });

        group("200 KB each way at once arrive whole", () -> {
            Stream forth = new Stream(s1, s2, 11);
            Stream back = new Stream(s2, s1, 12);
            // A short receive wait on each side paces the loop while both queues are busy.
            SerialPortLocal.SerSetTimeoutRx(s1, 2);
            SerialPortLocal.SerSetTimeoutRx(s2, 2);
            long start = System.nanoTime();
            long lastMove = start;
            while (!forth.done() || !back.done()) {
                boolean moved = forth.step() | back.step();
                if (moved) lastMove = System.nanoTime();
                isTrue(millisSince(lastMove) < 5000, "stalled at " + forth.got + " and " + back.got);
            }
            equal(forth.expectedCrc(), forth.received.getValue(), "CRC ttyS1 to ttyS2");
            equal(back.expectedCrc(), back.received.getValue(), "CRC ttyS2 to ttyS1");
            System.out.println("bulk run: " + millisSince(start) + " ms");
        });

        equal(0, SerialPortLocal.SerClosePort(s1), "close ttyS1");
        equal(0, SerialPortLocal.SerClosePort(s2), "close ttyS2");
        Check.finish();
    }
}
