import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;
import static testkit.Check.openedDevices;
import static testkit.Check.raisesIOException;

import Quorvia.SerialConfig;
import Quorvia.SerialPortLocal;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import testkit.Check;
import testkit.Jvm;
import testkit.Pty;

/** Opening and closing ports, in a real JVM on real pseudo-terminals. */
public class OpenCloseTest {
    // termios values as Linux defines them on both i386 and x86_64.
    static final int IGNBRK = 0x1, IGNPAR = 0x4, CS8 = 0x30, CREAD = 0x80, CLOCAL = 0x800, B9600 = 13;
    static final int EISDIR = 21;

    /** A SerialConfig that remembers every port number the library reported. */
    static class Recording extends SerialConfig {
        final List<Integer> reported = new ArrayList<>();

        Recording(String path, String base, int port) {
            setPortNameBytes(path.getBytes());
            if (base != null) setBaseNameBytes(base.getBytes());
            super.setPortNum(port);
        }

        @Override
        public void setPortNum(int port) {
            reported.add(port);
            super.setPortNum(port);
        }
    }

    static int open(Recording config) throws java.io.IOException {
        return SerialPortLocal.SerOpenPort(config);
    }

    /** A symbolic link to `target` whose own path is exactly `length` bytes long. */
    static String linkOfLength(Path dir, int length, String target) throws Exception {
        Path link = Path.of(dir + "/" + "x".repeat(length - dir.toString().length() - 1));
        Files.deleteIfExists(link);
        return Files.createSymbolicLink(link, Path.of(target)).toString();
    }

    public static void main(String[] args) throws Exception {
        if (args.length > 0) {  // the fresh process of the banner group: a failing open, then two good ones
            equal(1003, SerialPortLocal.SerOpenPort(SerialConfig.byNumber("/dev/null", 0)), "port 0");
            for (int slot = 0; slot < 2; slot++) equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(args[0])), "open");
            System.exit(0);
        }
        group("the version needs no open port", () -> equal(262151, SerialPortLocal.SerGetLibVer(), "SerGetLibVer"));

        Path dir = Files.createTempDirectory("pellusk");
        try (Pty a = new Pty(); Pty b = new Pty()) {
            group("open by name takes the lowest free slot, reports it, and leaves the line raw at 9600 8N1", () -> {
                isTrue(Pty.termios(a.slavePath)[Pty.LFLAG] != 0, "a fresh pty starts cooked");
                Recording first = new Recording(a.slavePath, null, 1), second = new Recording(b.slavePath, null, 1);
                equal(0, open(first), "first open");
                equal(0, open(second), "second open");
                equal(List.of(1, 2), List.of(first.reported.get(0), second.reported.get(0)), "ports reported");
                int[] t = Pty.termios(a.slavePath);
                equal(List.of(IGNBRK | IGNPAR, 0, CS8 | CREAD | CLOCAL | B9600, 0, B9600, B9600, 1, 0),
                        List.of(t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7]), "the record after open");
                equal(0, SerialPortLocal.SerClosePort(0), "close slot 0");
                Recording again = new Recording(b.slavePath, null, 1);
                equal(0, open(again), "reopen");
                equal(List.of(1), again.reported, "a freed slot is taken again");
                equal(0, SerialPortLocal.SerClosePort(0), "close slot 0");
                equal(0, SerialPortLocal.SerClosePort(1), "close slot 1");
            });

            group("open by number appends the slot to the base name and reports nothing", () -> {
                Files.createSymbolicLink(dir.resolve("ttyT0"), Path.of(a.slavePath));
                Files.createSymbolicLink(dir.resolve("ttyT127"), Path.of(b.slavePath));
                Recording first = new Recording("x", dir + "/ttyT", 1);  // one byte counts as no name
                Recording last = new Recording("", dir + "/ttyT", 128);
                equal(0, open(first), "port 1 opens ttyT0");
                equal(1000, open(first), "the same port again");
                equal(0, open(last), "port 128 opens ttyT127");
                equal(1008, open(new Recording("", dir + "/ttyT", 5)), "no ttyT4");
                equal(List.of(), first.reported, "port 1 reported");
                equal(List.of(), last.reported, "port 128 reported");
                equal(0, SerialPortLocal.SerClosePort(0), "close port 1");
                equal(0, SerialPortLocal.SerClosePort(127), "close port 128");
            });

            group("a failed open leaves the slot free, reports nothing and returns an unmapped errno as it is", () -> {
                Recording missing = new Recording(dir + "/no-such-device", null, 1);
                equal(1008, open(missing), "missing device");
                equal(EISDIR, SerialPortLocal.SerOpenPort(SerialConfig.byName(dir.toString())), "a folder");
                equal(List.of(), missing.reported, "reported");
                equal(-1, SerialPortLocal.SerClosePort(0), "slot 0 is free");
            });

            group("device paths of 63 bytes open; longer ones and null names are refused, opening nothing", () -> {
                equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(linkOfLength(dir, 63, a.slavePath))), "63 bytes");
                equal(0, SerialPortLocal.SerClosePort(0), "close");
                int files = openedDevices();
                String tooLong = linkOfLength(dir, 64, a.slavePath);
                raisesIOException("Port device name not valid", () -> SerialPortLocal.SerOpenPort(SerialConfig.byName(tooLong)));
                SerialConfig nullName = new SerialConfig();
                nullName.setPortNameBytes(null);
                raisesIOException("Port device name not valid", () -> SerialPortLocal.SerOpenPort(nullName));
                // 61 bytes of base name and "127" do not fit the 64-byte path; "0" does.
                String base61 = dir + "/" + "b".repeat(61 - dir.toString().length() - 1);
                raisesIOException("Port device name not valid",
                        () -> SerialPortLocal.SerOpenPort(SerialConfig.byNumber(base61, 128)));
                equal(1008, SerialPortLocal.SerOpenPort(SerialConfig.byNumber(base61, 1)), "short suffix fits");
                raisesIOException("Port device name not valid",
                        () -> SerialPortLocal.SerOpenPort(SerialConfig.byNumber(null, 1)));
                equal(files, openedDevices(), "nothing was opened");
            });

            group("the banner is printed once per process, before anything else, the first failing open included", () -> {
                Jvm.Result result = Jvm.run(System.getProperty("java.class.path"), "OpenCloseTest", a.slavePath);
                equal(0, result.exitCode(), "exit status; output:\n" + result.stdout());
                equal("Quorvia kdxLuxArm 4.7", result.stdout().split("\n")[0], "first line");
                equal(1, result.stdout().split("kdxLuxArm", -1).length - 1, "banners in:\n" + result.stdout());
            });
        }
        Check.finish();
    }
}
