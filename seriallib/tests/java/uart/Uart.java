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

    /** Opens the device into the lowest free slot at 115200 bit/s, 8N1; returns the slot. */
    static int open(String path) throws java.io.IOException {
        SerialConfig config = SerialConfig.byName(path);
        int opened = SerialPortLocal.SerOpenPort(config);
        if (opened != 0) throw new AssertionError("open " + path + ": " + opened);
        int configured = SerialPortLocal.SerConfigure(config.line(11, 3, 0, 0, 0));
        if (configured != 0) throw new AssertionError("configure " + path + ": " + configured);
        return config.getPort() - 1;
    }

    /** Switches the UART of a descriptor from Pty.openDevice into or out of loopback. */
    static void loopback(int fd, boolean on) {
        int word = on ? Pty.modemLines(fd, TIOCM_LOOP, 0) : Pty.modemLines(fd, 0, TIOCM_LOOP);
        if (word < 0 || ((word & TIOCM_LOOP) != 0) != on) {
            throw new AssertionError("loopback not switched: " + word);
        }
    }

    /**
     * Waits until the slot holds exactly `count` received bytes. The driver gives no event for
     * a count, so it is looked at again until it matches or the deadline passes; a count past
     * the one expected fails at once.
     */
    static void awaitReadyCount(int slot, int count) {
        long deadline = System.nanoTime() + 10_000_000_000L;
        int ready;
        while ((ready = SerialPortLocal.SerRxReadyCount(slot)) != count) {
            if (ready > count) throw new AssertionError(ready + " bytes ready, expected " + count);
            if (System.nanoTime() > deadline) {
                throw new AssertionError("only " + ready + " of " + count + " bytes arrived");
            }
            Thread.yield();
        }
    }

    /** Receives exactly `count` bytes, each read waiting up to two seconds for more. */
    static byte[] receive(int slot, int count) {
        byte[] all = new byte[count];
        byte[] block = new byte[4096];
        SerialPortLocal.SerSetTimeoutRx(slot, 2000);
        int got = 0;
        while (got < count) {
            int n = SerialPortLocal.SerGetData(slot, block, Math.min(block.length, count - got));
            if (n <= 0) throw new AssertionError("received " + got + " of " + count + " bytes");
            System.arraycopy(block, 0, all, got, n);
            got += n;
        }
        return all;
    }

    /** Sends all bytes, resending what a non-blocking write left over. */
    static void send(int slot, byte[] data) {
        byte[] rest = data;
        while (rest.length > 0) {
            int n = SerialPortLocal.SerPutData(slot, rest, rest.length);
            if (n > 0) {
                rest = java.util.Arrays.copyOfRange(rest, n, rest.length);
            } else {
                SerialPortLocal.SerTxDrain(slot);
            }
        }
    }
}
