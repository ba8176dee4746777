import static testkit.Check.*;
import Quorvia.*;
import java.util.*;
import testkit.*;

/** SerConfigure on a real pseudo-terminal, read back from the line (parity and size: unit tests). */
public class LineConfigTest {
    // termios values as Linux defines them on both i386 and x86_64.
    static final int IXON = 0x400, IXOFF = 0x1000, CRTSCTS = 0x80000000;
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

            group("each handshake code reaches the line, replacing the last, which stays raw", () -> {
                int[][] cases = {  // handshake; c_iflag, c_cflag bits
                    {0xF0, IXON | IXOFF, CRTSCTS}, {0, 0, 0}, {1, IXON | IXOFF, 0}, {0xC0, IXON | IXOFF, 0}, {2, 0, CRTSCTS},
                    {0x30, 0, CRTSCTS}, {0x10, 0, CRTSCTS}, {0x20, 0, CRTSCTS}, {0x40, IXOFF, 0}, {0x80, IXON, 0}, {3, 0, 0},
                };
                for (int[] c : cases) {
                    equal(0, SerialPortLocal.SerConfigure(config.line(7, 3, 0, 0, c[0])), "configure " + c[0]);
                    int[] t = Pty.termios(pty.slavePath);
                    String what = "handshake " + c[0];
                    equal(List.of(c[1], c[2]), List.of(t[Pty.IFLAG] & (IXON | IXOFF), t[Pty.CFLAG] & CRTSCTS), what);
                    equal(List.of(0, 0, 1, 0, 0x11, 0x13), List.of(t[Pty.OFLAG], t[Pty.LFLAG], t[Pty.VMIN], t[Pty.VTIME],
                            t[Pty.VSTART], t[Pty.VSTOP]), what + ": raw, XON and XOFF");
                }
            });

            group("a refused setting leaves the line alone", () -> {  // the codes are checked by BadInputTest
                equal(0, SerialPortLocal.SerConfigure(config.line(12, 3, 0, 0, 0)), "230400");
                equal(5003, SerialPortLocal.SerConfigure(config.line(7, 4, 0, 0, 0)), "data bits index 4");
                equal(0x1003, Pty.termios(pty.slavePath)[Pty.OSPEED], "still 230400 bit/s");
            });
            equal(0, SerialPortLocal.SerClosePort(0), "close");
        }
        Check.finish();
    }
}
