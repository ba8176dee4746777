/** The benchmark's native loops (libPelluskBench): the far end and the plain C baseline. */
final class FarEnd {
    static {
        System.loadLibrary("PelluskBench");
    }

    private FarEnd() {}

    static native int openRaw(String path);
    static native int close(int fd);
    static native long pump(int fd, long total, int block, boolean writing);
    static native long writeOneByOne(int fd, long count);
    static native long readOneByOne(int fd, long count);
    static native int awaitQueued(int fd, int count, int timeoutMs);
    static native int pinToCpu(int cpu);
}
