import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import testkit.Check;
import testkit.KernelFake;
import testkit.Native;
import testkit.Pty;

/**
 * DTR, RTS, breaks and the status lines, on a real port whose modem lines the preloaded fake
 * driver provides (a pseudo-terminal has none).
 */
public class ModemLinesTest {
    static final int DTR = 0x002, RTS = 0x004, CTS = 0x020, CAR = 0x040, RNG = 0x080, DSR = 0x100;

    interface StatusRead {
        int read(int slot);
    }

    static final StatusRead[] READS = {
        SerialPortLocal::SerSigCTS, SerialPortLocal::SerSigDSR, SerialPortLocal::SerSigCD, SerialPortLocal::SerSigRing
    };
    static final int[] READ_BITS = {CTS, DSR, CAR, RNG};

    public static void main(String[] args) throws Exception {
        isTrue(KernelFake.preloaded(), "libKernelFake must be preloaded");
        try (Pty pty = new Pty()) {
            equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)), "open");
            KernelFake.adoptLines(pty.slavePath, RTS | CTS);
            KernelFake.takeLog();

            group("each control line changes alone, with one request and nothing read first", () -> {
                equal(0, SerialPortLocal.SerSetDTR(0, true), "raise DTR");
                equal(RTS | CTS | DTR, KernelFake.lines(pty.slavePath), "lines after raising DTR");
                equal(0, SerialPortLocal.SerSetDTR(0, false), "drop DTR");
                equal(RTS | CTS, KernelFake.lines(pty.slavePath), "lines after dropping DTR");
                equal(0, SerialPortLocal.SerSetRTS(0, false), "drop RTS");
                equal(0, SerialPortLocal.SerSetRTS(0, true), "raise RTS");
                equal(RTS | CTS, KernelFake.lines(pty.slavePath), "lines after RTS down and up");
                equal("TIOCMBIS 0x2\nTIOCMBIC 0x2\nTIOCMBIC 0x4\nTIOCMBIS 0x4\n", KernelFake.takeLog(), "requests");
            });

            group("a boolean counts by its low byte alone", () -> {
                equal(0, Native.method("SerSetDTR", 0, 0x101).result(), "0x101");
                equal(RTS | CTS | DTR, KernelFake.lines(pty.slavePath), "0x101 raises");
                equal(0, Native.method("SerSetDTR", 0, 0x100).result(), "0x100");
                equal(RTS | CTS, KernelFake.lines(pty.slavePath), "0x100 drops");
                equal(0, Native.method("SerSetRTS", 0, 0x200).result(), "0x200");
                equal(CTS, KernelFake.lines(pty.slavePath), "0x200 drops");
                KernelFake.takeLog();
            });

            group("a break lasts the duration in quarter seconds, truncated", () -> {
                int[][] cases = {{0, 0}, {100, 0}, {249, 0}, {-249, 0}, {250, 1}, {1000, 4}, {-600, -2}};
                StringBuilder expected = new StringBuilder();
                for (int[] c : cases) {
                    equal(0, SerialPortLocal.SerSendBreak(0, c[0]), "break of " + c[0]);
                    expected.append("break ").append(c[1]).append('\n');
                }
                equal(expected.toString(), KernelFake.takeLog(), "durations handed to tcsendbreak");
            });

            group("each status method reads its own line, as 1 or 0", () -> {
                for (int i = 0; i < READS.length; i++) {
                    KernelFake.adoptLines(pty.slavePath, READ_BITS[i]);
                    for (int j = 0; j < READS.length; j++) {
                        equal(i == j ? 1 : 0, READS[j].read(0), "line " + j + " with only bit " + READ_BITS[i]);
                    }
                }
                KernelFake.adoptLines(pty.slavePath, 0xFFFF);
                for (StatusRead read : READS) equal(1, read.read(0), "every line up");
                KernelFake.adoptLines(pty.slavePath, ~(CTS | DSR | CAR | RNG));
                for (StatusRead read : READS) equal(0, read.read(0), "every other line up");
            });

            group("a device without modem lines reads 0 and refuses to set them", () -> {
                KernelFake.releaseLines();
                for (StatusRead read : READS) equal(0, read.read(0), "status of a bare pty");
                equal(-1, SerialPortLocal.SerSetDTR(0, true), "DTR on a bare pty");
                equal(-1, SerialPortLocal.SerSetRTS(0, false), "RTS on a bare pty");
            });

            group("a free slot, or one outside the table, gives -1 and 0", () -> {
                KernelFake.adoptLines(pty.slavePath, 0xFFFF);
                KernelFake.takeLog();
                for (int slot : new int[] {1, 127, -1, 128, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
                    equal(-1, SerialPortLocal.SerSetDTR(slot, true), "DTR on slot " + slot);
                    equal(-1, SerialPortLocal.SerSetRTS(slot, false), "RTS on slot " + slot);
                    equal(-1, SerialPortLocal.SerSendBreak(slot, 250), "break on slot " + slot);
                    for (StatusRead read : READS) equal(0, read.read(slot), "status on slot " + slot);
                }
                equal("", KernelFake.takeLog(), "nothing reached the adopted device");
            });
            equal(0, SerialPortLocal.SerClosePort(0), "close");
        }
        Check.finish();
    }
}
