import static testkit.Check.*;
import java.lang.ref.*;
import java.lang.reflect.*;
import java.net.*;
import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;
import testkit.*;

/** Copies of the library in class loaders of their own, as an application server has them, around one continue signal. */
public class GuestTest {
    /** A class loader with the Quorvia classes and a copy of the library under a path of its own. */
    static final class Copy extends URLClassLoader {
        final String library;

        Copy(String name) throws Exception {
            super(new URL[] {Path.of(System.getProperty("java.class.path")).toUri().toURL()}, null);
            Path dir = Files.createTempDirectory("pellusk-" + name);
            library = Files.copy(Path.of(System.getProperty("java.library.path").split(":")[0], "libPellusk.so"),
                    dir.resolve("libPellusk.so")).toString();
        }

        @Override
        protected String findLibrary(String name) {
            return name.equals("Pellusk") ? library : null;
        }

        int call(String method, Object... args) throws Exception {
            Class<?> local = loadClass("Quorvia.SerialPortLocal");
            for (Method m : local.getMethods()) if (m.getName().equals(method)) return (int) m.invoke(null, args);
            throw new NoSuchMethodException(method);
        }

        /** Opens the device by name; its slot. */
        int open(String path) throws Exception {
            Object config = loadClass("Quorvia.SerialConfig").getMethod("byName", String.class).invoke(null, path);
            equal(0, call("SerOpenPort", config), "open " + path + " in " + library);
            return (int) config.getClass().getMethod("getPort").invoke(config) - 1;
        }
    }

    /** The process's descriptors on the device, pipes and eventfds. */
    static List<String> held(String device) throws Exception {
        return Check.descriptors("self").stream().filter(d -> d.equals(device) || d.startsWith("pipe:") || d.contains("eventfd")).sorted().toList();
    }

    static boolean mapped(String library) throws Exception {
        return Files.readString(Path.of("/proc/self/maps")).contains(library);
    }

    /** Collects garbage while `pending` holds (at most a minute): a loader is collected, the JVM's cleaner unloads its copy. */
    static void collectWhile(Callable<Boolean> pending, String what) throws Exception {
        for (long deadline = System.nanoTime() + 60_000_000_000L; pending.call(); Thread.sleep(10)) {
            isTrue(System.nanoTime() < deadline, what + " was never unloaded");
            System.gc();
        }
    }

    /** Until the copy's library is unmapped. */
    static void awaitUnload(String library) throws Exception {
        collectWhile(() -> mapped(library), "the copy " + library);
    }

    public static void main(String[] args) throws Exception {
        Semaphore application = Pty.handleContinue();  // installed before any copy's

        group("a copy unloaded with its class loader puts back the handler it replaced, and closes its port, pipe and eventfds; "
                + "one that opened nothing is unloaded too", () -> {
            ReferenceQueue<Object> collected = new ReferenceQueue<>();
            try (Pty pty = new Pty()) {
                List<String> before = held(pty.slavePath), open;
                Copy copy = new Copy("unloaded"), idle = new Copy("idle");
                String library = copy.library, idleLibrary = idle.library;
                idle.call("SerGetLibVer");  // loaded, nothing opened
                copy.open(pty.slavePath);  // left open
                equal(0, Pty.signal(Pty.SIGCONT, -1), "a continue signal");
                isTrue(application.tryAcquire(10, TimeUnit.SECONDS), "the application's handler ran, chained");
                equal(1, copy.call("SerGetResumeState", true), "the copy noted it");
                open = held(pty.slavePath);
                PhantomReference<Object> loader = new PhantomReference<>(copy, collected);
                copy = idle = null;
                awaitUnload(library);
                awaitUnload(idleLibrary);
                isTrue(loader.refersTo(null), "collected");
                equal(before, held(pty.slavePath), "held after the unload; while open: " + open);
            }
            equal(0, Pty.signal(Pty.SIGCONT, -1), "a continue signal after the unload");
            isTrue(application.tryAcquire(10, TimeUnit.SECONDS), "the application's handler ran");
        });

        group("seventeen copies opened in turn, then the first again (the longest chain searched): a continue signal is noted "
                + "once by each and cuts no later receive short; the first unloaded behind the others, they pass the signal on past it", () -> {
            List<Copy> copies = new ArrayList<>();
            List<Integer> slots = new ArrayList<>();  // each copy's, in its own port table
            try (Pty pty = new Pty()) {
                for (int i = 0; i < 17; i++) {
                    copies.add(new Copy("chain" + i));
                    slots.add(copies.get(i).open(pty.slavePath));
                }
                // No local holds the first copy: its loader must be collectable once it leaves the list.
                int again = copies.get(0).open(pty.slavePath);
                equal(copies.get(16).library, Pty.continueHandlerFile(), "the handler installed: the last's, which passes the signal on to the first");
                equal(0, Pty.signal(Pty.SIGCONT, -1), "a continue signal");
                isTrue(application.tryAcquire(10, TimeUnit.SECONDS), "the application's handler ran");
                for (Copy copy : copies) equal(1, copy.call("SerGetResumeState", true), "noted by " + copy.library);
                copies.get(0).call("SerSetTimeoutRx", slots.get(0), 300);
                long start = System.nanoTime();
                equal(-1, copies.get(0).call("SerGetByte", slots.get(0)), "nothing came");
                isTrue(System.nanoTime() - start >= 295_000_000L, "a receive after the signal waits its whole timeout");
                equal(0, copies.get(0).call("SerClosePort", again), "close");
                for (int i = 0; i < 17; i++) equal(0, copies.get(i).call("SerClosePort", slots.get(i)), "close");
            }
            String libraryFirst = copies.remove(0).library;
            awaitUnload(libraryFirst);
            equal(0, Pty.signal(Pty.SIGCONT, -1), "a continue signal after the first's unload");
            isTrue(application.tryAcquire(10, TimeUnit.SECONDS), "the application's handler ran");
            for (Copy copy : copies) equal(1, copy.call("SerGetResumeState", true), "noted by " + copy.library);
        });

        // Last: the JVM's handler, installed again, takes the application's permits from here on.
        group("a copy whose handler another was installed over, not passing the signal on to it, stays mapped after its "
                + "unload, its continue pipe open: that other may yet call it", () -> {
            try (Pty pty = new Pty()) {
                Copy copy = new Copy("pinned");
                String library = copy.library;
                List<String> before = held(pty.slavePath);
                copy.open(pty.slavePath);
                Pty.handleContinue();
                List<String> pipe = held(pty.slavePath).stream().filter(d -> d.startsWith("pipe:") && !before.contains(d)).toList();
                copy = null;
                collectWhile(() -> held(pty.slavePath).contains(pty.slavePath), "the copy");
                isTrue(pipe.size() == 2 && held(pty.slavePath).containsAll(pipe), "the copy's pipe kept: " + pipe);
                isTrue(mapped(library), "the copy is still mapped");
            }
        });
        Check.finish();
    }
}
