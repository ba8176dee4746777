package uart;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import testkit.Pty;

/** The guest's two UARTs and what the tests need to watch them. */
final class Uart {
    private Uart() {}

    /** ttyS1 and ttyS2 are joined through the host: what one sends, the other receives. */
    static final String S1 = "/dev/ttyS1", S2 = "/dev/ttyS2";

    // termios and modem-line values as Linux defines them on i386.
    static final int IGNBRK = 0x1, IGNPAR = 0x4, INPCK = 0x10, IXON = 0x400, IXOFF = 0x1000;
    static final int CS5 = 0x0, CS6 = 0x10, CS7 = 0x20, CS8 = 0x30, CSTOPB = 0x40, CREAD = 0x80,
            PARENB = 0x100, PARODD = 0x200, CLOCAL = 0x800, CMSPAR = 0x40000000,
            CRTSCTS = 0x80000000;
    static final int B9600 = 0xd, B57600 = 0x1001, B115200 = 0x1002;
    static final int TIOCM_DTR = 0x2, TIOCM_RTS = 0x4, TIOCM_OUT1 = 0x2000, TIOCM_OUT2 = 0x4000,
            TIOCM_LOOP = 0x8000;

    /** Opens the device by name into the lowest free slot; returns the slot. */
    static int open(String path) {
        SerialConfig config = SerialConfig.byName(path);
        int opened = SerialPortLocal.SerOpenPort(config);
        if (opened != 0) throw new AssertionError("open " + path + ": " + opened);
        return config.getPort() - 1;
    }

    /** Switches the UART of a descriptor from Pty.openDevice into or out of loopback. */
    static void loopback(int fd, boolean on) {
        int word = on ? Pty.modemLines(fd, TIOCM_LOOP, 0) : Pty.modemLines(fd, 0, TIOCM_LOOP);
        if (word < 0 || ((word & TIOCM_LOOP) != 0) != on) {
            throw new AssertionError("loopback not switched: " + word);
        }
    }

    static long millisSince(long startNanos) {
        return (System.nanoTime() - startNanos) / 1_000_000;
    }
}
