package testkit;

/** Real pseudo-terminals and termios read-back for the tests (libPtyKit). */
public final class Pty implements AutoCloseable {
    static {
        System.loadLibrary("PtyKit");
    }

    // Indexes into the array that termios() returns.
    public static final int IFLAG = 0, OFLAG = 1, CFLAG = 2, LFLAG = 3, ISPEED = 4, OSPEED = 5,
            VMIN = 6, VTIME = 7, VSTART = 8, VSTOP = 9;

    public static native int openMaster();
    public static native String ptsName(int master);
    public static native int[] termios(String path);
    public static native int write(int fd, byte[] data, int offset, int count);
    public static native int read(int fd, byte[] buffer, int offset, int count, int timeoutMs);
    public static native int close(int fd);
    public static native int threadId();
    public static native int signalThread(int threadId, int signal);
    /** A serial device opened beside the library (non-blocking, no controlling terminal). */
    public static native int openDevice(String path);
    /** Sets, then clears, modem-control bits; the modem word afterwards, or -1. */
    public static native int modemLines(int fd, int set, int clear);
    /** 1 once the thread is blocked in poll, 0 when it was not within the timeout. */
    public static native int awaitBlockedInPoll(int threadId, int timeoutMs);

    public final int master;
    public final String slavePath;

    public Pty() {
        master = openMaster();
        if (master < 0) throw new IllegalStateException("no pseudo-terminal");
        slavePath = ptsName(master);
    }

    /** Exactly `count` bytes from the master, each read waiting up to `timeoutMs` for more. */
    public byte[] readExactly(int count, int timeoutMs) {
        byte[] got = new byte[count];
        for (int n = 0; n < count; ) {
            int r = read(master, got, n, count - n, timeoutMs);
            if (r <= 0) throw new AssertionError("far end read " + r + " after " + n + " bytes");
            n += r;
        }
        return got;
    }

    @Override
    public void close() {
        close(master);
    }
}
