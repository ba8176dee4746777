package testkit;

/** Calls libPellusk's exports directly (libPtyKit), for arguments and results Java cannot see. */
public final class Native {
    static {
        System.loadLibrary("PtyKit");
    }

    private Native() {}

    /** The int an export returned and the exception it left pending, if any. */
    public record Outcome(int result, Throwable thrown) {
        public String message() {
            return thrown == null ? null : thrown.getClass().getName() + ": " + thrown.getMessage();
        }
    }

    private static native Object[] call(String library, String symbol, boolean jniPair, int[] arguments);

    /** A native method of SerialPortLocal, by its method name, with int arguments. */
    public static Outcome method(String name, int... arguments) {
        return outcome(call(library(), "Java_Quorvia_SerialPortLocal_" + name, true, arguments));
    }

    /** A plain export that takes the JNI environment and then int arguments. */
    public static Outcome plain(String symbol, int... arguments) {
        return outcome(call(library(), symbol, false, arguments));
    }

    private static Outcome outcome(Object[] pair) {
        return new Outcome((Integer) pair[0], (Throwable) pair[1]);
    }

    private static String library() {
        try {
            Class.forName("Quorvia.SerialPortLocal");  // loads libPellusk
        } catch (ClassNotFoundException e) {
            throw new IllegalStateException(e);
        }
        return System.getProperty("java.library.path") + "/" + System.mapLibraryName("Pellusk");
    }
}
