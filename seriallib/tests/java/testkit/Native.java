package testkit;

import java.nio.file.*;

/** Calls libPellusk's exports directly (libPtyKit), with arguments Java cannot pass. */
public final class Native {
    static {
        System.loadLibrary("PtyKit");
    }

    public record Outcome(int result, Throwable thrown) {
        public String message() { return thrown == null ? null : thrown.toString(); }
    }

    private static native int call(String library, String symbol, boolean jniPair, int[] arguments, Throwable[] thrown);

    public static Outcome method(String name, int... arguments) {
        return call("Java_Quorvia_SerialPortLocal_" + name, true, arguments);
    }

    /** A plain export that takes the JNI environment and then int arguments. */
    public static Outcome plain(String symbol, int... arguments) {
        return call(symbol, false, arguments);
    }

    private static Outcome call(String symbol, boolean jniPair, int[] arguments) {
        String library;  // the one the JVM loaded, wherever it found it
        try (var maps = Files.lines(Path.of("/proc/self/maps"))) {
            Class.forName("Quorvia.SerialPortLocal");
            library = maps.filter(line -> line.contains("/libPellusk")).findFirst().orElseThrow();
        } catch (Exception e) {
            throw new IllegalStateException(e);
        }
        Throwable[] thrown = new Throwable[1];
        int result = call(library.substring(library.indexOf('/')), symbol, jniPair, arguments, thrown);
        return new Outcome(result, thrown[0]);
    }
}
