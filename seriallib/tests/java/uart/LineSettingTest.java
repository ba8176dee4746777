package uart;

import static testkit.Check.equal;
import static testkit.Check.group;
import static uart.Uart.*;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import testkit.Check;
import testkit.Pty;

/**
 * The line setting as a real 8250 driver on a 16550A holds it. Unlike a pseudo-terminal, the
 * driver keeps parity and character size as set and refuses speeds the UART cannot make, so
 * every field is read back in full.
 */
public class LineSettingTest {
    // B110, B150, B300, B600, B1200, B2400, B4800, B9600, B19200, B38400, B57600, B115200
    static final int[] SPEEDS = {3, 5, 7, 8, 9, 0xb, 0xc, B9600, 0xe, 0xf, B57600, B115200};

    static SerialConfig config;

    static int configure(int bitRate, int dataBits, int stopBits, int parity, int handshake) {
        return SerialPortLocal.SerConfigure(config.line(bitRate, dataBits, stopBits, parity, handshake));
    }

    /** The whole record on the line, but for the flow-control characters. */
    static void expectRecord(int iflag, int cflag, int speed, String what) {
        int[] t = Pty.termios(S1);
        equal(iflag, t[Pty.IFLAG], what + ": c_iflag");
        equal(CREAD | CLOCAL | cflag | speed, t[Pty.CFLAG], what + ": c_cflag, every bit");
        equal(0, t[Pty.OFLAG], what + ": c_oflag");
        equal(0, t[Pty.LFLAG], what + ": c_lflag");
        equal(speed, t[Pty.ISPEED], what + ": input speed");
        equal(speed, t[Pty.OSPEED], what + ": output speed");
        equal(1, t[Pty.VMIN], what + ": VMIN");
        equal(0, t[Pty.VTIME], what + ": VTIME");
    }

    /** The whole record that a SerConfigure call leaves on the line. */
    static void expectConfigured(int iflag, int cflag, int speed, String what) {
        expectRecord(iflag, cflag, speed, what);
        int[] t = Pty.termios(S1);
        equal(0x11, t[Pty.VSTART], what + ": VSTART");
        equal(0x13, t[Pty.VSTOP], what + ": VSTOP");
    }

    public static void main(String[] args) throws java.io.IOException {
        group("open leaves the line raw at 9600 bit/s, 8N1, whatever the device had", () -> {
            SerialConfig first = SerialConfig.byName(S1);
            equal(0, SerialPortLocal.SerOpenPort(first), "first open");
            equal(0, SerialPortLocal.SerConfigure(first.line(11, 0, 1, 1, 2)), "a setting no pty could hold");
            equal(IGNBRK | INPCK, Pty.termios(S1)[Pty.IFLAG], "the odd setting is on the line");
            equal(0, SerialPortLocal.SerClosePort(0), "close");

            equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(S1)), "open");
            expectRecord(IGNBRK | IGNPAR, CS8, B9600, "after open");
            equal(0, SerialPortLocal.SerClosePort(0), "close");
        });

        config = SerialConfig.byName(S1);
        equal(0, SerialPortLocal.SerOpenPort(config), "open for the configuration groups");

        group("every bit rate of the table up to 115200 reaches the UART", () -> {
            for (int index = 0; index < SPEEDS.length; index++) {
                equal(0, configure(index, 3, 0, 0, 0), "configure bit rate " + index);
                expectConfigured(IGNBRK | IGNPAR, CS8, SPEEDS[index], "bit rate " + index);
            }
        });

        group("5 to 8 data bits and 1 or 2 stop bits stay as set", () -> {
            int[] sizes = {CS5, CS6, CS7, CS8};
            for (int dataBits = 0; dataBits < 4; dataBits++) {
                for (int stopBits = 0; stopBits < 2; stopBits++) {
                    String what = "data bits " + dataBits + ", stop bits " + stopBits;
                    equal(0, configure(7, dataBits, stopBits, 0, 0), what);
                    expectConfigured(IGNBRK | IGNPAR, sizes[dataBits] | (stopBits == 1 ? CSTOPB : 0),
                            B9600, what);
                }
            }
        });

        group("odd, even, mark and space parity stay as set, with input checks as coded", () -> {
            int[][] cases = {  // parity code, c_iflag, parity flags of c_cflag
                {0, IGNBRK | IGNPAR, 0},
                {1, IGNBRK | INPCK, PARENB | PARODD},
                {2, IGNBRK | INPCK, PARENB},
                {3, IGNBRK, PARENB | CMSPAR | PARODD},
                {4, IGNBRK, PARENB | CMSPAR},
                {5, IGNBRK | IGNPAR, 0},
            };
            for (int[] c : cases) {
                equal(0, configure(7, 2, 0, c[0], 0), "configure parity " + c[0]);
                expectConfigured(c[1], CS7 | c[2], B9600, "parity " + c[0]);
            }
        });

        group("handshake codes set CRTSCTS, IXON and IXOFF; the next setting replaces them", () -> {
            int[][] cases = {  // handshake, c_iflag flow bits, c_cflag flow bits
                {0, 0, 0}, {1, IXON | IXOFF, 0}, {0xC0, IXON | IXOFF, 0}, {2, 0, CRTSCTS},
                {0x30, 0, CRTSCTS}, {0x10, 0, CRTSCTS}, {0x20, 0, CRTSCTS}, {0x40, IXOFF, 0},
                {0x80, IXON, 0}, {3, 0, 0}, {0xF0, IXON | IXOFF, CRTSCTS}, {0, 0, 0},
            };
            for (int[] c : cases) {
                equal(0, configure(7, 3, 0, 0, c[0]), "configure handshake " + c[0]);
                expectConfigured(IGNBRK | IGNPAR | c[1], CS8 | c[2], B9600, "handshake " + c[0]);
            }
        });

        group("230400 bit/s, beyond the UART's 115200 base, is refused and the line keeps its speed", () -> {
            equal(0, configure(10, 3, 0, 0, 0), "57600 first");
            equal(5003, configure(12, 3, 0, 0, 0), "230400");
            int[] t = Pty.termios(S1);
            equal(B57600, t[Pty.ISPEED], "input speed");
            equal(B57600, t[Pty.OSPEED], "output speed");
            equal(0, configure(11, 3, 0, 0, 0), "115200 afterwards");
            expectConfigured(IGNBRK | IGNPAR, CS8, B115200, "115200 afterwards");
        });

        equal(0, SerialPortLocal.SerClosePort(0), "close");
        Check.finish();
    }
}
