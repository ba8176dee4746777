package uart;

import static testkit.Check.equal;
import static testkit.Check.group;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import testkit.Check;
import testkit.Pty;

/**
 * The line setting as a real 8250 driver on a 16550A holds it. Unlike a pseudo-terminal, the
 * driver keeps parity and character size as set, so every field can be read back in full.
 */
public class LineSettingTest {
    static final String PORT = "/dev/ttyS1";

    // termios values as Linux defines them on i386.
    static final int IGNBRK = 0x1, IGNPAR = 0x4, CS8 = 0x30, CREAD = 0x80, CLOCAL = 0x800,
            B9600 = 0xd;

    static int[] line() {
        return Pty.termios(PORT);
    }

    public static void main(String[] args) {
        group("open leaves the line raw at 9600 bit/s, 8N1, whatever the device had", () -> {
            int[] before = line();
            Check.isTrue(before[Pty.LFLAG] != 0, "the device starts cooked");
            equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(PORT)), "open");
            int[] t = line();
            equal(IGNBRK | IGNPAR, t[Pty.IFLAG], "c_iflag");
            equal(0, t[Pty.OFLAG], "c_oflag");
            equal(CS8 | CREAD | CLOCAL | B9600, t[Pty.CFLAG], "c_cflag, every bit");
            equal(0, t[Pty.LFLAG], "c_lflag");
            equal(B9600, t[Pty.ISPEED], "input speed");
            equal(B9600, t[Pty.OSPEED], "output speed");
            equal(1, t[Pty.VMIN], "VMIN");
            equal(0, t[Pty.VTIME], "VTIME");
            equal(0, SerialPortLocal.SerClosePort(0), "close");
        });
        Check.finish();
    }
}
