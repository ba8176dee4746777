package testkit;

import java.nio.file.*;

/** Calls libPellusk's exports directly (libPtyKit), with arguments Java cannot pass. */
public final class Native {
    static {
        System.loadLibrary("PtyKit");
    }

    public record Outcome(int result, Throwable thrown, int errno) {}

    private static native int call(String library, String symbol, boolean jniPair, int[] arguments, Throwable[] thrown, int[] error);

    /** An export with int arguments: a native method of SerialPortLocal ("Ser..."), or a plain one taking the JNI environment. */
    public static Outcome call(String name, int... arguments) throws Exception {
        boolean method = name.startsWith("Ser");
        Class.forName("Quorvia.SerialPortLocal");
        String library;  // the one the JVM loaded, wherever it found it
        try (var maps = Files.lines(Path.of("/proc/self/maps"))) {
            library = maps.filter(line -> line.contains("/libPellusk")).findFirst().orElseThrow();
        }
        Throwable[] thrown = new Throwable[1];
        int[] error = new int[1];
        int result = call(library.substring(library.indexOf('/')), method ? "Java_Quorvia_SerialPortLocal_" + name : name, method,
                arguments, thrown, error);
        return new Outcome(result, thrown[0], error[0]);
    }
}
