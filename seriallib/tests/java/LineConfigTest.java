import static testkit.Check.equal;
import static testkit.Check.group;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.util.ArrayList;
import java.util.List;
import testkit.Check;
import testkit.Pty;

/**
 * SerConfigure on real pseudo-terminals, read back from the line. A pty clears PARENB and forces
 * CS8, so each parity code, character size and the rest of the record are checked on the built
 * record by the C++ tests instead; here one setting of each field shows it is handed on.
 */
public class LineConfigTest {
    // termios values as Linux defines them on both i386 and x86_64.
    static final int IGNPAR = 0x4, INPCK = 0x10, IXON = 0x400, IXOFF = 0x1000, CSTOPB = 0x40,
            PARODD = 0x200, CMSPAR = 0x40000000, CRTSCTS = 0x80000000;
    static final int[] SPEEDS = {3, 5, 7, 8, 9, 11, 12, 13, 14, 15, 0x1001, 0x1002, 0x1003};

    /** A SerialConfig that records which getters the library calls, in order. */
    static class Recording extends SerialConfig {
        final List<String> calls = new ArrayList<>();

        @Override public int getPort() { calls.add("getPort"); return super.getPort(); }
        @Override public int getBitRate() { calls.add("getBitRate"); return super.getBitRate(); }
        @Override public int getParity() { calls.add("getParity"); return super.getParity(); }
        @Override public int getDataBits() { calls.add("getDataBits"); return super.getDataBits(); }
        @Override public int getStopBits() { calls.add("getStopBits"); return super.getStopBits(); }
        @Override public int getHandshake() { calls.add("getHandshake"); return super.getHandshake(); }
    }

    static SerialConfig port1(int bitRate, int dataBits, int stopBits, int parity, int handshake) {
        SerialConfig config = new SerialConfig().line(bitRate, dataBits, stopBits, parity, handshake);
        config.setPortNum(1);
        return config;
    }

    public static void main(String[] args) throws Exception {
        try (Pty pty = new Pty()) {
            equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(pty.slavePath)), "open into slot 0");

            group("every bit rate of the table reaches the line, both ways", () -> {
                for (int index = 0; index < SPEEDS.length; index++) {
                    equal(0, SerialPortLocal.SerConfigure(port1(index, 3, 0, 0, 0)), "configure " + index);
                    int[] t = Pty.termios(pty.slavePath);
                    equal(SPEEDS[index], t[Pty.ISPEED], "input speed of index " + index);
                    equal(SPEEDS[index], t[Pty.OSPEED], "output speed of index " + index);
                }
            });

            group("handshake codes and masks", () -> {
                int[][] cases = {  // code, c_iflag bits, c_cflag bits
                    {1, IXON | IXOFF, 0}, {0xC0, IXON | IXOFF, 0}, {2, 0, CRTSCTS}, {0x30, 0, CRTSCTS},
                    {0x10, 0, CRTSCTS}, {0x20, 0, CRTSCTS}, {0x40, IXOFF, 0}, {3, 0, 0}, {0, 0, 0},
                };
                for (int[] c : cases) {
                    equal(0, SerialPortLocal.SerConfigure(port1(7, 3, 0, 0, c[0])), "configure handshake " + c[0]);
                    int[] t = Pty.termios(pty.slavePath);
                    equal(c[1], t[Pty.IFLAG] & (IXON | IXOFF), "c_iflag of handshake " + c[0]);
                    equal(c[2], t[Pty.CFLAG] & CRTSCTS, "c_cflag of handshake " + c[0]);
                }
            });

            group("a second configure replaces every setting of the first", () -> {
                // Every field of the first reaches the line, so each getter's value is handed on.
                equal(0, SerialPortLocal.SerConfigure(port1(12, 3, 1, 3, 0xF0)), "first");
                int[] first = Pty.termios(pty.slavePath);
                equal(0x1003, first[Pty.OSPEED], "230400 bit/s");
                equal(CSTOPB | CRTSCTS | PARODD | CMSPAR, first[Pty.CFLAG] & (CSTOPB | CRTSCTS | PARODD | CMSPAR),
                        "stop, flow and mark parity bits");
                equal(IXON | IXOFF, first[Pty.IFLAG] & (IXON | IXOFF | INPCK | IGNPAR), "flow control, no input check");
                equal(0, SerialPortLocal.SerConfigure(port1(10, 3, 0, 0, 0)), "second");
                int[] t = Pty.termios(pty.slavePath);
                equal(0x1001, t[Pty.OSPEED], "57600 bit/s");
                equal(0, t[Pty.CFLAG] & (CSTOPB | CRTSCTS | PARODD | CMSPAR), "no stop, flow or parity bits left");
                equal(0, t[Pty.IFLAG] & (IXON | IXOFF | INPCK), "no flow control or input check left");
            });

            group("the getters are called once each, in order", () -> {
                Recording config = new Recording();
                config.setPortNum(1);
                equal(0, SerialPortLocal.SerConfigure(config), "configure");
                equal(List.of("getPort", "getBitRate", "getParity", "getDataBits", "getStopBits", "getHandshake"),
                        config.calls, "calls");
            });

            group("indexes outside the tables are refused and leave the line alone", () -> {
                equal(0, SerialPortLocal.SerConfigure(port1(12, 3, 0, 0, 0)), "configure 230400");
                equal(5001, SerialPortLocal.SerConfigure(port1(13, 3, 0, 0, 0)), "bit rate 13");
                equal(5001, SerialPortLocal.SerConfigure(port1(-1, 3, 0, 0, 0)), "bit rate -1");
                equal(5003, SerialPortLocal.SerConfigure(port1(7, 4, 0, 0, 0)), "data bits 4");
                equal(5003, SerialPortLocal.SerConfigure(port1(7, 3, 2, 0, 0)), "stop bits 2");
                equal(0x1003, Pty.termios(pty.slavePath)[Pty.OSPEED], "still 230400 bit/s");
            });

            group("an exception from a getter reaches the caller and nothing is applied", () -> {
                SerialConfig throwing = new SerialConfig() {
                    @Override
                    public int getStopBits() {
                        throw new IllegalStateException("no stop bits");
                    }
                };
                throwing.setPortNum(1);
                throwing.line(7, 3, 0, 0, 0);
                Throwable t = Check.raises(IllegalStateException.class,
                        () -> SerialPortLocal.SerConfigure(throwing));
                equal("no stop bits", t.getMessage(), "message");
                equal(0x1003, Pty.termios(pty.slavePath)[Pty.OSPEED], "still 230400 bit/s");
            });

            group("closed ports and port numbers outside the table give 5003", () -> {
                for (int port : new int[] {2, 128, 0, 129, -1, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
                    SerialConfig config = new SerialConfig();
                    config.setPortNum(port);
                    equal(5003, SerialPortLocal.SerConfigure(config), "port " + port);
                }
                equal(0, SerialPortLocal.SerClosePort(0), "close");
                equal(5003, SerialPortLocal.SerConfigure(port1(7, 3, 0, 0, 0)), "port 1 after close");
            });
        }
        Check.finish();
    }
}
