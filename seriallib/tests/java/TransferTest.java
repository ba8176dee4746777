import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;
import static testkit.Check.millis;
import static testkit.Check.openedDevices;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.io.FileInputStream;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import java.util.function.IntSupplier;
import testkit.Check;
import testkit.Pty;

/**
 * Sending, receiving, the queues and the timeouts on the slave of a pty whose master is the far
 * end; what becomes of a receive when the far end hangs up or another thread closes its port.
 */
public class TransferTest {
    static int open(String path) throws java.io.IOException {
        SerialConfig config = SerialConfig.byName(path);
        equal(0, SerialPortLocal.SerOpenPort(config), "open " + path);
        return config.getPort() - 1;
    }

    static void farEndWrites(Pty pty, byte... data) {
        equal(data.length, Pty.write(pty.master, data, 0, data.length), "far end write");
    }

    static void oneByteEachWay(Pty pty, int slot) {
        equal(0, SerialPortLocal.SerPutByte(slot, (byte) 0x3C), "send");
        equal(0x3C, pty.readExactly(1, 5000)[0], "the far end got it");
        farEndWrites(pty, (byte) 0x5A);
        equal(1, SerialPortLocal.SerSetTimeoutRx(slot, 5000), "receive timeout");
        equal(0x5A, SerialPortLocal.SerGetByte(slot), "received");
    }

    /** A receive started on its own thread, once that thread waits in poll. */
    record Waiting(int thread, CompletableFuture<Integer> result) {
        static Waiting start(IntSupplier receive) throws Exception {
            CompletableFuture<Integer> tid = new CompletableFuture<>();
            CompletableFuture<Integer> result = CompletableFuture.supplyAsync(() -> {
                tid.complete(Pty.threadId());
                return receive.getAsInt();
            });
            Pty.awaitBlockedIn(tid.get(), Pty.POLL_CALLS);
            return new Waiting(tid.get(), result);
        }

        int end() throws Exception {
            return result.get(10, TimeUnit.SECONDS);
        }
    }

    public static void main(String[] args) throws Exception {
        try (Pty pty = new Pty()) {
            final int slot = open(pty.slavePath);

            group("every byte value both ways; a receive fills only what arrived", () -> {
                byte[] all = new byte[256];
                for (int i = 0; i < 256; i++) all[i] = (byte) i;
                equal(256, SerialPortLocal.SerPutData(slot, all, 256), "SerPutData");
                isTrue(Arrays.equals(all, pty.readExactly(256, 5000)), "the far end got 0..255 in order");
                SerialPortLocal.SerSetTimeoutRx(slot, 5000);
                farEndWrites(pty, all);
                for (int i = 0; i < 256; i++) equal(i, SerialPortLocal.SerGetByte(slot), "SerGetByte");
                farEndWrites(pty, (byte) 1, (byte) 2, (byte) 0xFF);
                byte[] into = new byte[100_000];
                Arrays.fill(into, (byte) 0x77);
                equal(3, SerialPortLocal.SerGetData(slot, into, 10), "bytes read");
                byte[] expected = new byte[100_000];
                Arrays.fill(expected, (byte) 0x77);
                System.arraycopy(new byte[] {1, 2, -1}, 0, expected, 0, 3);
                isTrue(Arrays.equals(expected, into), "the three bytes and nothing else changed");
            });

            group("receive timeouts: negative ones do not read waiting bytes, 0 does not wait, 300 waits that long", () -> {
                SerialPortLocal.SerSetTimeoutRx(slot, 5000);
                farEndWrites(pty, (byte) 1, (byte) 2);
                equal(1, SerialPortLocal.SerGetByte(slot), "the first byte, after which the second waits");
                for (int timeout : new int[] {-1, Integer.MIN_VALUE, 0}) {
                    SerialPortLocal.SerSetTimeoutRx(slot, timeout);
                    long ms = millis(() -> {
                        equal(timeout == 0 ? 2 : -1, SerialPortLocal.SerGetByte(slot), "SerGetByte, timeout " + timeout);
                        equal(0, SerialPortLocal.SerGetData(slot, new byte[4], 4), "SerGetData, timeout " + timeout);
                    });
                    isTrue(ms < 1000, "timeout " + timeout + " returned after " + ms + " ms");
                }
                farEndWrites(pty, (byte) 2);
                SerialPortLocal.SerSetTimeoutRx(slot, 300);
                equal(2, SerialPortLocal.SerGetByte(slot), "the byte");
                long waited = millis(() -> equal(-1, SerialPortLocal.SerGetByte(slot), "SerGetByte"));
                waited += millis(() -> equal(0, SerialPortLocal.SerGetData(slot, new byte[8], 8), "SerGetData"));
                isTrue(waited >= 590 && waited < 2600, "two waits of 300 ms took " + waited);
            });

            group("the continue signal ends a long receive wait with nothing received", () -> {
                SerialPortLocal.SerSetTimeoutRx(slot, 20_000);
                for (IntSupplier receive : new IntSupplier[] {() -> SerialPortLocal.SerGetByte(slot) + 1,
                                                              () -> SerialPortLocal.SerGetData(slot, new byte[4], 4)}) {
                    Waiting waiting = Waiting.start(receive);
                    equal(0, Pty.signalThread(waiting.thread(), Pty.SIGCONT), "tgkill");
                    equal(0, waiting.end(), "nothing received");
                }
            });

            group("queues: ready count, flushes, unsent count and drain", () -> {
                farEndWrites(pty, (byte) 1, (byte) 2, (byte) 3, (byte) 4, (byte) 5);
                SerialPortLocal.SerSetTimeoutRx(slot, 5000);
                equal(1, SerialPortLocal.SerGetByte(slot), "first byte, after which the rest is there");
                equal(4, SerialPortLocal.SerRxReadyCount(slot), "ready count");
                equal(0, SerialPortLocal.SerTxBufCount(slot), "a pty sends at once, whatever waits to be read");
                equal(0, SerialPortLocal.SerRxFlush(slot), "SerRxFlush");
                equal(0, SerialPortLocal.SerRxReadyCount(slot), "ready count after the flush");
                equal(0, SerialPortLocal.SerTxFlush(slot), "SerTxFlush");
                equal(0, SerialPortLocal.SerTxDrain(slot), "SerTxDrain");
            });

            group("timeouts stay with the slot across close and reopen", () -> {
                equal(1, SerialPortLocal.SerSetTimeoutTx(slot, -77), "set tx");
                equal(0, SerialPortLocal.SerClosePort(slot), "close");
                equal(1, SerialPortLocal.SerSetTimeoutRx(slot, 250), "set rx on the free slot");
                List<FileInputStream> filler = new ArrayList<>();
                for (int i = 0; i < 1100; i++) filler.add(new FileInputStream("/dev/null"));
                equal(slot, open(pty.slavePath), "reopen, on a descriptor above 1024");
                equal(250, SerialPortLocal.SerGetTimeoutRx(slot), "rx after reopen");
                equal(-77, SerialPortLocal.SerGetTimeoutTx(slot), "tx after reopen");
                long waited = millis(() -> equal(-1, SerialPortLocal.SerGetByte(slot), "SerGetByte"));
                isTrue(waited >= 245, "the stored timeout applies: " + waited + " ms");
                oneByteEachWay(pty, slot);
                for (FileInputStream f : filler) f.close();
            });

            group("a file takes the slot, though no line can be set; at most 8192 bytes go each way a call", () -> {
                byte[] data = new byte[3 * 8192];
                new java.util.Random(5).nextBytes(data);
                var file = Files.write(Files.createTempFile("pellusk", ".bin"), data);
                SerialConfig config = SerialConfig.byName(file.toString());
                equal(5003, SerialPortLocal.SerOpenPort(config), "open a file");
                int fileSlot = slot + 1;  // the lowest free one, which the failed setup does not report
                equal(1, SerialPortLocal.SerSetTimeoutRx(fileSlot, 1000), "receive timeout");
                byte[] into = new byte[data.length];
                for (int n = 0, got; n < data.length; n += got) {
                    got = SerialPortLocal.SerGetData(fileSlot, into, into.length);
                    isTrue(got > 0 && got <= 8192, "SerGetData read " + got);
                    isTrue(Arrays.equals(data, n, n + got, into, 0, got), "bytes from " + n);
                }
                equal(8192, SerialPortLocal.SerPutData(fileSlot, data, data.length), "a partial send");
                equal(0, SerialPortLocal.SerClosePort(fileSlot), "close");
                isTrue(Arrays.equals(data, 0, 8192, Files.readAllBytes(file), data.length, data.length + 8192), "sent");
            });
            equal(0, SerialPortLocal.SerClosePort(slot), "close");
        }

        group("far end hung up: receives fail with -1 at once, sends and drain fail, the slot opens again", () -> {
            Pty far = new Pty();
            int slot = open(far.slavePath);
            equal(1, SerialPortLocal.SerSetTimeoutRx(slot, 20_000), "receive timeout");
            Waiting receive = Waiting.start(() -> SerialPortLocal.SerGetData(slot, new byte[64], 64));
            equal(0, Pty.close(far.master), "hang-up");
            equal(-1, receive.end(), "the waiting SerGetData");
            long ms = millis(() -> {
                equal(-1, SerialPortLocal.SerPutData(slot, new byte[100], 100), "SerPutData");
                equal(-1, SerialPortLocal.SerPutByte(slot, (byte) 1), "SerPutByte");
                equal(-1, SerialPortLocal.SerTxDrain(slot), "SerTxDrain");
                for (int i = 0; i < 3; i++) {
                    equal(-1, SerialPortLocal.SerGetByte(slot), "SerGetByte");
                    equal(-1, SerialPortLocal.SerGetData(slot, new byte[100], 100), "SerGetData");
                }
            });
            isTrue(ms < 5000, "calls after the hang-up took " + ms + " ms");
            equal(0, SerialPortLocal.SerClosePort(slot), "close");
            try (Pty next = new Pty()) {
                equal(slot, open(next.slavePath), "the slot is taken again");
                oneByteEachWay(next, slot);
                equal(0, SerialPortLocal.SerClosePort(slot), "close");
            }
        });

        // Closing a descriptor does not wake a poll() on it: the receive keeps the port open until
        // its wait ends, then returns -1, and only then is the slot given out again.
        try (Pty first = new Pty(); Pty second = new Pty()) {
            group("closed under a waiting receive: -1 whatever ends the wait, no byte taken, no slot shared", () -> {
                byte[] into = new byte[16];
                record Case(String ending, int timeout, boolean single) {}
                for (Case c : new Case[] {new Case("input", 20_000, false), new Case("its timeout", 1000, false),
                                          new Case("SIGCONT", 20_000, false), new Case("SIGCONT", 20_000, true)}) {
                    String what = (c.single() ? "SerGetByte" : "SerGetData") + " ended by " + c.ending();
                    int devices = openedDevices();
                    int slot = open(first.slavePath);
                    equal(1, SerialPortLocal.SerSetTimeoutRx(slot, c.timeout()), "receive timeout");
                    Waiting receive = Waiting.start(() -> c.single() ? SerialPortLocal.SerGetByte(slot)
                                                                     : SerialPortLocal.SerGetData(slot, into, 16));
                    equal(0, SerialPortLocal.SerClosePort(slot), "close under the wait");
                    equal(-1, SerialPortLocal.SerClosePort(slot), "a second close finds the slot free");
                    int other = open(second.slavePath);
                    isTrue(other != slot, "a slot still in use is not given to the next open");
                    if (c.ending().equals("input")) farEndWrites(first, (byte) 1, (byte) 2, (byte) 3);
                    if (c.ending().equals("SIGCONT")) equal(0, Pty.signalThread(receive.thread(), Pty.SIGCONT), "tgkill");
                    equal(-1, receive.end(), what);
                    isTrue(Arrays.equals(new byte[16], into), "nothing was copied into the array");
                    equal(devices + 1, openedDevices(), "the closed port's descriptor went with the receive");
                    equal(slot, open(first.slavePath), "the slot is free again after " + what);
                    oneByteEachWay(second, other);
                    equal(0, SerialPortLocal.SerRxFlush(slot), "flush what the closed port left");
                    equal(0, SerialPortLocal.SerClosePort(slot), "close");
                    equal(0, SerialPortLocal.SerClosePort(other), "close");
                }
            });
        }
        Check.finish();
    }
}
