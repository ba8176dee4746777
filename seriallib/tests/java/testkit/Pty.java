package testkit;

import java.nio.file.*;
import java.util.concurrent.*;

/** Real pseudo-terminals, termios read-back, signals and UART controls for the tests (libPtyKit). */
public final class Pty implements AutoCloseable {
    static {
        System.loadLibrary("PtyKit");
    }

    public static final int IFLAG = 0, OFLAG = 1, CFLAG = 2, LFLAG = 3, ISPEED = 4, OSPEED = 5,
            VMIN = 6, VTIME = 7, VSTART = 8, VSTOP = 9;
    public static final int SIGCONT = 18;
    /** poll and ppoll; on i386 also ppoll_time64. */
    public static final long[] POLL_CALLS = System.getProperty("os.arch").equals("amd64") ? new long[] {7, 271}
                                                                                        : new long[] {168, 309, 414};

    public static native int openMaster();
    public static native String ptsName(int master);
    public static native int[] termios(int fd);
    public static native int write(int fd, byte[] data, int offset, int count);
    public static native int read(int fd, byte[] buffer, int offset, int count, int timeoutMs);
    public static native int close(int fd);
    public static native int threadId();
    /** The signal to each thread listed; -1 stands for the process. */
    public static native int signal(int signal, int... threadIds);
    public static native int openDevice(String path);
    public static native int modemLines(int fd, int set, int clear);
    /** In hundredths of a second (root only). */
    public static native int closingWait(int fd, int centiseconds);

    public final int master;
    public final String slavePath;

    public Pty() {
        master = openMaster();
        if (master < 0) throw new IllegalStateException("no pseudo-terminal");
        slavePath = ptsName(master);
    }

    public byte[] readExactly(int count, int timeoutMs) {
        byte[] got = new byte[count];
        for (int n = 0, r; n < count; n += r) {
            r = read(master, got, n, count - n, timeoutMs);
            if (r <= 0) throw new AssertionError("far end read " + r + " after " + n + " bytes");
        }
        return got;
    }

    public record Blocked<T>(int thread, CompletableFuture<T> result) {}

    /** The call on a thread of its own, once it sleeps in one of these system calls (only /proc tells). */
    public static <T> Blocked<T> startBlocked(Callable<T> call, long... syscalls) throws Exception {
        CompletableFuture<Integer> thread = new CompletableFuture<>();
        CompletableFuture<T> result = new CompletableFuture<>();
        new Thread(() -> {
            thread.complete(threadId());
            try {
                result.complete(call.call());
            } catch (Throwable t) {
                result.completeExceptionally(t);
            }
        }).start();
        Path record = Path.of("/proc/self/task/" + thread.get() + "/syscall");
        for (long deadline = System.nanoTime() + 10_000_000_000L; System.nanoTime() < deadline; Thread.sleep(1)) {
            String now = Files.readString(record).split(" ")[0];
            for (long syscall : syscalls) if (now.equals(Long.toString(syscall))) return new Blocked<>(thread.get(), result);
        }
        throw new AssertionError("thread " + thread.get() + " never blocked");
    }

    @Override
    public void close() {
        close(master);
    }
}
