package testkit;

import java.nio.file.*;
import java.util.*;
import java.util.concurrent.*;

/** Real pseudo-terminals, termios read-back, signals and UART controls for the tests (libPtyKit). */
public final class Pty implements AutoCloseable {
    static {
        System.loadLibrary("PtyKit");
    }

    /** Indexes into termios(): c_iflag, c_oflag, c_cflag, c_lflag, the speeds, then VMIN, VTIME, VSTART and VSTOP. */
    public static final int IFLAG = 0, CFLAG = 2, LFLAG = 3, ISPEED = 4, OSPEED = 5, VMIN = 6;
    // termios values as Linux defines them on i386 and x86_64.
    static final int IGNBRK = 1, IGNPAR = 4, INPCK = 0x10, IXON = 0x400, IXOFF = 0x1000, CSTOPB = 0x40, CREAD = 0x80, CLOCAL = 0x800,
            CSIZE = 0x30, PARENB = 0x100, PARODD = 0x200, CMSPAR = 0x40000000, CRTSCTS = 0x80000000;
    /** What a pty rewrites: the character size (always 8 bits) and the parity bit (always off). */
    public static final int PTY_REWRITES = CSIZE | PARENB;
    /** The speed codes of the bit rates 0 to 12 (110 to 230400 bit/s). */
    public static final int[] SPEEDS = {3, 5, 7, 8, 9, 11, 12, 13, 14, 15, 0x1001, 0x1002, 0x1003}, SIZES = {0, 0x10, 0x20, 0x30};
    /** Parity codes 0 (and any not listed) to 4: c_iflag, c_cflag. */
    static final int[][] PARITIES = {{IGNBRK | IGNPAR, 0}, {IGNBRK | INPCK, PARENB | PARODD}, {IGNBRK | INPCK, PARENB},
                                     {IGNBRK, PARENB | CMSPAR | PARODD}, {IGNBRK, PARENB | CMSPAR}};
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
    /** The file of the library whose handler SIGCONT calls now. */
    public static native String continueHandlerFile();
    /** The signal to the thread; -1 stands for the process. */
    public static native int signal(int signal, int threadId);
    public static native int openDevice(String path);
    public static native int modemLines(int fd, int set, int clear);
    /** In hundredths of a second (root only). */
    public static native int closingWait(int fd, int centiseconds);
    /** Fork and exec of `path`, handing on what is not close-on-exec; its pid, or -1. */
    public static native int spawn(String path);
    /** Kills and reaps a child of spawn(). */
    public static native int endChild(int pid);
    /** Takes all but `free` descriptor numbers, for the next opens to meet EMFILE; release() gives them back. */
    public static native void leaveFree(int free);
    public static native void release();
    /** Makes a FIFO; with a reader, returns the descriptor of one that never reads, its pipe a page. */
    public static native int fifo(String path, boolean reader);

    /** The program spawn() starts, beside the libraries: it holds what it was handed until killed. */
    public static final String CHILD = System.getProperty("java.library.path").split(":")[0] + "/kit_child";

    /** The record that SerConfigure's codes stand for, in the order of termios(). */
    public static int[] line(int rate, int dataBits, int stopBits, int parity, int handshake) {
        int[] p = PARITIES[parity >= 1 && parity <= 4 ? parity : 0];
        int mask = handshake == 1 ? 0xC0 : handshake == 2 ? 0x30 : handshake;
        int iflag = p[0] | ((mask & 0x40) != 0 ? IXOFF : 0) | ((mask & 0x80) != 0 ? IXON : 0);
        int cflag = CREAD | CLOCAL | SIZES[dataBits] | (stopBits == 1 ? CSTOPB : 0) | p[1] | ((mask & 0x30) != 0 ? CRTSCTS : 0);
        return new int[] {iflag, 0, cflag | SPEEDS[rate], 0, SPEEDS[rate], SPEEDS[rate], 1, 0, 0x11, 0x13};
    }

    /** The line of fd, as its driver reads it back, is that record but for the c_cflag bits the driver rewrites. */
    public static void expectLine(int fd, int[] line, int rewritten, String what) {
        int[] got = termios(fd), want = line.clone();
        got[CFLAG] &= ~rewritten;
        want[CFLAG] &= ~rewritten;
        Check.equal(Arrays.stream(want).mapToObj(Integer::toHexString).toList(),
                Arrays.stream(got).mapToObj(Integer::toHexString).toList(), what + " (termios fields in hex)");
    }

    /** The application's own SIGCONT handler, set through the JVM's signal API; each signal it sees releases a permit. */
    public static Semaphore handleContinue() throws Exception {
        Semaphore seen = new Semaphore(0);
        Class<?> signal = Class.forName("sun.misc.Signal"), handler = Class.forName("sun.misc.SignalHandler");
        Object onSignal = java.lang.reflect.Proxy.newProxyInstance(Pty.class.getClassLoader(), new Class<?>[] {handler}, (p, m, a) -> {
            seen.release();  // handle(), the one method the JVM calls
            return null;
        });
        signal.getMethod("handle", signal, handler).invoke(null, signal.getConstructor(String.class).newInstance("CONT"), onSignal);
        return seen;
    }

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
