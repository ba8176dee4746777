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
    static final int IGNBRK = 0x1, IGNPAR = 0x4, CSIZE = 0x30, CS8 = 0x30, CSTOPB = 0x40,
            CREAD = 0x80, PARENB = 0x100, CLOCAL = 0x800, CRTSCTS = 0x80000000, B9600 = 13;
    static final int EISDIR = 21;

    /** A SerialConfig that remembers every port number the library reported. */
    static class Recording extends SerialConfig {
        final List<Integer> reported = new ArrayList<>();

        @Override
        public void setPortNum(int port) {
            reported.add(port);
            super.setPortNum(port);
        }

        static Recording named(String path) {
            Recording config = new Recording();
            config.setPortNameBytes(path.getBytes());
            return config;
        }
    }

    /** A symbolic link to `target` whose own path is exactly `length` bytes long. */
    static Path linkOfLength(Path dir, int length, String target) throws Exception {
        String prefix = dir + "/";
        Path link = Path.of(prefix + "x".repeat(length - prefix.length()));
        Files.deleteIfExists(link);
        return Files.createSymbolicLink(link, Path.of(target));
    }

    public static void main(String[] args) throws Exception {
        group("the version comes first and needs no open port", () ->
                equal(262151, SerialPortLocal.SerGetLibVer(), "SerGetLibVer"));

        Path dir = Files.createTempDirectory("pellusk");
        try (Pty a = new Pty(); Pty b = new Pty()) {
            group("open by name takes the lowest free slot and reports it", () -> {
                Recording first = Recording.named(a.slavePath);
                Recording second = Recording.named(b.slavePath);
                equal(0, SerialPortLocal.SerOpenPort(first), "first open");
                equal(0, SerialPortLocal.SerOpenPort(second), "second open");
                equal(List.of(1), first.reported, "port of the first open");
                equal(List.of(2), second.reported, "port of the second open");
                equal(0, SerialPortLocal.SerClosePort(0), "close slot 0");
                Recording again = Recording.named(b.slavePath);
                equal(0, SerialPortLocal.SerOpenPort(again), "reopen");
                equal(List.of(1), again.reported, "a freed slot is taken again");
                equal(0, SerialPortLocal.SerClosePort(0), "close slot 0");
                equal(0, SerialPortLocal.SerClosePort(1), "close slot 1");
            });

            group("the port starts raw at 9600 bit/s, 8N1, whatever the device had", () -> {
                try (Pty fresh = new Pty()) {
                    int[] before = Pty.termios(fresh.slavePath);
                    isTrue(before[Pty.LFLAG] != 0, "a fresh pty starts cooked");
                    equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(fresh.slavePath)), "open");
                    int[] t = Pty.termios(fresh.slavePath);
                    equal(IGNBRK | IGNPAR, t[Pty.IFLAG], "c_iflag");
                    equal(0, t[Pty.OFLAG], "c_oflag");
                    equal(0, t[Pty.LFLAG], "c_lflag");
                    equal(CS8 | CREAD | CLOCAL,
                            t[Pty.CFLAG] & (CSIZE | CSTOPB | CREAD | PARENB | CLOCAL | CRTSCTS), "c_cflag");
                    equal(B9600, t[Pty.ISPEED], "input speed");
                    equal(B9600, t[Pty.OSPEED], "output speed");
                    equal(1, t[Pty.VMIN], "VMIN");
                    equal(0, t[Pty.VTIME], "VTIME");
                    equal(0, SerialPortLocal.SerClosePort(0), "close");
                }
            });

            group("open by number appends the slot to the base name", () -> {
                Files.createSymbolicLink(dir.resolve("ttyT0"), Path.of(a.slavePath));
                Files.createSymbolicLink(dir.resolve("ttyT127"), Path.of(b.slavePath));
                String base = dir + "/ttyT";
                Recording first = new Recording();
                first.setBaseNameBytes(base.getBytes());
                first.setPortNameBytes(new byte[] {'x'});  // one byte counts as no name
                equal(0, SerialPortLocal.SerOpenPort(first), "port 1 opens ttyT0");
                equal(1000, SerialPortLocal.SerOpenPort(first), "the same port again");
                Recording last = new Recording();
                last.setBaseNameBytes(base.getBytes());
                last.setPortNum(128);
                last.reported.clear();
                equal(0, SerialPortLocal.SerOpenPort(last), "port 128 opens ttyT127");
                equal(List.of(), first.reported, "no port number reported for port 1");
                equal(List.of(), last.reported, "no port number reported for port 128");
                equal(1003, SerialPortLocal.SerOpenPort(SerialConfig.byNumber(base, 0)), "port 0");
                equal(1003, SerialPortLocal.SerOpenPort(SerialConfig.byNumber(base, 129)), "port 129");
                equal(1003, SerialPortLocal.SerOpenPort(SerialConfig.byNumber(base, -1)), "port -1");
                equal(1008, SerialPortLocal.SerOpenPort(SerialConfig.byNumber(base, 5)), "no ttyT4");
                equal(0, SerialPortLocal.SerClosePort(0), "close port 1");
                equal(0, SerialPortLocal.SerClosePort(127), "close port 128");
            });

            group("a failed open leaves the slot free and reports nothing", () -> {
                Recording missing = Recording.named(dir + "/no-such-device");
                equal(1008, SerialPortLocal.SerOpenPort(missing), "missing device");
                equal(EISDIR, SerialPortLocal.SerOpenPort(SerialConfig.byName(dir.toString())),
                        "an errno without a code of its own is returned as it is");
                equal(List.of(), missing.reported, "nothing reported after a failure");
                Recording next = Recording.named(a.slavePath);
                equal(0, SerialPortLocal.SerOpenPort(next), "next open");
                equal(List.of(1), next.reported, "the slot left free is taken");
                equal(0, SerialPortLocal.SerClosePort(0), "close");
            });

            group("device names of 63 bytes open, longer ones are refused untouched", () -> {
                Path fits = linkOfLength(dir, 63, a.slavePath);
                equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(fits.toString())), "63 bytes");
                equal(0, SerialPortLocal.SerClosePort(0), "close");
                Path tooLong = linkOfLength(dir, 64, a.slavePath);
                int files = openedDevices();
                raisesIOException("Port device name not valid",
                        () -> SerialPortLocal.SerOpenPort(SerialConfig.byName(tooLong.toString())));
                SerialConfig nullName = new SerialConfig();
                nullName.setPortNameBytes(null);
                raisesIOException("Port device name not valid", () -> SerialPortLocal.SerOpenPort(nullName));
                // 61 bytes of base name and "127" do not fit the 64-byte path; "0" does.
                String base61 = dir + "/" + "b".repeat(61 - dir.toString().length() - 1);
                raisesIOException("Port device name not valid",
                        () -> SerialPortLocal.SerOpenPort(SerialConfig.byNumber(base61, 128)));
                equal(1008, SerialPortLocal.SerOpenPort(SerialConfig.byNumber(base61, 1)), "short suffix fits");
                SerialConfig nullBase = SerialConfig.byNumber(dir + "/ttyT", 1);
                nullBase.setBaseNameBytes(null);
                raisesIOException("Port device name not valid", () -> SerialPortLocal.SerOpenPort(nullBase));
                equal(files, openedDevices(), "nothing was opened");
                equal(-1, SerialPortLocal.SerClosePort(0), "slot 0 is still free");
            });

            // Slots outside the table go straight to the C++ close, whose tests cover them.
            group("closing twice reports -1 and harms nothing", () -> {
                equal(0, SerialPortLocal.SerOpenPort(SerialConfig.byName(a.slavePath)), "open");
                equal(0, SerialPortLocal.SerClosePort(0), "first close");
                equal(-1, SerialPortLocal.SerClosePort(0), "second close");
            });

            group("an exception from a SerialConfig getter reaches the caller", () -> {
                SerialConfig throwing = new SerialConfig() {
                    @Override
                    public byte[] getPortName() {
                        throw new IllegalStateException("no name today");
                    }
                };
                Throwable t = Check.raises(IllegalStateException.class,
                        () -> SerialPortLocal.SerOpenPort(throwing));
                equal("no name today", t.getMessage(), "message");
            });
        }

        String classPath = System.getProperty("java.class.path");
        group("the banner is printed once per process, the first failing open included", () -> {
            Jvm.Result result = Jvm.run(classPath, "BannerProbe");
            equal(0, result.exitCode(), "probe exit status; output:\n" + result.stdout());
            String[] lines = result.stdout().split("\n");
            int banners = 0;
            for (String line : lines) if (line.contains("kdxLuxArm 4.7")) banners++;
            equal(1, banners, "banner lines in:\n" + result.stdout());
            equal("Quorvia kdxLuxArm 4.7", lines[0], "the banner's first line comes first");
        });

        String broken = System.getProperty("pellusk.brokenClasses");
        group("a SerialConfig without its methods raises the lookup error, not a crash", () -> {
            Jvm.Result result = Jvm.run(broken + ":" + classPath, "ContractProbe");
            equal(0, result.exitCode(), "probe exit status; output:\n" + result.stdout());
            isTrue(result.stdout().contains("NoSuchMethodError"), "the error reached Java:\n" + result.stdout());
        });
        Check.finish();
    }
}
