import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.io.*;
import java.util.*;
import java.util.concurrent.*;
import testkit.*;

/** Transfers, queues and timeouts on a pty; a receive whose far end hangs up or whose port is closed. */
public class TransferTest {
    static int open(String path) throws java.io.IOException {
        SerialConfig config = SerialConfig.byName(path);
        equal(0, SerOpenPort(config), "open " + path);
        return config.getPort() - 1;
    }

    static void farEndWrites(Pty pty, byte... data) {
        equal(data.length, Pty.write(pty.master, data, 0, data.length), "far end write");
    }

    static void oneByteEachWay(Pty pty, int slot) {
        equal(0, SerPutByte(slot, (byte) 0x3C), "send");
        equal(0x3C, pty.readExactly(1, 5000)[0], "the far end got it");
        farEndWrites(pty, (byte) 0x5A);
        equal(1, SerSetTimeoutRx(slot, 5000), "receive timeout");
        equal(0x5A, SerGetByte(slot), "received");
    }

    public static void main(String[] args) throws Exception {
        try (Pty pty = new Pty()) {
            final int slot = open(pty.slavePath);
            // SerPutData and both receives meet every byte value in StormTest's streams.
            group("every byte value sent one at a time; a receive fills only what arrived", () -> {
                byte[] all = new byte[256], into = new byte[100_000];
                for (int i = 0; i < 256; i++) all[i] = (byte) i;
                for (int i = 0; i < 256; i++) equal(0, SerPutByte(slot, all[i]), "SerPutByte " + i);
                isTrue(Arrays.equals(all, pty.readExactly(256, 5000)), "0..255");
                SerSetTimeoutRx(slot, 5000);
                farEndWrites(pty, (byte) 1, (byte) 2, (byte) 0xFF);
                Arrays.fill(into, (byte) 0x77);
                byte[] expected = into.clone();
                System.arraycopy(new byte[] {1, 2, -1}, 0, expected, 0, 3);
                equal(3, SerGetData(slot, into, 10), "bytes read");
                isTrue(Arrays.equals(expected, into), "the three bytes and nothing else changed");
            });

            group("queues: ready count, flushes, unsent count and drain", () -> {
                farEndWrites(pty, (byte) 1, (byte) 2, (byte) 3, (byte) 4, (byte) 5);
                SerSetTimeoutRx(slot, 5000);
                equal(1, SerGetByte(slot), "first byte, after which the rest is there");
                equal(List.of(4, 0, 0, 0, 0, 0), List.of(SerRxReadyCount(slot), SerTxBufCount(slot), SerRxFlush(slot),
                        SerRxReadyCount(slot), SerTxFlush(slot), SerTxDrain(slot)),
                        "ready, unsent (a pty sends at once), flush, ready, flush, drain");
            });

            // Negative and zero timeouts meet /dev/zero, where bytes always wait, in BadInputTest's model.
            group("receive timeouts are waited out, a free slot's once it is taken; a descriptor above 1024 serves", () -> {
                SerSetTimeoutRx(slot, 300);
                long waited = millis(() -> equal(List.of(-1, 0), List.of(SerGetByte(slot), SerGetData(slot, new byte[8], 8)), "nothing"));
                isTrue(waited >= 590 && waited < 2600, "two waits of 300 ms took " + waited);
                equal(0, SerClosePort(slot), "close");
                equal(1, SerSetTimeoutRx(slot, 250), "set rx on the free slot");
                List<FileInputStream> filler = new ArrayList<>();
                for (int i = 0; i < 1100; i++) filler.add(new FileInputStream("/dev/null"));
                equal(slot, open(pty.slavePath), "reopen");
                long stored = millis(() -> equal(-1, SerGetByte(slot), "SerGetByte"));
                isTrue(stored >= 245, "the stored timeout applies: " + stored + " ms");
                oneByteEachWay(pty, slot);
                for (FileInputStream f : filler) f.close();
            });

            equal(0, SerClosePort(slot), "close");
        }

        group("far end hung up: a waiting receive fails at once, and so does every call that can tell", () -> {
            Pty far = new Pty();
            int slot = open(far.slavePath);
            equal(1, SerSetTimeoutRx(slot, 20_000), "receive timeout");
            var receive = Pty.startBlocked(() -> SerGetData(slot, new byte[64], 64), Pty.POLL_CALLS);
            equal(0, Pty.close(far.master), "hang-up");
            equal(-1, (int) receive.result().get(10, TimeUnit.SECONDS), "the waiting SerGetData");
            Methods.afterLineGone("pty: hung up", slot);
            equal(0, SerClosePort(slot), "close");
        });

        // Closing a descriptor does not wake a poll() on it: the receive keeps the port open until
        // its wait ends, then returns -1, and only then is the slot given out again.
        try (Pty first = new Pty(); Pty second = new Pty()) {
            group("closed under a waiting receive: -1 whatever ends the wait, no byte taken, no slot shared", () -> {
                byte[] into = new byte[16];
                for (String ending : new String[] {"input", "its timeout", "SIGCONT to SerGetData", "SIGCONT to SerGetByte"}) {
                    int devices = openedDevices(), slot = open(first.slavePath);
                    equal(1, SerSetTimeoutRx(slot, ending.equals("its timeout") ? 1000 : 20_000), "receive timeout");
                    var receive = Pty.startBlocked(() -> ending.endsWith("GetByte") ? SerGetByte(slot) : SerGetData(slot, into, 16),
                            Pty.POLL_CALLS);
                    equal(0, SerClosePort(slot), "close under the wait");
                    equal(-1, SerClosePort(slot), "a second close finds the slot free");
                    equal(devices + 1, openedDevices(), "the waiting receive still holds the port");
                    int other = open(second.slavePath);
                    isTrue(other != slot, "a slot still in use is not given to the next open");
                    if (ending.equals("input")) farEndWrites(first, (byte) 1, (byte) 2, (byte) 3);
                    if (ending.startsWith("SIGCONT")) equal(0, Pty.signal(Pty.SIGCONT, receive.thread()), "tgkill");
                    equal(-1, (int) receive.result().get(10, TimeUnit.SECONDS), "the receive ended by " + ending);
                    isTrue(Arrays.equals(new byte[16], into), "nothing was copied into the array");
                    equal(devices + 1, openedDevices(), "the closed port's descriptor went with the receive");
                    equal(slot, open(first.slavePath), "the slot is free again after " + ending);
                    oneByteEachWay(second, other);
                    equal(0, SerClosePort(slot), "close");
                    equal(0, SerClosePort(other), "close");
                }
            });
        }
        Check.finish();
    }
}
