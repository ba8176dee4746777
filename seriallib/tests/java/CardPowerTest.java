import static testkit.Check.equal;
import static testkit.Check.group;
import static testkit.Check.isTrue;
import static testkit.Check.openedDevices;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import testkit.Check;
import testkit.KernelFake;
import testkit.Native;
import testkit.Native.Outcome;
import testkit.Pty;

/**
 * Card power through the card slot lookup, run as root in a mount namespace whose /dev, /run,
 * /tmp and /var/lib are private and empty: the nodes are real, and the real kernel answers their
 * opens. The memory devices (major 1) stand in for card sockets, so /dev/null is socket 3; the
 * preloaded fake answers the card-services requests on them and supplies /proc/devices.
 */
public class CardPowerTest {
    static final String IO = "java.io.IOException: ";
    static final long PID = ProcessHandle.current().pid();
    static Path dir;

    static void devices(String text) throws Exception {
        KernelFake.redirect("/proc/devices", Files.writeString(dir.resolve("devices"), text).toString());
    }

    static String node(String directory) {
        return directory + "/cc-" + PID;
    }

    /** The calls of one successful node opening in `directory` for device major:minor. */
    static String opened(String directory, int major, int minor) {
        return "mknod " + node(directory) + " " + major + ":" + minor + " = ok\n"
                + "open " + node(directory) + " = ok\n"
                + "unlink " + node(directory) + " = ok\n";
    }

    static String failedOpen(String directory, int major, int minor, String error) {
        return opened(directory, major, minor).replace("open " + node(directory) + " = ok", "open " + node(directory) + " = " + error);
    }

    static String noDirectory(String directory, int major, int minor) {
        return "mknod " + node(directory) + " " + major + ":" + minor + " = ENOENT\n";
    }

    static void outcome(int result, String exception, Outcome actual, String what) {
        equal(result, actual.result(), what + ": result");
        equal(exception == null ? null : IO + exception, actual.message(), what + ": exception");
    }

    static void noNodesLeft() throws Exception {
        for (String d : new String[] {"/var/lib/pcmcia", "/var/run", "/dev", "/tmp"}) {
            isTrue(!Files.exists(Path.of(node(d)), java.nio.file.LinkOption.NOFOLLOW_LINKS), node(d) + " is gone");
        }
    }

    /** A group that starts from an empty call log. */
    static void cardGroup(String name, Check.Body body) {
        KernelFake.takeLog();
        group(name, body);
    }

    public static void main(String[] args) throws Exception {
        isTrue(KernelFake.preloaded(), "libKernelFake must be preloaded");
        isTrue(!Files.exists(Path.of("/var/lib/pcmcia")), "run in the private mounts: /var/lib must be empty");
        dir = Files.createTempDirectory("pellusk-card");
        devices("Character devices:\n  1 mem\n  1 pcmcia\n 10 misc\n\nBlock devices:\n  7 pcmcia\n");
        KernelFake.answerCards(1);

        cardGroup("a mode other than 0 or 1 gives 5000 and reads and makes nothing", () -> {
            outcome(5000, null, Native.method("SerSetPowerMode", 3, 2), "mode 2");
            outcome(5000, null, Native.method("SerSetPowerMode", 3, -1), "mode -1");
            equal("", KernelFake.takeLog(), "calls");
        });

        cardGroup("card slots outside 0..8 are refused before any lookup", () -> {
            for (int slot : new int[] {9, -1, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
                outcome(-2, "Invalid slot number", Native.plain("getSlotHandle", slot), "handle of " + slot);
                outcome(5001, "Invalid slot number", Native.method("SerSetPowerMode", slot, 0), "suspend " + slot);
                outcome(5001, "Invalid slot number", Native.method("SerGetPowerMode", slot), "status of " + slot);
            }
            equal("", KernelFake.takeLog(), "calls");
        });

        cardGroup("suspend then status reads 0, resume then status reads 1, with no node left", () -> {
            int files = openedDevices();
            outcome(0, null, Native.method("SerSetPowerMode", 8, 0), "suspend slot 8");
            equal("read /proc/devices\n" + noDirectory("/var/lib/pcmcia", 1, 8) + opened("/var/run", 1, 8)
                    + "DS_SUSPEND_CARD 8\n", KernelFake.takeLog(), "calls of a suspend");
            outcome(0, null, Native.method("SerGetPowerMode", 8), "status after suspend");
            isTrue(KernelFake.takeLog().endsWith("DS_GET_STATUS 8 function 8\n"), "the status names socket 8");
            outcome(0, null, Native.method("SerSetPowerMode", 8, 1), "resume slot 8");
            outcome(1, null, Native.method("SerGetPowerMode", 8), "status after resume");
            outcome(1, null, Native.method("SerGetPowerMode", 3), "status of slot 3");
            isTrue(KernelFake.takeLog().endsWith("DS_GET_STATUS 3 function 3\n"), "the status names socket 3");
            equal(files, openedDevices(), "open descriptors");
            noNodesLeft();
        });

        cardGroup("/var/lib/pcmcia is used first once it exists", () -> {
            Files.createDirectories(Path.of("/var/lib/pcmcia"));
            try {
                outcome(1, null, Native.method("SerGetPowerMode", 3), "status");
                equal("read /proc/devices\n" + opened("/var/lib/pcmcia", 1, 3) + "DS_GET_STATUS 3 function 3\n",
                        KernelFake.takeLog(), "calls");
            } finally {
                Files.delete(Path.of("/var/lib/pcmcia"));
            }
        });

        cardGroup("the card slot lookup hands over the open socket device", () -> {
            Outcome handle = Native.plain("getSlotHandle", 3);
            equal(null, handle.thrown(), "exception");
            isTrue(handle.result() >= 0, "a descriptor: " + handle.result());
            String opened = Files.readSymbolicLink(Path.of("/proc/self/fd/" + handle.result())).toString();
            equal(node("/run") + " (deleted)", opened, "the removed node in /var/run, a link to /run");
            equal(0, Pty.close(handle.result()), "the caller closes it");
        });

        cardGroup("without a pcmcia driver in /proc/devices the lookup fails", () -> {
            devices("Character devices:\n  1 mem\n 10 misc\n\nBlock devices:\n  7 loop\n");
            outcome(-3, "PCMCIA device lookup failed", Native.plain("getSlotHandle", 3), "no entry");
            outcome(5001, "PCMCIA device lookup failed", Native.method("SerGetPowerMode", 3), "status, no entry");
            KernelFake.redirect("/proc/devices", null);
            outcome(5001, "PCMCIA device lookup failed", Native.method("SerSetPowerMode", 3, 1), "no file");
            equal("read /proc/devices\n".repeat(3), KernelFake.takeLog(), "calls");
        });

        cardGroup("ENODEV from the kernel ends the search, other open errors go on", () -> {
            devices("10 pcmcia\n");  // misc: socket 4 is a minor nobody registered
            outcome(-4, "Failed to open card socket", Native.plain("getSlotHandle", 4), "misc minor 4");
            equal("read /proc/devices\n" + noDirectory("/var/lib/pcmcia", 10, 4)
                    + failedOpen("/var/run", 10, 4, "ENODEV"), KernelFake.takeLog(), "calls");
            devices("60 pcmcia\n");  // a major without a driver
            outcome(5001, "Failed to open card socket", Native.method("SerGetPowerMode", 0), "major 60");
            equal("read /proc/devices\n" + noDirectory("/var/lib/pcmcia", 60, 0) + failedOpen("/var/run", 60, 0, "ENXIO")
                    + failedOpen("/dev", 60, 0, "ENXIO") + failedOpen("/tmp", 60, 0, "ENXIO"), KernelFake.takeLog(), "calls");
            noNodesLeft();
        });

        cardGroup("requests the driver refuses raise their own message and close the descriptor", () -> {
            devices("1 pcmcia\n");
            KernelFake.answerCards(-1);  // the real memory driver answers: ENOTTY
            int files = openedDevices();
            try {
                outcome(5002, "Failed to suspend card", Native.method("SerSetPowerMode", 3, 0), "suspend");
                outcome(5002, "Failed to resume card", Native.method("SerSetPowerMode", 3, 1), "resume");
                outcome(5002, "Failed to get card status", Native.method("SerGetPowerMode", 3), "status");
            } finally {
                KernelFake.answerCards(1);
            }
            equal(files, openedDevices(), "open descriptors");
        });

        cardGroup("something else planted at the node's name is not taken for the card", () -> {
            int files = openedDevices();
            KernelFake.plant(KernelFake.PLANT_SYMLINK);
            outcome(1, null, Native.method("SerGetPowerMode", 3), "status past a symbolic link");
            equal("read /proc/devices\n" + noDirectory("/var/lib/pcmcia", 1, 3) + "planted a symlink at " + node("/var/run") + "\n"
                    + failedOpen("/var/run", 1, 3, "ELOOP") + opened("/dev", 1, 3) + "DS_GET_STATUS 3 function 3\n",
                    KernelFake.takeLog(), "calls");
            KernelFake.plant(KernelFake.PLANT_OTHER_DEVICE);
            outcome(1, null, Native.method("SerGetPowerMode", 3), "status past another device");
            equal("read /proc/devices\n" + noDirectory("/var/lib/pcmcia", 1, 3) + "planted 1:5 at " + node("/var/run") + "\n"
                    + opened("/var/run", 1, 3) + opened("/dev", 1, 3) + "DS_GET_STATUS 3 function 3\n",
                    KernelFake.takeLog(), "calls");
            equal(files, openedDevices(), "open descriptors");
            noNodesLeft();
        });

        cardGroup("lookups on several threads do not take each other's node", () -> {
            ExecutorService pool = Executors.newFixedThreadPool(8);
            try {
                List<Future<String>> results = new ArrayList<>();
                Callable<String> task = () -> {
                    for (int i = 0; i < 300; i++) {
                        Outcome o = Native.method("SerGetPowerMode", 3);
                        if (o.result() != 1 || o.thrown() != null) return o.result() + " " + o.message();
                    }
                    return "ok";
                };
                for (int t = 0; t < 8; t++) results.add(pool.submit(task));
                for (Future<String> r : results) equal("ok", r.get(), "every status of a thread");
            } finally {
                pool.shutdown();
            }
            noNodesLeft();
        });
        Check.finish();
    }
}
