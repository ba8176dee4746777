import static testkit.Check.equal;
import static testkit.Check.group;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.util.List;
import testkit.Check;
import testkit.Pty;

/**
 * SerConfigure on a real pseudo-terminal, read back from the line. A pty clears PARENB and forces
 * CS8, so parity and character size are checked on a real UART driver (the uart tests) instead.
 */
public class LineConfigTest {
    // termios values as Linux defines them on both i386 and x86_64.
    static final int IGNPAR = 0x4, INPCK = 0x10, IXON = 0x400, IXOFF = 0x1000, CSTOPB = 0x40, PARODD = 0x200,
            CMSPAR = 0x40000000, CRTSCTS = 0x80000000;
    static final int[] SPEEDS = {3, 5, 7, 8, 9, 11, 12, 13, 14, 15, 0x1001, 0x1002, 0x1003};

    public static void main(String[] args) throws Exception {
        try (Pty pty = new Pty()) {
            SerialConfig config = SerialConfig.byName(pty.slavePath);
            equal(0, SerialPortLocal.SerOpenPort(config), "open");

            group("every bit rate of the table reaches the line, both ways", () -> {
                for (int index = 0; index < SPEEDS.length; index++) {
                    equal(0, SerialPortLocal.SerConfigure(config.line(index, 3, 0, 0, 0)), "configure " + index);
                    int[] t = Pty.termios(pty.slavePath);
                    equal(SPEEDS[index] * 0x10001L, t[Pty.ISPEED] * 0x10000L + t[Pty.OSPEED], "speeds of index " + index);
                }
            });

            group("handshake, stop bits and mark parity reach the line; each setting replaces the last", () -> {
                int[][] cases = {  // handshake, stop bits, parity; c_iflag, c_cflag bits
                    {0xF0, 1, 3, IXON | IXOFF, CRTSCTS | CSTOPB | PARODD | CMSPAR}, {0, 0, 0, IGNPAR, 0},
                    {1, 0, 1, IXON | IXOFF | INPCK, PARODD}, {0xC0, 0, 0, IXON | IXOFF | IGNPAR, 0},
                    {2, 0, 0, IGNPAR, CRTSCTS}, {0x30, 0, 0, IGNPAR, CRTSCTS}, {0x10, 0, 0, IGNPAR, CRTSCTS},
                    {0x20, 0, 0, IGNPAR, CRTSCTS}, {0x40, 0, 0, IXOFF | IGNPAR, 0}, {0x80, 0, 0, IXON | IGNPAR, 0},
                    {3, 0, 2, INPCK, 0}, {0, 0, 4, 0, CMSPAR},
                };
                for (int[] c : cases) {
                    equal(0, SerialPortLocal.SerConfigure(config.line(7, 3, c[1], c[2], c[0])), "configure " + c[0]);
                    int[] t = Pty.termios(pty.slavePath);
                    String what = "handshake " + c[0] + ", stop bits " + c[1] + ", parity " + c[2];
                    equal(c[3], t[Pty.IFLAG] & (IXON | IXOFF | INPCK | IGNPAR), what + ": c_iflag");
                    equal(c[4], t[Pty.CFLAG] & (CRTSCTS | CSTOPB | PARODD | CMSPAR), what + ": c_cflag");
                    equal(List.of(0, 0, 1, 0, 0x11, 0x13), List.of(t[Pty.OFLAG], t[Pty.LFLAG], t[Pty.VMIN], t[Pty.VTIME],
                            t[Pty.VSTART], t[Pty.VSTOP]), what + ": raw, XON and XOFF");
                }
            });

            group("indexes outside the tables are refused and leave the line alone", () -> {
                equal(0, SerialPortLocal.SerConfigure(config.line(12, 3, 0, 0, 0)), "230400");
                int[][] cases = {{13, 3, 0, 5001}, {-1, 3, 0, 5001}, {7, 4, 0, 5003}, {7, -1, 0, 5003}, {7, 3, 2, 5003}};
                for (int[] c : cases) {
                    equal(c[3], SerialPortLocal.SerConfigure(config.line(c[0], c[1], c[2], 0, 0)), "bit rate, data, stop " + c[0] + c[1] + c[2]);
                }
                equal(0x1003, Pty.termios(pty.slavePath)[Pty.OSPEED], "still 230400 bit/s");
            });
            equal(0, SerialPortLocal.SerClosePort(0), "close");
        }
        Check.finish();
    }
}
