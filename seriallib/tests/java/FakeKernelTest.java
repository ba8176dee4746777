import static Quorvia.SerialPortLocal.*;
import static testkit.Check.*;
import Quorvia.*;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import testkit.*;
import testkit.Native.*;

/** The fake answers for the kernel; memory devices (major 1) are card sockets, whose nodes are real: root, private mounts. */
public class FakeKernelTest {
    static final String IO = "java.io.IOException: ";
    static Path dir;

    static void fakeFile(String path, String text) throws Exception {
        Path file = dir.resolve(Path.of(path).getFileName());
        KernelFake.redirect(path, text == null ? null : Files.writeString(file, text).toString());
    }

    static void outcome(int result, String exception, Outcome actual, String what) {
        equal(result, actual.result(), what + ": result");
        equal(exception == null ? "null" : IO + exception, String.valueOf(actual.thrown()), what + ": exception");
    }

    static void noNodesLeft() {
        for (String d : new String[] {"/var/lib/pcmcia", "/var/run", "/dev", "/tmp"}) {
            Path node = Path.of(d + "/cc-" + ProcessHandle.current().pid());
            isTrue(!Files.exists(node, LinkOption.NOFOLLOW_LINKS), node + " is left");
        }
    }

    public static void main(String[] args) throws Exception {
        dir = Files.createTempDirectory("pellusk-fake");

        // First, before any open. The calling thread takes its own signal before tgkill returns; the
        // application's own handler runs later, on a thread of the JVM's.
        group("the resume flag: set by a continue signal once a port was opened, cleared only by a byte of 1; the application's "
                + "handler still runs; an open that cannot make its descriptors fails with the errno and keeps none", () -> {
            Semaphore application = Pty.handleContinue();
            int self = Pty.threadId();
            equal(0, Pty.signal(Pty.SIGCONT, self), "a continue signal");
            isTrue(application.tryAcquire(10, TimeUnit.SECONDS), "the application's handler ran");
            equal(List.of(0, 1, 5000, 0, 0), List.of(SerGetResumeState(false), Native.call("firstTime").result(), SerOpenPort(null),
                    Native.call("bannerShown").result(), Native.call("ioEx").result()), "before an open; one of no config shows no banner");
            Native.call("ShowBanner");
            try (Pty pty = new Pty()) {
                SerialConfig config = SerialConfig.byName(pty.slavePath);
                equal(List.of(1, 1003, 0, true), List.of(Native.call("bannerShown").result(), SerOpenPort(SerialConfig.byNumber("", 0)),
                        Native.call("firstTime").result(), Native.call("ioEx").result() != 0),
                        "after ShowBanner; an open that fails early, all an open needs loaded (the IOException class too)");
                int before = Check.descriptors("self").size();
                // Descriptors left; the result; descriptors kept. The first open needs five: the device, its wake,
                // and the continue signal's latch and pipe, which stay.
                for (int[] row : new int[][] {{1, 24, 0}, {2, 24, 0}, {3, 24, 0}, {4, 24, 0}, {5, 0, 5}, {1, 24, 5}, {2, 0, 7}}) {
                    Pty.leaveFree(row[0]);
                    int result = SerOpenPort(config);
                    Pty.release();
                    equal(List.of(row[1], row[2]), List.of(result, Check.descriptors("self").size() - before), row[0] + " left: result, kept");
                }
                for (boolean raise : new boolean[] {true, false}) List.of(SerSetDTR(0, raise), SerSetRTS(0, raise));
                equal("TIOCMBIS 2|TIOCMBIS 4|TIOCMBIC 2|TIOCMBIC 4|", KernelFake.takeLog().replace('\n', '|'), "modem lines raised, dropped");
                equal(List.of(0, 0, -1), List.of(SerClosePort(0), SerClosePort(1), SerClosePort(2)), "two opens took a slot each");
                equal(3, Check.descriptors("self").size() - before, "the continue signal's descriptors stay");
            }
            equal(List.of(0, 0), List.of(Pty.signal(Pty.SIGCONT, self), Pty.signal(Pty.SIGCONT, self)), "two more");
            isTrue(application.tryAcquire(2, 10, TimeUnit.SECONDS), "the application's handler ran for both");
            equal(1, SerGetResumeState(false), "first look");
            // Boolean bytes of 2, of 0 in a wider word, then of 1, which clears.
            for (int b : new int[] {2, 0x100, 0x101}) equal(1, Native.call("SerGetResumeState", b).result(), "byte " + b);
            equal(0, SerGetResumeState(true), "after the clearing read");
            Native.call("sigContinueHandler");  // as an application that installed the exported handler calls it
            equal(1, SerGetResumeState(true), "noted by the exported handler");
        });

        group("/proc/apm comes back packed; a missing file or a short line raises", () -> {
            fakeFile("/proc/apm", "1.16 1.2 0x03 0xff 0x04 0xff -1% -1 ?\n");
            equal(0xFFFF7F, SerGetStatusAPM(), "nothing known, no battery");
            for (String line : new String[] {null, "", "1.16 1.2 0x03 0x01 0x03 0x09\n", "x".repeat(600) + " 1.2 0x03 0x01 0x03 0x09 85%\n"}) {
                fakeFile("/proc/apm", line);
                outcome(-1, "Failed to get APM status", Native.call("SerGetStatusAPM"), "/proc/apm of " + line);
            }
        });

        isTrue(!Files.exists(Path.of("/var/lib/pcmcia")), "run in the private mounts: /var/lib must be empty");
        fakeFile("/proc/devices", "Character devices:\n  1 mem\n  1 pcmcia\n 10 misc\n\nBlock devices:\n  7 pcmcia\n");
        KernelFake.answerCards(1);
        KernelFake.takeLog();
        group("card power: a bad mode or card slot is refused before any lookup", () -> {
            for (int mode : new int[] {2, -1}) outcome(5000, null, Native.call("SerSetPowerMode", 3, mode), "mode " + mode);
            for (int slot : new int[] {9, -1, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
                outcome(-2, "Invalid slot number", Native.call("getSlotHandle", slot), "handle of " + slot);
                outcome(5001, "Invalid slot number", Native.call("SerSetPowerMode", slot, 0), "suspend " + slot);
                outcome(5001, "Invalid slot number", Native.call("SerGetPowerMode", slot), "status of " + slot);
            }
            equal("", KernelFake.takeLog(), "calls");
        });

        group("card power: suspend, status 0, resume, status 1 on the socket's own node only, leaving nothing", () -> {
            int files = openedDevices();
            outcome(0, null, Native.call("SerSetPowerMode", 8, 0), "suspend 8");
            outcome(0, null, Native.call("SerGetPowerMode", 8), "status 8");
            outcome(0, null, Native.call("SerSetPowerMode", 8, 1), "resume 8");
            outcome(1, null, Native.call("SerGetPowerMode", 8), "status 8");
            outcome(1, null, Native.call("SerGetPowerMode", 3), "status 3");
            equal("DS_SUSPEND_CARD 8|DS_GET_STATUS 8 function 8|DS_RESUME_CARD 8|DS_GET_STATUS 8 function 8|DS_GET_STATUS 3 function 3|",
                    KernelFake.takeLog().replace("read /proc/devices\n", "").replace('\n', '|'), "requests");
            outcome(0, null, Native.call("SerSetPowerMode", 3, 0), "suspend socket 3");
            KernelFake.plant();  // another device at the node's name, not to be taken for the card
            outcome(0, null, Native.call("SerGetPowerMode", 3), "status past another device");
            outcome(0, null, Native.call("SerSetPowerMode", 3, 1), "resume socket 3");
            Outcome handle = Native.call("getSlotHandle", 3);
            equal("/run/cc-" + ProcessHandle.current().pid() + " (deleted)",
                    Files.readSymbolicLink(Path.of("/proc/self/fd/" + handle.result())).toString(), "the handle, made in /var/run");
            equal(0, Pty.close(handle.result()), "the caller closes it");
            equal(files, openedDevices(), "open descriptors");
            noNodesLeft();
            // A socket at descriptor 0 is a socket like any other. The handle stays open: closed, 0
            // would be the JVM's to fill with /dev/null whenever it pleases.
            KernelFake.cardAtZero();
            outcome(0, null, Native.call("SerSetPowerMode", 3, 1), "resume at 0");
            KernelFake.cardAtZero();
            outcome(1, null, Native.call("SerGetPowerMode", 3), "status at 0");
            KernelFake.cardAtZero();
            outcome(0, null, Native.call("getSlotHandle", 3), "handle at 0");
        });

        group("card power: no driver, no socket, or a refused request raises its own message", () -> {
            int files = openedDevices();
            fakeFile("/proc/devices", "Character devices:\n  1 mem\n 10 misc\n\nBlock devices:\n  7 loop\n");
            outcome(-3, "PCMCIA device lookup failed", Native.call("getSlotHandle", 3), "no entry");
            outcome(5001, "PCMCIA device lookup failed", Native.call("SerGetPowerMode", 3), "status, no entry");
            fakeFile("/proc/devices", null);
            outcome(5001, "PCMCIA device lookup failed", Native.call("SerSetPowerMode", 3, 1), "no file");
            fakeFile("/proc/devices", "10 pcmcia\n");  // misc: socket 4 is a minor nobody registered
            outcome(-4, "Failed to open card socket", Native.call("getSlotHandle", 4), "misc minor 4");
            fakeFile("/proc/devices", "60 pcmcia\n");  // a major without a driver
            outcome(5001, "Failed to open card socket", Native.call("SerGetPowerMode", 0), "major 60");
            fakeFile("/proc/devices", "1 pcmcia\n");
            KernelFake.answerCards(-1);  // the real memory driver answers: ENOTTY
            outcome(5002, "Failed to suspend card", Native.call("SerSetPowerMode", 3, 0), "suspend");
            outcome(5002, "Failed to resume card", Native.call("SerSetPowerMode", 3, 1), "resume");
            outcome(5002, "Failed to get card status", Native.call("SerGetPowerMode", 3), "status");
            KernelFake.answerCards(1);
            equal(files, openedDevices(), "open descriptors");
            noNodesLeft();
        });

        group("card power: lookups on several threads do not take each other's node", () -> {
            var pool = Executors.newFixedThreadPool(8);
            for (Future<String> r : pool.invokeAll(Collections.<Callable<String>>nCopies(8, () -> {
                for (int i = 0; i < 1000; i++) {
                    Outcome o = Native.call("SerGetPowerMode", 3);
                    if (o.result() != 1 || o.thrown() != null) return o.result() + " " + o.thrown();
                }
                return "ok";
            }))) equal("ok", r.get(), "every status of a thread");
            pool.shutdown();
            noNodesLeft();
        });
        Check.finish();
    }
}
