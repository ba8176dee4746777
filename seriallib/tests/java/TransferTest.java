import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;
import static testkit.Check.millis;
import static testkit.Check.raisesIOException;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.io.FileInputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import testkit.Check;
import testkit.Pty;

/** Sending, receiving, the queues and the timeouts, on the slave of a pty; the test is the far end. */
public class TransferTest {
    static final int SLOT = 0;

    static void open(Pty pty) throws java.io.IOException {
        equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)), "open into slot 0");
    }

    static void farEndWrites(Pty pty, byte... data) {
        equal(data.length, Pty.write(pty.master, data, 0, data.length), "far end write");
    }

    public static void main(String[] args) throws Exception {
        try (Pty pty = new Pty()) {
            open(pty);

            group("every byte value both ways, a received 0xFF is 255 (blocks: BulkTransferTest)", () -> {
                byte[] all = new byte[256];
                for (int i = 0; i < 256; i++) all[i] = (byte) i;
                equal(256, SerialPortLocal.SerPutData(SLOT, all, 256), "SerPutData");
                isTrue(Arrays.equals(all, pty.readExactly(256, 5000)), "the far end got 0..255 in order");
                for (int i = 0; i < 256; i++) equal(0, SerialPortLocal.SerPutByte(SLOT, (byte) i), "SerPutByte " + i);
                isTrue(Arrays.equals(all, pty.readExactly(256, 5000)), "the far end got 0..255 byte by byte");

                SerialPortLocal.SerSetTimeoutRx(SLOT, 5000);
                farEndWrites(pty, all);
                for (int i = 0; i < 256; i++) equal(i, SerialPortLocal.SerGetByte(SLOT), "SerGetByte");
            });

            group("a read fills only what arrived and leaves the rest of the array alone", () -> {
                SerialPortLocal.SerSetTimeoutRx(SLOT, 5000);
                farEndWrites(pty, (byte) 1, (byte) 2, (byte) 3, (byte) 0xFF);
                byte[] into = new byte[100_000];
                Arrays.fill(into, (byte) 0x77);
                equal(4, SerialPortLocal.SerGetData(SLOT, into, 10), "bytes read");
                equal(-1, into[3], "0xFF arrives unchanged");
                isTrue(into[0] == 1 && into[1] == 2 && into[2] == 3, "first three bytes");
                for (int i = 4; i < into.length; i++) {
                    if (into[i] != 0x77) throw new AssertionError("element " + i + " changed");
                }
            });

            group("bad arrays and counts transfer nothing and return -1", () -> {
                SerialPortLocal.SerSetTimeoutRx(SLOT, 5000);
                byte[] four = {1, 2, 3, 4};
                equal(-1, SerialPortLocal.SerPutData(SLOT, four, 5), "send count above the array");
                equal(-1, SerialPortLocal.SerPutData(SLOT, four, -1), "negative send count");
                equal(-1, SerialPortLocal.SerPutData(SLOT, null, 1), "send from null");
                equal(0, SerialPortLocal.SerPutByte(SLOT, (byte) 0x5A), "a marker");
                equal(0x5A, pty.readExactly(1, 5000)[0], "nothing was sent before the marker");
                farEndWrites(pty, (byte) 9);
                long ms = millis(() -> {
                    equal(-1, SerialPortLocal.SerGetData(SLOT, four, 5), "receive count above the array");
                    equal(-1, SerialPortLocal.SerGetData(SLOT, null, 1), "receive into null");
                    equal(-1, SerialPortLocal.SerGetData(SLOT, four, 0), "count 0");
                    equal(-1, SerialPortLocal.SerGetData(SLOT, four, -3), "count -3");
                });
                isTrue(ms < 2000, "refused calls do not wait: " + ms + " ms");
                equal(9, SerialPortLocal.SerGetByte(SLOT), "the byte is still there");
            });

            group("receive timeouts: 0 does not wait, 250 and 1500 wait about that long", () -> {
                byte[] into = new byte[8];
                equal(1, SerialPortLocal.SerSetTimeoutRx(SLOT, 0), "setter result");
                long none = millis(() -> {
                    equal(-1, SerialPortLocal.SerGetByte(SLOT), "SerGetByte, nothing there");
                    equal(0, SerialPortLocal.SerGetData(SLOT, into, 8), "SerGetData, nothing there");
                });
                isTrue(none < 200, "timeout 0 returned after " + none + " ms");
                // A new timeout applies from the next call on.
                farEndWrites(pty, (byte) 42);
                SerialPortLocal.SerSetTimeoutRx(SLOT, 5000);
                equal(42, SerialPortLocal.SerGetByte(SLOT), "the byte, waited for");
                for (int timeout : new int[] {250, 1500}) {
                    SerialPortLocal.SerSetTimeoutRx(SLOT, timeout);
                    long waited = millis(() -> equal(-1, SerialPortLocal.SerGetByte(SLOT), "SerGetByte"));
                    isTrue(waited >= timeout - 5 && waited < timeout + 1000, timeout + " ms took " + waited);
                    waited = millis(() -> equal(0, SerialPortLocal.SerGetData(SLOT, into, 8), "SerGetData"));
                    isTrue(waited >= timeout - 5 && waited < timeout + 1000, timeout + " ms took " + waited);
                }
            });

            group("a negative timeout returns at once with nothing received, even with bytes waiting", () -> {
                SerialPortLocal.SerSetTimeoutRx(SLOT, 5000);
                farEndWrites(pty, (byte) 1, (byte) 2);
                equal(1, SerialPortLocal.SerGetByte(SLOT), "the first byte, after which the second waits");
                for (int timeout : new int[] {-1, Integer.MIN_VALUE}) {
                    SerialPortLocal.SerSetTimeoutRx(SLOT, timeout);
                    long ms = millis(() -> {
                        equal(-1, SerialPortLocal.SerGetByte(SLOT), "SerGetByte");
                        equal(0, SerialPortLocal.SerGetData(SLOT, new byte[4], 4), "SerGetData");
                    });
                    isTrue(ms < 200, "timeout " + timeout + " returned after " + ms + " ms");
                }
                equal(1, SerialPortLocal.SerRxReadyCount(SLOT), "the second byte is still there");
                equal(0, SerialPortLocal.SerRxFlush(SLOT), "flush it");
            });

            group("the continue signal ends a long receive wait with nothing received", () -> {
                SerialPortLocal.SerSetTimeoutRx(SLOT, 20_000);
                for (int call = 0; call < 2; call++) {
                    final boolean single = call == 0;
                    CompletableFuture<Integer> tid = new CompletableFuture<>();
                    CompletableFuture<long[]> result = CompletableFuture.supplyAsync(() -> {
                        tid.complete(Pty.threadId());
                        long start = System.nanoTime();
                        int got = single ? SerialPortLocal.SerGetByte(SLOT)
                                         : SerialPortLocal.SerGetData(SLOT, new byte[4], 4);
                        return new long[] {got, TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - start)};
                    });
                    int thread = tid.get();
                    Pty.awaitBlockedIn(thread, Pty.POLL_CALLS);
                    equal(0, Pty.signalThread(thread, Pty.SIGCONT), "tgkill");
                    long[] r = result.get(15, TimeUnit.SECONDS);
                    equal(single ? -1 : 0, r[0], single ? "SerGetByte" : "SerGetData");
                    isTrue(r[1] < 15_000, "the wait ended early: " + r[1] + " ms");
                }
            });

            group("queues: ready count, flushes, unsent count and drain", () -> {
                SerialPortLocal.SerSetTimeoutRx(SLOT, 5000);
                farEndWrites(pty, (byte) 1, (byte) 2, (byte) 3, (byte) 4, (byte) 5);
                equal(1, SerialPortLocal.SerGetByte(SLOT), "first byte, after which the rest is there");
                equal(4, SerialPortLocal.SerRxReadyCount(SLOT), "ready count");
                equal(0, SerialPortLocal.SerRxFlush(SLOT), "SerRxFlush");
                equal(0, SerialPortLocal.SerRxReadyCount(SLOT), "ready count after the flush");
                SerialPortLocal.SerSetTimeoutRx(SLOT, 0);
                equal(-1, SerialPortLocal.SerGetByte(SLOT), "nothing left");
                equal(0, SerialPortLocal.SerTxBufCount(SLOT), "a pty sends at once");
                equal(0, SerialPortLocal.SerTxFlush(SLOT), "SerTxFlush");
                equal(0, SerialPortLocal.SerTxDrain(SLOT), "SerTxDrain");
            });

            group("a descriptor above 1024 is still waited on and read", () -> {
                equal(0, SerialPortLocal.SerClosePort(SLOT), "close");
                List<FileInputStream> filler = new ArrayList<>();
                try {
                    for (int i = 0; i < 1100; i++) filler.add(new FileInputStream("/dev/null"));
                    open(pty);
                    SerialPortLocal.SerSetTimeoutRx(SLOT, 300);
                    long waited = millis(() -> equal(-1, SerialPortLocal.SerGetByte(SLOT), "nothing yet"));
                    isTrue(waited >= 295, "waited " + waited + " ms");
                    SerialPortLocal.SerSetTimeoutRx(SLOT, 5000);
                    farEndWrites(pty, (byte) 0xC3, (byte) 7);
                    equal(0xC3, SerialPortLocal.SerGetByte(SLOT), "SerGetByte");
                    byte[] into = new byte[4];
                    equal(1, SerialPortLocal.SerGetData(SLOT, into, 4), "SerGetData");
                    equal(7, into[0], "byte read");
                    equal(0, SerialPortLocal.SerPutByte(SLOT, (byte) 0x11), "SerPutByte");
                    equal(0x11, pty.readExactly(1, 5000)[0], "sent");
                } finally {
                    equal(0, SerialPortLocal.SerClosePort(SLOT), "close");
                    for (FileInputStream f : filler) f.close();
                }
                open(pty);
            });

            group("timeouts stay with the slot across close and reopen", () -> {
                equal(1, SerialPortLocal.SerSetTimeoutRx(SLOT, 1234), "set rx");
                equal(1, SerialPortLocal.SerSetTimeoutTx(SLOT, -77), "set tx");
                equal(0, SerialPortLocal.SerClosePort(SLOT), "close");
                equal(-1, SerialPortLocal.SerTxDrain(SLOT), "drain on the closed port");
                raisesIOException("Port not open", () -> SerialPortLocal.SerGetTimeoutRx(SLOT));
                raisesIOException("Port not open", () -> SerialPortLocal.SerGetTimeoutTx(SLOT));
                equal(1, SerialPortLocal.SerSetTimeoutRx(SLOT, 250), "set rx on a free slot");
                open(pty);
                equal(250, SerialPortLocal.SerGetTimeoutRx(SLOT), "rx after reopen");
                equal(-77, SerialPortLocal.SerGetTimeoutTx(SLOT), "tx after reopen");
                long waited = millis(() -> equal(-1, SerialPortLocal.SerGetByte(SLOT), "SerGetByte"));
                isTrue(waited >= 245, "the stored timeout applies: " + waited + " ms");
            });

            // The transfers and setters pass the slot straight on; the C++ tests check those
            // slot by slot. The exception is this layer's own.
            group("free slots and slots outside the table: Port not open from the timeout getters", () -> {
                for (int slot : new int[] {5, -1, 128, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
                    raisesIOException("Port not open", () -> SerialPortLocal.SerGetTimeoutRx(slot));
                    raisesIOException("Port not open", () -> SerialPortLocal.SerGetTimeoutTx(slot));
                }
            });
            SerialPortLocal.SerClosePort(SLOT);
        }
        Check.finish();
    }
}
