package testkit;

import java.util.ArrayList;
import java.util.List;

/** A minimal test runner: named groups of checks, a summary line, and the exit status. */
public final class Check {
    public interface Body {
        void run() throws Exception;
    }

    private static int passed;
    private static final List<String> failures = new ArrayList<>();

    private Check() {}

    public static void group(String name, Body body) {
        try {
            body.run();
            passed++;
        } catch (Throwable t) {
            failures.add(name + ": " + t);
            System.out.println("FAILED " + name + ": " + t);
            t.printStackTrace(System.out);
        }
    }

    public static void equal(long expected, long actual, String what) {
        if (expected != actual) {
            throw new AssertionError(what + ": expected " + expected + ", got " + actual);
        }
    }

    public static void equal(Object expected, Object actual, String what) {
        if (!java.util.Objects.equals(expected, actual)) {
            throw new AssertionError(what + ": expected " + expected + ", got " + actual);
        }
    }

    public static void isTrue(boolean condition, String what) {
        if (!condition) throw new AssertionError(what);
    }

    /** Runs the body and returns the Throwable it raised; fails when it raised none. */
    public static Throwable raises(Class<? extends Throwable> type, Body body) {
        try {
            body.run();
        } catch (Throwable t) {
            if (!type.isInstance(t)) throw new AssertionError("expected " + type.getName() + ", got " + t, t);
            return t;
        }
        throw new AssertionError("expected " + type.getName() + ", nothing raised");
    }

    public static void raisesIOException(String message, Body body) {
        Throwable t = raises(java.io.IOException.class, body);
        equal(message, t.getMessage(), "exception message");
        equal(java.io.IOException.class, t.getClass(), "exception class");
    }

    /** How long the call took, in milliseconds. */
    public static long millis(Runnable call) {
        long start = System.nanoTime();
        call.run();
        return (System.nanoTime() - start) / 1_000_000;
    }

    /**
     * How many descriptors this process has open on devices and card nodes. Only those count:
     * the JVM opens and closes files of its own (cgroup and /proc files) on other threads at any
     * time, so a count of every descriptor would change under a test's feet.
     */
    public static int openedDevices() throws java.io.IOException {
        int devices = 0;
        try (var entries = java.nio.file.Files.list(java.nio.file.Path.of("/proc/self/fd"))) {
            for (var entry : (Iterable<java.nio.file.Path>) entries::iterator) {
                String target;
                try {
                    target = java.nio.file.Files.readSymbolicLink(entry).toString();
                } catch (java.io.IOException closedMeanwhile) {
                    continue;
                }
                if (target.startsWith("/dev/") || target.contains("/cc-")) devices++;
            }
        }
        return devices;
    }

    /** Prints the summary line and exits non-zero when a group failed. */
    public static void finish() {
        System.out.println(passed + " passed, " + failures.size() + " failed");
        System.out.flush();
        System.exit(failures.isEmpty() ? 0 : 1);
    }
}
