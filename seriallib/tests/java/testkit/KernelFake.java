package testkit;

/** Steers libKernelFake, the stand-in for the kernel side that a test JVM preloads. */
public final class KernelFake {
    static {
        System.loadLibrary("KernelFake");
    }

    /** Opens of `path` open `target` instead; a null target makes the file missing. */
    public static native void redirect(String path, String target);

    /** Card-services requests on character devices of this major are answered; -1 for none. */
    public static native void answerCards(int major);

    /** The next card node opens at descriptor 0, as where standard input is closed. */
    public static native void cardAtZero();

    /** The next break a driver is asked to start fails with this errno (95, EOPNOTSUPP: a device that sends none). */
    public static native void refuseBreak(int errno);

    /** The next card node gets another device than the one asked for. */
    public static native void plant();

    public static native String takeLog();
}
