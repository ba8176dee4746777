package uart;

import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;
import static testkit.Check.millis;
import static uart.Uart.*;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.util.Arrays;
import java.util.Random;
import java.util.concurrent.CountDownLatch;
import testkit.Check;
import testkit.Pty;

/**
 * Modem lines, breaks, receive timeouts and data on ttyS1 with the UART in loopback: the
 * 16550A feeds DTR to DSR, RTS to CTS, OUT1 to RI and OUT2 to CD, and what it sends comes back.
 * A pseudo-terminal has no modem lines at all, and its output queue always reads as empty.
 */
public class LoopbackTest {
    static int slot;
    static SerialConfig config;
    static int lines;  // the kit's own descriptor of ttyS1, for the bits the library leaves alone

    /** The lines the UART reports to the library, as "CTS DSR CD RI" bits 0 or 1. */
    static String status() {
        return "" + SerialPortLocal.SerSigCTS(slot) + SerialPortLocal.SerSigDSR(slot)
                + SerialPortLocal.SerSigCD(slot) + SerialPortLocal.SerSigRing(slot);
    }

    /** Drops RTS, and with it CTS, then turns on hardware flow control: output stops. */
    static void holdOutput() {
        equal(0, SerialPortLocal.SerSetRTS(slot, false), "drop RTS");
        equal(0, SerialPortLocal.SerConfigure(config.line(11, 3, 0, 0, 2)), "hardware flow control");
    }

    /** Turns hardware flow control off, which lets the output go, and raises RTS again. */
    static void releaseOutput() {
        equal(0, SerialPortLocal.SerConfigure(config.line(11, 3, 0, 0, 0)), "no flow control");
        equal(0, SerialPortLocal.SerSetRTS(slot, true), "raise RTS");
    }

    static int outputs() {
        return Pty.modemLines(lines, 0, 0) & (TIOCM_DTR | TIOCM_RTS);
    }

    public static void main(String[] args) throws java.io.IOException {
        slot = open(S1);
        config = SerialConfig.byNumber("", slot + 1);
        lines = Pty.openDevice(S1);
        loopback(lines, true);

        group("DTR shows as DSR, and moving it leaves RTS and CTS alone", () -> {
            equal("1110", status(), "CTS DSR CD RI after open, which raises DTR, RTS and OUT2");
            equal(0, SerialPortLocal.SerSetDTR(slot, false), "drop DTR");
            equal("1010", status(), "DSR follows DTR down");
            equal(TIOCM_RTS, outputs(), "RTS still up");
            equal(0, SerialPortLocal.SerSetDTR(slot, false), "drop DTR again");
            equal("1010", status(), "dropping twice changes nothing");
            equal(0, SerialPortLocal.SerSetDTR(slot, true), "raise DTR");
            equal("1110", status(), "DSR follows DTR up");
        });

        group("RTS shows as CTS, and moving it leaves DTR and DSR alone", () -> {
            equal(0, SerialPortLocal.SerSetRTS(slot, false), "drop RTS");
            equal("0110", status(), "CTS follows RTS down");
            equal(TIOCM_DTR, outputs(), "DTR still up");
            equal(0, SerialPortLocal.SerSetDTR(slot, false), "drop DTR too");
            equal("0010", status(), "both down");
            equal(0, SerialPortLocal.SerSetRTS(slot, true), "raise RTS");
            equal("1010", status(), "CTS up, DSR still down");
            equal(TIOCM_RTS, outputs(), "DTR still down");
            equal(0, SerialPortLocal.SerSetDTR(slot, true), "raise DTR");
        });

        group("CD follows OUT2 and RING follows OUT1", () -> {
            isTrue(Pty.modemLines(lines, 0, TIOCM_OUT2) >= 0, "drop OUT2");
            equal("1100", status(), "CD down");
            isTrue(Pty.modemLines(lines, TIOCM_OUT1, 0) >= 0, "raise OUT1");
            equal("1101", status(), "RING up");
            isTrue(Pty.modemLines(lines, TIOCM_OUT2, TIOCM_OUT1) >= 0, "raise OUT2, drop OUT1");
            equal("1110", status(), "CD up, RING down");
        });

        // The bytes themselves are compared where the drain lets them go, and across the link.
        group("what the UART sends comes back: SerRxReadyCount counts it, SerRxFlush discards it", () -> {
            byte[] sent = new byte[1000];
            equal(0, SerialPortLocal.SerRxReadyCount(slot), "nothing waiting before");
            equal(sent.length, SerialPortLocal.SerPutData(slot, sent, sent.length), "written");
            awaitReadyCount(slot, sent.length);
            equal(0, SerialPortLocal.SerRxFlush(slot), "flush");
            equal(0, SerialPortLocal.SerRxReadyCount(slot), "nothing left");
            SerialPortLocal.SerSetTimeoutRx(slot, 0);
            equal(-1, SerialPortLocal.SerGetByte(slot), "nothing to read");
            equal(0, SerialPortLocal.SerPutByte(slot, (byte) 0xff), "one byte 0xff");
            SerialPortLocal.SerSetTimeoutRx(slot, 2000);
            equal(255, SerialPortLocal.SerGetByte(slot), "0xff comes back as 255");
        });

        group("CRTSCTS holds output while CTS is down; SerTxBufCount counts it, SerTxFlush drops it", () -> {
            byte[] held = new byte[1000];
            holdOutput();
            equal(held.length, SerialPortLocal.SerPutData(slot, held, held.length), "written");
            equal(held.length, SerialPortLocal.SerTxBufCount(slot), "all of it queued");
            equal(0, SerialPortLocal.SerTxFlush(slot), "flush");
            equal(0, SerialPortLocal.SerTxBufCount(slot), "nothing queued");
            releaseOutput();
            equal(0, SerialPortLocal.SerPutByte(slot, (byte) 0x42), "a marker");
            SerialPortLocal.SerSetTimeoutRx(slot, 2000);
            equal(0x42, SerialPortLocal.SerGetByte(slot), "the marker is the first byte back");
            equal(0, SerialPortLocal.SerRxReadyCount(slot), "and the only one");
        });

        group("SerTxDrain waits while the output is held and returns once it has left", () -> {
            byte[] data = new byte[1000];
            new Random(3).nextBytes(data);
            holdOutput();
            equal(data.length, SerialPortLocal.SerPutData(slot, data, data.length), "written");
            CountDownLatch started = new CountDownLatch(1);
            int[] drainer = new int[2];  // its thread id; what was queued when the drain returned
            Thread thread = new Thread(() -> {
                drainer[0] = Pty.threadId();
                started.countDown();
                SerialPortLocal.SerTxDrain(slot);
                drainer[1] = SerialPortLocal.SerTxBufCount(slot);
            });
            thread.start();
            started.await();
            Pty.awaitBlockedIn(drainer[0], 54);  // ioctl on i386, where a drain waits
            equal(data.length, SerialPortLocal.SerTxBufCount(slot), "still queued while the drain waits");
            releaseOutput();
            thread.join(10_000);
            isTrue(!thread.isAlive(), "the drain returned");
            equal(0, drainer[1], "queued when the drain returned");
            equal(Arrays.toString(data), Arrays.toString(receive(slot, data.length)),
                    "everything came back");
        });

        group("a receive waits for its timeout on an idle line, and not at all for 0", () -> {
            equal(1, SerialPortLocal.SerSetTimeoutRx(slot, 700), "set 700 ms");
            long waited = millis(() -> equal(-1, SerialPortLocal.SerGetByte(slot), "SerGetByte"));
            isTrue(waited >= 690 && waited < 3000, "SerGetByte waited " + waited + " ms");
            waited = millis(() -> equal(0, SerialPortLocal.SerGetData(slot, new byte[8], 8), "SerGetData"));
            isTrue(waited >= 690 && waited < 3000, "SerGetData waited " + waited + " ms");
            SerialPortLocal.SerSetTimeoutRx(slot, 0);
            waited = millis(() -> equal(0, SerialPortLocal.SerGetData(slot, new byte[8], 8), "timeout 0"));
            isTrue(waited < 500, "timeout 0 waited " + waited + " ms");
        });

        group("SerSendBreak(0) holds the line for the break, then returns 0", () -> {
            long held = millis(() -> equal(0, SerialPortLocal.SerSendBreak(slot, 0), "break"));
            // The driver holds the break for 250 ms; POSIX allows up to 500 ms.
            isTrue(held >= 245 && held < 1500, "the break took " + held + " ms");
            equal(0, SerialPortLocal.SerSendBreak(slot, 249), "249 counts as 0");
        });

        // Last, since it closes ttyS1: the driver's close() waits up to the closing wait for
        // output that flow control holds back. Only the closing thread may wait.
        group("a close waiting out the closing wait holds up no open or transfer on another port", () -> {
            holdOutput();
            equal(300, Pty.closingWait(lines, 300), "closing wait 3 s");
            equal(0, Pty.close(lines), "the kit's descriptor, so that the library's close is the last");
            byte[] held = new byte[100];
            equal(held.length, SerialPortLocal.SerPutData(slot, held, held.length), "output held back");
            int[] closer = new int[1];
            long[] closed = new long[2];  // when the close returned; its result
            CountDownLatch started = new CountDownLatch(1);
            Thread thread = new Thread(() -> {
                closer[0] = Pty.threadId();
                started.countDown();
                long start = System.nanoTime();
                closed[1] = SerialPortLocal.SerClosePort(slot);
                closed[0] = System.nanoTime();
                System.out.println("close of ttyS1: " + (closed[0] - start) / 1_000_000 + " ms");
            });
            thread.start();
            started.await();
            Pty.awaitBlockedIn(closer[0], 6);  // close on i386

            int other = open(S2);
            int otherLines = Pty.openDevice(S2);
            loopback(otherLines, true);
            byte[] data = "through ttyS2 while ttyS1 closes".getBytes(java.nio.charset.StandardCharsets.US_ASCII);
            send(other, data);
            equal(new String(data, java.nio.charset.StandardCharsets.US_ASCII),
                    new String(receive(other, data.length), java.nio.charset.StandardCharsets.US_ASCII),
                    "came back on ttyS2");
            long transferred = System.nanoTime();
            thread.join(20_000);
            isTrue(!thread.isAlive(), "the close returned");
            equal(0, closed[1], "close");
            isTrue(transferred < closed[0], "the open and transfer on ttyS2 finished while ttyS1 was closing");
            loopback(otherLines, false);
            Pty.close(otherLines);
            equal(0, SerialPortLocal.SerClosePort(other), "close ttyS2");
        });
        Check.finish();
    }
}
