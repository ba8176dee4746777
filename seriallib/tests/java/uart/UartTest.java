package uart;

import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.util.*;
import java.util.concurrent.*;
import testkit.*;

/** What only a real UART driver shows, on the i386 guest's 16550A UARTs, mostly in loopback. */
public class UartTest {
    static final String S1 = "/dev/ttyS1", S2 = "/dev/ttyS2";
    // Modem-line values as Linux defines them on i386.
    static final int TIOCM_OUT1 = 0x2000, TIOCM_OUT2 = 0x4000, TIOCM_LOOP = 0x8000;

    static SerialConfig config;
    static int slot;

    /** Opens the device into the lowest free slot, now `slot`, at 115200 bit/s, 8N1, with the UART in loopback. */
    static int open(String path) throws java.io.IOException {
        slot = Methods.open(path);
        config = SerialConfig.byNumber("", slot + 1);
        equal(0, SerConfigure(config.line(11, 3, 0, 0, 0)), "configure " + path);
        int lines = Pty.openDevice(path);
        isTrue((Pty.modemLines(lines, TIOCM_LOOP, 0) & TIOCM_LOOP) != 0, "loopback on " + path);
        return lines;
    }

    /** The lines the UART reports, as "CTS DSR CD RI" bits 0 or 1. */
    static String status() {
        return "" + SerSigCTS(slot) + SerSigDSR(slot) + SerSigCD(slot) + SerSigRing(slot);
    }

    /** RTS, and so CTS, down with flow control on stops the output; in loopback the driver sees CTS only when the line is set. */
    static void holdOutput(boolean hold) {
        if (hold) equal(0, SerSetRTS(slot, false), "drop RTS");
        equal(0, SerConfigure(config.line(11, 3, 0, 0, hold ? 2 : 0)), "flow control " + hold);
        if (!hold) equal(0, SerSetRTS(slot, true), "raise RTS");
    }

    public static void main(String[] args) throws Exception {
        int lines = open(S1);

        group("each character size, stop bits and parity, at each rate the UART makes, with each handshake, is the driver's line", () -> {
            int[] handshakes = {0, 1, 2, 0x40, 0x80};
            for (int row = 0; row < 48; row++) {
                int dataBits = row % 4, stopBits = row / 4 % 2, parity = row / 8, rate = row % 12, handshake = handshakes[row % 5];
                String what = "rate " + rate + ", data bits " + dataBits + ", stop bits " + stopBits + ", parity " + parity + ", handshake " + handshake;
                equal(0, SerConfigure(config.line(rate, dataBits, stopBits, parity, handshake)), what);
                Pty.expectLine(lines, Pty.line(rate, dataBits, stopBits, parity, handshake), 0, what);
            }
        });

        group("230400 bit/s, beyond the UART's 115200 base, gives 5003 and the line keeps its speed", () -> {
            equal(List.of(0, 5003), List.of(SerConfigure(config.line(11, 3, 0, 0, 0)), SerConfigure(config.line(12, 3, 0, 0, 0))),
                    "115200, then 230400");
            Pty.expectLine(lines, Pty.line(11, 3, 0, 0, 0), 0, "still 115200 bit/s");
        });

        group("DTR shows as DSR, RTS as CTS, OUT2 as CD and OUT1 as RING, each line moving alone", () -> {
            // Out of loopback the emulated inputs stay as reset; loopback is back before the check fails.
            Pty.modemLines(lines, 0, TIOCM_LOOP);
            SerSetDTR(slot, false);
            String outOfLoopback = status();
            SerSetDTR(slot, true);
            Pty.modemLines(lines, TIOCM_LOOP, 0);
            equal("1110", outOfLoopback, "DTR down, loopback off");
            Runnable[] moves = {() -> SerSetDTR(slot, false), () -> SerSetRTS(slot, false),
                                () -> SerSetDTR(slot, true), () -> Pty.modemLines(lines, TIOCM_OUT1, TIOCM_OUT2),
                                () -> SerSetRTS(slot, true), () -> Pty.modemLines(lines, TIOCM_OUT2, TIOCM_OUT1)};
            String[] after = {"1010", "0010", "0110", "0101", "1101", "1110"};
            for (int i = 0; i < moves.length; i++) {
                moves[i].run();
                equal(after[i], status(), "CTS DSR CD RI after move " + i);
            }
        });

        group("CRTSCTS holds the output: SerTxBufCount counts it, SerTxFlush drops it, SerTxDrain waits for it", () -> {
            byte[] data = new byte[1000];
            new Random(3).nextBytes(data);
            holdOutput(true);
            equal(data.length, SerPutData(slot, data, data.length), "written");
            equal(List.of(1000, 0, 0), List.of(SerTxBufCount(slot), SerTxFlush(slot), SerTxBufCount(slot)), "queued, flush, queued");
            equal(data.length, SerPutData(slot, data, data.length), "written again");
            var drained = Pty.startBlocked(() -> SerTxDrain(slot) * 10_000 + SerTxBufCount(slot), 54);  // ioctl on i386
            equal(data.length, SerTxBufCount(slot), "still queued while the drain waits");
            holdOutput(false);
            equal(0, (int) drained.result().get(10, TimeUnit.SECONDS), "the drain's result, and what was queued when it returned");
            equal(Arrays.toString(data), Methods.receive(slot, data.length), "what came back: the second write only");
            equal(0, SerRxReadyCount(slot), "nothing more");
        });

        group("a break lasts the duration in quarter seconds, each a tenth of a second rounded up to tenths of a second; under one, "
                + "250 ms", () -> {
            for (int[] c : new int[][] {{0, 245, 1500}, {-600, 245, 1500}, {1000, 95, 245}, {25250, 195, 1500}}) {
                long held = millis(() -> equal(0, SerSendBreak(slot, c[0]), "break " + c[0]));
                isTrue(held >= c[1] && held < c[2], "a break of " + c[0] + " took " + held + " ms");
            }
            for (int[] c : new int[][] {{95, 0}, {5, -1}}) {  // a driver that sends no break; one that fails
                KernelFake.refuseBreak(c[0]);
                equal(c[1], SerSendBreak(slot, 1000), "a break the driver refuses with errno " + c[0]);
            }
        });

        group("a close ends a break at once: one behind output that flow control holds before it starts, one of 20 s on the "
                + "line, which then leaves the break state; sends fail while it lasts", () -> {
            KernelFake.takeLog();
            ExecutorService closer = Executors.newSingleThreadExecutor();  // the close in a thread of its own, bounded
            closer.submit(() -> 0).get();
            for (int duration : new int[] {0, 5_000_000}) {
                if (duration == 0) holdOutput(true);
                if (duration == 0) equal(1000, SerPutData(slot, new byte[1000], 1000), "output held back");
                // The break waits in ioctl (54 on i386) behind the output, or in poll while it is sent.
                var breaking = Pty.startBlocked(() -> {
                    Native.Outcome cut = Native.call("SerSendBreak", slot, duration);
                    return cut.result() == -1 && cut.errno() == 9 ? System.nanoTime() : 0L;
                }, duration == 0 ? new long[] {54} : Pty.POLL_CALLS);
                if (duration != 0) {
                    Native.Outcome send = Native.call("SerPutByte", slot, 1);
                    equal(List.of(-1, 11, -1), List.of(send.result(), send.errno(), SerPutData(slot, new byte[4], 4)),
                            "sends during the break: EAGAIN, as the kernel's break has them");
                }
                long[] start = new long[1];
                long closed = closer.submit(() -> {
                    start[0] = System.nanoTime();
                    return SerClosePort(slot) == 0 ? System.nanoTime() : 0L;
                }).get(10, TimeUnit.SECONDS), ended = breaking.result().get(10, TimeUnit.SECONDS);
                isTrue(closed != 0 && ended != 0, "the close's result 0, the break's errno EBADF");
                System.out.println("break " + duration + ": the close took " + (closed - start[0]) / 1000 + " us, the break returned "
                        + (ended - start[0]) / 1000 + " us after the close began");
                isTrue(closed - start[0] < 1_000_000_000L && ended - start[0] < 1_000_000_000L, "the close and the break within a second");
                Pty.close(open(S1));
            }
            closer.shutdown();
            equal("TIOCSBRK|TIOCCBRK|", KernelFake.takeLog().replace('\n', '|'), "the held break never set, the other cleared");
        });

        // Last, since it closes ttyS1: the driver's close() waits up to the closing wait for output
        // that flow control holds back. Only the closing thread may wait.
        group("a close held by the closing wait holds up no open or transfer on another port", () -> {
            holdOutput(true);
            equal(300, Pty.closingWait(lines, 300), "closing wait 3 s");
            equal(0, Pty.close(lines), "the kit's descriptor, so that the library's close is the last");
            equal(100, SerPutData(slot, new byte[100], 100), "output held back");
            int closing = slot;
            var closed = Pty.startBlocked(() -> SerClosePort(closing) == 0 ? System.nanoTime() : -1L, 6);  // close on i386
            int otherLines = open(S2), other = slot;
            byte[] data = "through ttyS2 while ttyS1 closes".getBytes(java.nio.charset.StandardCharsets.US_ASCII);
            equal(data.length, SerPutData(other, data, data.length), "send on ttyS2");
            equal(Arrays.toString(data), Methods.receive(other, data.length), "came back on ttyS2");
            long transferred = System.nanoTime();
            long closedAt = closed.result().get(20, TimeUnit.SECONDS);
            isTrue(closedAt != -1 && transferred < closedAt, "ttyS1 closed, after ttyS2 was done");
            isTrue((Pty.modemLines(otherLines, 0, TIOCM_LOOP) & TIOCM_LOOP) == 0, "loopback off");
            Pty.close(otherLines);
            equal(0, SerClosePort(other), "close ttyS2");
        });
        Check.finish();
    }
}
