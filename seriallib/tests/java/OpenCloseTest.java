import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.io.*;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import java.util.concurrent.atomic.*;
import java.util.stream.*;
import testkit.*;

/** Opening, configuring and closing ports on real pseudo-terminals (parity and size: unit tests). */
public class OpenCloseTest {
    static List<Object> open(String path, String base, int port) throws java.io.IOException {
        SerialConfig config = SerialConfig.byNumber(base, port);
        config.setPortNameBytes(path.getBytes());
        return List.of(SerOpenPort(config), config.reported);
    }

    /** A symbolic link to `target` whose own path is exactly `length` bytes long. */
    static String linkOfLength(Path dir, int length, String target) throws Exception {
        Path link = Path.of(dir + "/" + "x".repeat(length - dir.toString().length() - 1));
        Files.deleteIfExists(link);
        return Files.createSymbolicLink(link, Path.of(target)).toString();
    }

    public static void main(String[] args) throws Exception {
        if (args.length > 0) {  // the fresh process of the banner group: a failing open, then two good ones
            equal(1003, SerOpenPort(SerialConfig.byNumber("/dev/null", 0)), "port 0");
            for (int slot = 0; slot < 2; slot++) equal(0, SerOpenPort(SerialConfig.byName(args[0])), "open");
            System.exit(0);
        }
        Path dir = Files.createTempDirectory("pellusk");
        String base = dir + "/ttyT";
        try (Pty a = new Pty(); Pty b = new Pty()) {
            // Opens by name into the lowest free slot, and the slot each reports: the 127-slot group.
            SerialConfig config = SerialConfig.byName(a.slavePath);
            isTrue(Pty.termios(a.master)[Pty.LFLAG] != 0, "a fresh pty starts cooked");
            equal(0, SerOpenPort(config), "open for configuring");
            group("an open leaves the line raw at 9600 8N1; every bit rate and handshake code reaches the line, replacing the "
                    + "last, which stays raw; a refused setting changes nothing", () -> {
                equal(Arrays.toString(Arrays.copyOf(Pty.line(7, 3, 0, 0, 0), 8)), Arrays.toString(Arrays.copyOf(Pty.termios(a.master), 8)),
                        "the record after open, but for VSTART and VSTOP");
                int[] handshakes = {0xF0, 0, 1, 0xC0, 2, 0x30, 0x10, 0x20, 0x40, 0x80, 3, 0xF0, 0};
                for (int index = 0; index < handshakes.length; index++) {
                    equal(0, SerConfigure(config.line(index, 3, 0, 0, handshakes[index])), "configure " + index);
                    Pty.expectLine(a.master, Pty.line(index, 3, 0, 0, handshakes[index]), Pty.PTY_REWRITES, "rate index " + index);
                }
                equal(5003, SerConfigure(config.line(7, 4, 0, 0, 0)), "9600 bit/s, data bits index 4");
                equal(0x1003, Pty.termios(a.master)[Pty.OSPEED], "still 230400 bit/s");
            });

            equal(0, SerClosePort(0), "close the configured port");

            group("by number: the slot appended to the base name (of 0 bytes, too); a name of 2 bytes opens by name; failed opens keep no slot; none reports", () -> {
                Files.createSymbolicLink(Path.of(base + 0), Path.of(a.slavePath));
                Files.createSymbolicLink(Path.of(base + 127), Path.of(b.slavePath));
                equal(List.of(0, List.of()), open("x", base, 1), "port 1 opens ttyT0; one byte counts as no name");
                equal(List.of(1000, List.of()), open("", null, 1), "the same port again, refused before its base name is read");
                equal(List.of(0, List.of()), open("", base, 128), "port 128 opens ttyT127");
                for (int[] end : new int[][] {{1, a.master}, {128, b.master}}) {  // both ends of the table
                    equal(0, SerConfigure(SerialConfig.byNumber("", end[0]).line(11, 3, 0, 0, 2)), "configure port " + end[0]);
                    Pty.expectLine(end[1], Pty.line(11, 3, 0, 0, 2), Pty.PTY_REWRITES, "port " + end[0] + " by number");
                }
                equal(0, SerClosePort(0), "close port 1");
                for (Object[] row : new Object[][] {{"", base, 5}, {"ab", base, 1}, {"", "", 1}})  // the last: the path "0"
                    equal(List.of(1008, List.of()), open((String) row[0], (String) row[1], (int) row[2]), "no ttyT4, nor " + Arrays.toString(row));
                equal(List.of(21, List.of()), open(dir.toString(), "", 1), "a folder: errno (EISDIR) as it is");
                equal(-1, SerClosePort(0), "slot 0 is free");
                equal(0, SerClosePort(127), "close port 128");
            });

            group("device paths of 63 bytes open; longer ones and null names are refused, opening nothing", () -> {
                equal(0, SerOpenPort(SerialConfig.byName(linkOfLength(dir, 63, a.slavePath))), "63 bytes");
                equal(0, SerClosePort(0), "close");
                int files = openedDevices();
                // 61 bytes of base name and "127" do not fit the 64-byte path; "0" does.
                String base61 = dir + "/" + "b".repeat(61 - dir.toString().length() - 1);
                for (SerialConfig refused : new SerialConfig[] {SerialConfig.byName(linkOfLength(dir, 64, a.slavePath)),
                        SerialConfig.byName(null), SerialConfig.byNumber(base61, 128), SerialConfig.byNumber(null, 1)}) {
                    equal("Port device name not valid", raises(IOException.class, () -> SerOpenPort(refused)).getMessage(), "");
                }
                equal(1008, SerOpenPort(SerialConfig.byNumber(base61, 1)), "short suffix fits");
                equal(files, openedDevices(), "nothing was opened");
            });

            group("no call after a close holds the slot; a failing open holds no slot (closes under waits and continue signals: "
                    + "the thread-sanitizer tests)", () -> {
                AtomicBoolean stop = new AtomicBoolean();
                AtomicLong polls = new AtomicLong();
                List<Thread> pollers = IntStream.range(0, 64).mapToObj(i -> new Thread(() -> { while (!stop.get()) polls.addAndGet(SerSigCTS(0) + 1); })).toList();
                pollers.forEach(Thread::start);
                while (polls.get() < 200_000) Thread.onSpinWait();
                for (int round = 0; round < 500; round++) {
                    equal(List.of(0, List.of()), open("", base, 1), "64 threads polling the slot; round " + round);
                    equal(0, SerClosePort(0), "close");
                }
                stop.set(true);
                for (Thread t : pollers) t.join();


                for (int slot = 0; slot < 127; slot++) equal(List.of(0, List.of(slot + 1)), open(b.slavePath, "", 1), "fill slot " + slot);
                stop.set(false);
                var failing = Executors.newSingleThreadExecutor().submit(() -> {
                    Set<Integer> codes = new TreeSet<>();
                    while (!stop.get()) codes.add(SerOpenPort(SerialConfig.byName("/nonexistent/tty")));
                    return codes;
                });
                Set<Integer> results = new TreeSet<>();
                for (int round = 0; round < 300; round++) {
                    results.addAll(List.of(SerOpenPort(SerialConfig.byNumber(base, 128)), SerClosePort(127)));
                    results.addAll(List.of(SerOpenPort(SerialConfig.byName(a.slavePath)), SerClosePort(127)));
                }
                stop.set(true);
                equal(Set.of(0), results, "opens of the last slot beside a failing open");
                isTrue(Set.of(1005, 1008).containsAll(failing.get()), "the failing open's codes: " + failing.get());
                SerialConfig last = SerialConfig.byName(a.slavePath);
                equal(List.of(0, 1005), List.of(SerOpenPort(last), SerOpenPort(SerialConfig.byName(a.slavePath))), "the last slot, then none");
                equal(List.of(List.of(128), 0), List.of(last.reported, SerConfigure(last.line(10, 3, 0, 0, 1))), "port 128 by name, configured");
                Pty.expectLine(a.master, Pty.line(10, 3, 0, 0, 1), Pty.PTY_REWRITES, "port 128 by name");
                for (int slot = 0; slot < 128; slot++) equal(List.of(0, -1), List.of(SerClosePort(slot), SerClosePort(slot)), "close slot " + slot + " twice");
            });

            group("a child started by fork and exec while a port is open holds none of it, nor its wake; the close hangs the line "
                    + "up at once", () -> {
                int before = Pty.spawn(Pty.CHILD);
                long wakesBefore = Check.descriptors(before).stream().filter(d -> d.contains("eventfd")).count();
                Pty.endChild(before);
                equal(List.of(0, List.of(1)), open(a.slavePath, "", 1), "open");
                int child = Pty.spawn(Pty.CHILD);
                List<String> held = Check.descriptors(child);
                equal(0, SerClosePort(0), "close, the child still running");
                int hangUp = Pty.read(a.master, new byte[1], 0, 1, 2000);
                equal(0, Pty.endChild(child), "the child ended");
                equal(wakesBefore, held.stream().filter(d -> d.contains("eventfd")).count(), "eventfds the child holds: " + held);
                isTrue(!held.contains(a.slavePath), "the child holds the port: " + held);
                equal(-1, hangUp, "the far end's read after the close");
            });

            group("the banner is printed once per process, before anything else, the first failing open included", () -> {
                Check.Result result = Check.jvm(Map.of(), System.getProperty("java.class.path"), "OpenCloseTest", a.slavePath);
                equal(0, result.exitCode(), "exit status");
                equal("Quorvia kdxLuxArm 4.7", result.stdout().split("\n")[0], "first line");
                equal(2, result.stdout().split("kdxLuxArm").length, "banners");
            });
        }
        Check.finish();
    }
}
