package uart;

import static testkit.Check.equal;
import static testkit.Check.group;
import static uart.Uart.*;

import Quorvia.SerialPortLocal;
import java.util.Arrays;
import java.util.Random;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.zip.CRC32;
import testkit.Check;

/** Data between ttyS1 and ttyS2, two UARTs joined through the host, through their real driver. */
public class LinkTest {
    static final int BULK = 200 * 1024;

    static long crc(byte[] data) {
        CRC32 crc = new CRC32();
        crc.update(data);
        return crc.getValue();
    }

    static byte[] random(long seed) {
        byte[] data = new byte[BULK];
        new Random(seed).nextBytes(data);
        return data;
    }

    public static void main(String[] args) throws java.io.IOException {
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

        group("200 KB each way at once arrive whole", () -> {
            byte[] forth = random(11), back = random(12);
            ExecutorService threads = Executors.newFixedThreadPool(4);
            try {
                long start = System.nanoTime();
                Future<byte[]> atS2 = threads.submit(() -> receive(s2, BULK));
                Future<byte[]> atS1 = threads.submit(() -> receive(s1, BULK));
                threads.submit(() -> send(s1, forth));
                threads.submit(() -> send(s2, back));
                equal(crc(forth), crc(atS2.get(120, TimeUnit.SECONDS)), "CRC ttyS1 to ttyS2");
                equal(crc(back), crc(atS1.get(120, TimeUnit.SECONDS)), "CRC ttyS2 to ttyS1");
                System.out.println("bulk run: " + (System.nanoTime() - start) / 1_000_000 + " ms");
            } finally {
                threads.shutdownNow();
            }
        });

        equal(0, SerialPortLocal.SerClosePort(s1), "close ttyS1");
        equal(0, SerialPortLocal.SerClosePort(s2), "close ttyS2");
        Check.finish();
    }
}
