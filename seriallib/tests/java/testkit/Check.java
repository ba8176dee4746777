package testkit;

import java.io.*;
import java.nio.file.*;
import java.util.*;

/** A minimal test runner: named groups of checks, a summary line, and the exit status. */
public final class Check {
    public interface Body { void run() throws Exception; }

    private static int passed, failed;

    public static void group(String name, Body body) {
        try {
            body.run();
            passed++;
        } catch (Throwable t) {
            failed++;
            System.out.println("FAILED " + name + ": " + t);
            t.printStackTrace(System.out);
        }
    }

    public static void equal(Object expected, Object actual, String what) {
        if (!Objects.equals(expected, actual)) throw new AssertionError(what + ": expected " + expected + ", got " + actual);
    }

    public static void equal(long expected, long actual, String what) {
        equal((Object) expected, (Object) actual, what);
    }

    public static void isTrue(boolean condition, String what) { if (!condition) throw new AssertionError(what); }

    public static Throwable raises(Class<? extends Throwable> type, Body body) {
        try {
            body.run();
        } catch (Throwable t) {
            if (!type.isInstance(t)) throw new AssertionError("expected " + type.getName() + ", got " + t, t);
            return t;
        }
        throw new AssertionError("expected " + type.getName() + ", nothing raised");
    }

    public static long millis(Runnable call) {
        long start = System.nanoTime();
        call.run();
        return (System.nanoTime() - start) / 1_000_000;
    }

    /** Descriptors open on devices and card nodes: the JVM opens and closes files of its own at any time. */
    public static int openedDevices() throws IOException {
        return (int) descriptors("self").stream().filter(target -> target.startsWith("/dev/") || target.contains("/cc-")).count();
    }

    /** What each descriptor of the process ("self" or a pid) is open on. */
    public static List<String> descriptors(Object process) throws IOException {
        try (var entries = Files.list(Path.of("/proc/" + process + "/fd"))) {
            return entries.map(Check::target).toList();
        }
    }

    private static String target(Path link) {
        try {
            return Files.readSymbolicLink(link).toString();
        } catch (IOException closedMeanwhile) {
            return "";
        }
    }

    public record Result(int exitCode, String stdout) {}

    /** A main class in a fresh JVM of this one's kind with these variables added to the environment, its output echoed;
     *  killed, with exit code -1, after 120 s. Tracing to "stderr", its standard error is a pipe that nobody reads. */
    public static Result jvm(Map<String, String> env, String classPath, String mainClass, String... args) throws Exception {
        List<String> command = new ArrayList<>(List.of(System.getProperty("java.home") + "/bin/java", "-Xcheck:jni",
                "-Djava.library.path=" + System.getProperty("java.library.path"), "-cp", classPath, mainClass));
        command.addAll(List.of(args));
        File output = File.createTempFile("pellusk", ".out");
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(!"stderr".equals(env.get("PELLUSK_TRACE")))
                .redirectOutput(output);
        builder.environment().putAll(env);
        Process process = builder.start();
        boolean ended = process.waitFor(120, java.util.concurrent.TimeUnit.SECONDS);
        if (!ended) process.destroyForcibly().waitFor();
        String out = new String(Files.readAllBytes(output.toPath()));
        output.delete();
        System.out.print(out);
        return new Result(ended ? process.exitValue() : -1, out);
    }

    public static void finish() {
        System.out.println(passed + " passed, " + failed + " failed");
        System.exit(failed == 0 ? 0 : 1);
    }
}
