// Native half of the benchmark: the far end of the pty pair, and the plain C loops that the
// library is measured against. Runs whole loops in C so that no JNI cost lands on the baseline.
#include <fcntl.h>
#include <jni.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#define BENCH_EXPORT extern "C" JNIEXPORT

namespace {

constexpr int kMaxBlock = 1 << 16;
constexpr unsigned char kFill = 0x55;  // no flow-control character, no line feed

long long nowNs() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

}  // namespace

// The slave of the pty opened blocking and raw, as a plain C program would use it.
BENCH_EXPORT jint JNICALL Java_FarEnd_openRaw(JNIEnv* env, jclass, jstring path) {
    const char* chars = env->GetStringUTFChars(path, nullptr);
    int fd = open(chars, O_RDWR | O_NOCTTY);
    env->ReleaseStringUTFChars(path, chars);
    if (fd < 0) return -1;
    termios t;
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

BENCH_EXPORT jint JNICALL Java_FarEnd_close(JNIEnv*, jclass, jint fd) {
    return close(fd);
}

// Moves `total` bytes in blocks of `block` with blocking read() or write() calls, resending
// after short writes: the bytes moved, less than total only on a failure.
BENCH_EXPORT jlong JNICALL Java_FarEnd_pump(JNIEnv*, jclass, jint fd, jlong total, jint block,
                                            jboolean writing) {
    static thread_local unsigned char buffer[kMaxBlock];
    if (block < 1 || block > kMaxBlock) return -1;
    memset(buffer, kFill, sizeof buffer);
    jlong moved = 0;
    while (moved < total) {
        const size_t want = static_cast<size_t>(total - moved < block ? total - moved : block);
        ssize_t n = writing ? write(fd, buffer, want) : read(fd, buffer, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        moved += n;
    }
    return moved;
}

// One byte per write() call; the bytes written.
BENCH_EXPORT jlong JNICALL Java_FarEnd_writeOneByOne(JNIEnv*, jclass, jint fd, jlong count) {
    const unsigned char byte = kFill;
    jlong done = 0;
    while (done < count && write(fd, &byte, 1) == 1) ++done;
    return done;
}

// One byte per read() call; the nanoseconds the `count` reads took, or -1.
BENCH_EXPORT jlong JNICALL Java_FarEnd_readOneByOne(JNIEnv*, jclass, jint fd, jlong count) {
    unsigned char byte;
    const long long start = nowNs();
    for (jlong i = 0; i < count; ++i) {
        if (read(fd, &byte, 1) != 1) return -1;
    }
    return nowNs() - start;
}

// Waits until at least `count` received bytes wait on the tty; 1 then, 0 after the timeout.
BENCH_EXPORT jint JNICALL Java_FarEnd_awaitQueued(JNIEnv*, jclass, jint fd, jint count,
                                                  jint timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; ++waited) {
        int queued = 0;
        if (ioctl(fd, FIONREAD, &queued) == 0 && queued >= count) return 1;
        usleep(1000);
    }
    return 0;
}

// Keeps the calling thread on one CPU, so that the side measured and the far end do not trade
// places from run to run; the pty's throughput swings widely with that placement otherwise.
BENCH_EXPORT jint JNICALL Java_FarEnd_pinToCpu(JNIEnv*, jclass, jint cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return sched_setaffinity(0, sizeof set, &set);
}
