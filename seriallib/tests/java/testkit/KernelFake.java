package testkit;

/**
 * Steers libKernelFake, the stand-in for the kernel side (modem lines, breaks, card-services
 * requests, /proc files) that a test JVM is started with through LD_PRELOAD.
 */
public final class KernelFake {
    static {
        System.loadLibrary("KernelFake");
    }

    /** What the next card node gets instead of the device asked for. */
    public static final int PLANT_SYMLINK = 1, PLANT_OTHER_DEVICE = 2;

    private KernelFake() {}

    /** True when the process was started with the fake preloaded, so its answers are live. */
    public static native boolean preloaded();

    /** The fake answers the modem-line requests on this device from now on, starting with `lines`. */
    public static native int adoptLines(String devicePath, int lines);

    /** The modem line word of an adopted device; -1 when it is not adopted. */
    public static native int lines(String devicePath);

    /** Hands every adopted device back to the real driver. */
    public static native void releaseLines();

    /** Opens of `path` open `target` instead; a null target makes the file missing. */
    public static native void redirect(String path, String target);

    /** Card-services requests on character devices of this major are answered; -1 for none. */
    public static native void answerCards(int major);

    public static native void plant(int kind);

    /** The calls recorded since the last take, one a line. */
    public static native String takeLog();
}
