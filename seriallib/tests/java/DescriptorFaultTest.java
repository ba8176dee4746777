import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;
import static testkit.Check.millis;
import static testkit.Check.openedDevices;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.util.Arrays;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import java.util.function.IntSupplier;
import testkit.Check;
import testkit.Pty;

/** What becomes of a port when its far end hangs up, or when another thread closes it under a receive. */
public class DescriptorFaultTest {
    static final int LONG_WAIT = 20_000;

    /** Opens the device by name and returns the slot the library reported. */
    static int open(String path) throws java.io.IOException {
        SerialConfig config = SerialConfig.byName(path);
        equal(0, SerialPortLocal.SerOpenPort(config), "open " + path);
        return config.getPort() - 1;
    }

    static void oneByteEachWay(Pty pty, int slot) {
        equal(0, SerialPortLocal.SerPutByte(slot, (byte) 0x3C), "send");
        equal(0x3C, pty.readExactly(1, 5000)[0], "the far end got it");
        equal(1, Pty.write(pty.master, new byte[] {0x5A}, 0, 1), "far end write");
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
            int thread = tid.get();
            Pty.awaitBlockedIn(thread, Pty.POLL_CALLS);
            return new Waiting(thread, result);
        }

        int end() throws Exception {
            return result.get(LONG_WAIT / 2, TimeUnit.MILLISECONDS);
        }
    }

    public static void main(String[] args) throws Exception {
        group("far end hung up mid-transfer: receives fail with -1, sends fail, the slot closes and opens again", () -> {
            Pty far = new Pty();
            int slot = open(far.slavePath);
            oneByteEachWay(far, slot);
            equal(1, SerialPortLocal.SerSetTimeoutRx(slot, LONG_WAIT), "receive timeout");
            Waiting receive = Waiting.start(() -> SerialPortLocal.SerGetData(slot, new byte[64], 64));
            equal(0, Pty.close(far.master), "hang-up");
            equal(-1, receive.end(), "the waiting SerGetData");
            byte[] data = new byte[100];
            long ms = millis(() -> {
                equal(-1, SerialPortLocal.SerPutData(slot, data, 100), "SerPutData");
                equal(-1, SerialPortLocal.SerPutByte(slot, (byte) 1), "SerPutByte");
                equal(-1, SerialPortLocal.SerTxDrain(slot), "SerTxDrain: sending is over for good");
                for (int i = 0; i < 3; i++) {
                    equal(-1, SerialPortLocal.SerGetByte(slot), "SerGetByte, not a timeout");
                    equal(-1, SerialPortLocal.SerGetData(slot, data, 100), "SerGetData, not a timeout");
                }
            });
            isTrue(ms < LONG_WAIT / 2, "calls after the hang-up took " + ms + " ms");
            equal(0, SerialPortLocal.SerClosePort(slot), "close");
            try (Pty next = new Pty()) {
                equal(slot, open(next.slavePath), "the slot is taken again");
                oneByteEachWay(next, slot);
                equal(0, SerialPortLocal.SerClosePort(slot), "close");
            }
        });

        // Closing a descriptor does not wake a poll() on it: the receive keeps the port open until
        // its wait ends, then reads nothing, and only then is the slot given out again.
        try (Pty first = new Pty(); Pty second = new Pty()) {
            group("closed under a waiting SerGetData: input ends the wait with -1, no byte taken", () -> {
                int devices = openedDevices();
                int slot = open(first.slavePath);
                equal(1, SerialPortLocal.SerSetTimeoutRx(slot, LONG_WAIT), "receive timeout");
                byte[] into = new byte[16];
                Waiting receive = Waiting.start(() -> SerialPortLocal.SerGetData(slot, into, 16));
                equal(0, SerialPortLocal.SerClosePort(slot), "close under the wait");
                equal(devices + 1, openedDevices(), "the waiting receive still holds the port");

                int other = open(second.slavePath);
                isTrue(other != slot, "a slot still in use is not given to the next open");
                equal(3, Pty.write(first.master, new byte[] {1, 2, 3}, 0, 3), "input for the closed port");
                equal(-1, receive.end(), "the waiting receive");
                isTrue(Arrays.equals(new byte[16], into), "nothing was copied into the array");
                equal(devices + 1, openedDevices(), "the closed port's descriptor went with the receive");

                oneByteEachWay(second, other);
                equal(slot, open(first.slavePath), "the slot is free again");
                oneByteEachWay(first, slot);
                equal(0, SerialPortLocal.SerClosePort(slot), "close");
                equal(0, SerialPortLocal.SerClosePort(other), "close");
            });

            group("closed under a waiting receive: -1 whether a continue signal or the timeout ends the wait", () -> {
                record Case(String receive, boolean bySignal, IntSupplier call) {}
                byte[] into = new byte[16];
                int slot = open(first.slavePath);
                Case[] cases = {
                    new Case("SerGetData", false, () -> SerialPortLocal.SerGetData(slot, into, 16)),
                    new Case("SerGetData", true, () -> SerialPortLocal.SerGetData(slot, into, 16)),
                    new Case("SerGetByte", true, () -> SerialPortLocal.SerGetByte(slot)),
                };
                for (Case c : cases) {
                    String what = c.receive() + (c.bySignal() ? " ended by SIGCONT" : " ended by its timeout");
                    equal(1, SerialPortLocal.SerSetTimeoutRx(slot, c.bySignal() ? LONG_WAIT : 2000), "receive timeout");
                    Waiting receive = Waiting.start(c.call());
                    equal(0, SerialPortLocal.SerClosePort(slot), "close under the wait");
                    equal(-1, SerialPortLocal.SerClosePort(slot), "a second close finds the slot free");
                    equal(-1, SerialPortLocal.SerGetByte(slot), "a later receive finds the slot free");
                    if (c.bySignal()) equal(0, Pty.signalThread(receive.thread(), Pty.SIGCONT), "tgkill");
                    equal(-1, receive.end(), what);
                    equal(slot, open(first.slavePath), "the slot is free again after " + what);
                }
                oneByteEachWay(first, slot);
                equal(0, SerialPortLocal.SerClosePort(slot), "close");
            });
        }
        Check.finish();
    }
}
