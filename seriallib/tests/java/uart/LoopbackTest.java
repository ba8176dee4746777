package uart;

import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;
import static uart.Uart.*;

import Quorvia.SerialPortLocal;
import testkit.Check;
import testkit.Pty;

/**
 * Modem lines, breaks, receive timeouts and data on ttyS1 with the UART in loopback: the
 * 16550A feeds DTR to DSR, RTS to CTS, OUT1 to RI and OUT2 to CD, and what it sends comes back.
 * A pseudo-terminal has no modem lines at all.
 */
public class LoopbackTest {
    static int slot;
    static int lines;  // the kit's own descriptor of ttyS1, for the bits the library leaves alone

    /** The lines the UART reports to the library, as "CTS DSR CD RI" bits 0 or 1. */
    static String status() {
        return "" + SerialPortLocal.SerSigCTS(slot) + SerialPortLocal.SerSigDSR(slot)
                + SerialPortLocal.SerSigCD(slot) + SerialPortLocal.SerSigRing(slot);
    }

    static int outputs() {
        return Pty.modemLines(lines, 0, 0) & (TIOCM_DTR | TIOCM_RTS);
    }

    public static void main(String[] args) {
        slot = open(S1);
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

        group("SerSendBreak(0) holds the line for the break, then returns 0", () -> {
            long start = System.nanoTime();
            equal(0, SerialPortLocal.SerSendBreak(slot, 0), "break");
            long held = millisSince(start);
            // The driver holds the break for 250 ms; POSIX allows up to 500 ms.
            isTrue(held >= 245 && held < 1500, "the break took " + held + " ms");
            equal(0, SerialPortLocal.SerSendBreak(slot, 249), "249 counts as 0");
        });

        loopback(lines, false);
        Pty.close(lines);
        equal(0, SerialPortLocal.SerClosePort(slot), "close");
        Check.finish();
    }
}
