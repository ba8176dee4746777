// Test kit for the Java tests: real pseudo-terminals and the termios record of a device,
// which Java itself cannot reach. Test code only; never part of the library.
#include <fcntl.h>
#include <jni.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#define KIT_EXPORT extern "C" JNIEXPORT

namespace {

constexpr int kTermiosFields = 10;

// Waits out the whole timeout across signals, counting it down: restarting it in full after
// each signal would never end under a steady rain of them.
jint pollFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long deadline = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + timeoutMs;
    int ready;
    while ((ready = poll(&entry, 1, timeoutMs)) < 0 && errno == EINTR) {
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = deadline - (now.tv_sec * 1000LL + now.tv_nsec / 1000000);
        timeoutMs = left > 0 ? static_cast<int>(left) : 0;
    }
    return ready;
}

}  // namespace

// A new pseudo-terminal master; its slave's name comes from ptsName. The line keeps the
// kernel's cooked default, so a test sees whatever setting the library gives it.
KIT_EXPORT jint JNICALL Java_testkit_Pty_openMaster(JNIEnv*, jclass) {
    int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    if (grantpt(fd) != 0 || unlockpt(fd) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

KIT_EXPORT jstring JNICALL Java_testkit_Pty_ptsName(JNIEnv* env, jclass, jint fd) {
    char name[128];
    if (ptsname_r(fd, name, sizeof name) != 0) return nullptr;
    return env->NewStringUTF(name);
}

// A serial device opened beside the library, without waiting for carrier.
KIT_EXPORT jint JNICALL Java_testkit_Pty_openDevice(JNIEnv* env, jclass, jstring path) {
    const char* chars = env->GetStringUTFChars(path, nullptr);
    int fd = open(chars, O_RDWR | O_NOCTTY | O_NONBLOCK);
    env->ReleaseStringUTFChars(path, chars);
    return fd;
}

// {c_iflag, c_oflag, c_cflag, c_lflag, input speed, output speed, VMIN, VTIME, VSTART, VSTOP},
// or null when the device cannot be opened or read.
KIT_EXPORT jintArray JNICALL Java_testkit_Pty_termios(JNIEnv* env, jclass cls, jstring path) {
    int fd = Java_testkit_Pty_openDevice(env, cls, path);
    if (fd < 0) return nullptr;
    termios t;
    int got = tcgetattr(fd, &t);
    close(fd);
    if (got != 0) return nullptr;
    const jint fields[kTermiosFields] = {static_cast<jint>(t.c_iflag),
                                         static_cast<jint>(t.c_oflag),
                                         static_cast<jint>(t.c_cflag),
                                         static_cast<jint>(t.c_lflag),
                                         static_cast<jint>(cfgetispeed(&t)),
                                         static_cast<jint>(cfgetospeed(&t)),
                                         t.c_cc[VMIN],
                                         t.c_cc[VTIME],
                                         t.c_cc[VSTART],
                                         t.c_cc[VSTOP]};
    jintArray result = env->NewIntArray(kTermiosFields);
    if (result != nullptr) env->SetIntArrayRegion(result, 0, kTermiosFields, fields);
    return result;
}

KIT_EXPORT jint JNICALL Java_testkit_Pty_write(JNIEnv* env, jclass, jint fd, jbyteArray data,
                                               jint offset, jint count) {
    if (pollFor(fd, POLLOUT, 5000) <= 0) return -1;
    jbyte* bytes = env->GetByteArrayElements(data, nullptr);
    ssize_t written = ::write(fd, bytes + offset, static_cast<size_t>(count));
    env->ReleaseByteArrayElements(data, bytes, JNI_ABORT);
    return static_cast<jint>(written);
}

// Reads what is there within the timeout: the count read, 0 on timeout, -1 on error.
KIT_EXPORT jint JNICALL Java_testkit_Pty_read(JNIEnv* env, jclass, jint fd, jbyteArray buffer,
                                              jint offset, jint count, jint timeoutMs) {
    int ready = pollFor(fd, POLLIN, timeoutMs);
    if (ready <= 0) return ready;
    jbyte* bytes = env->GetByteArrayElements(buffer, nullptr);
    ssize_t got = ::read(fd, bytes + offset, static_cast<size_t>(count));
    env->ReleaseByteArrayElements(buffer, bytes, 0);
    return static_cast<jint>(got);
}

KIT_EXPORT jint JNICALL Java_testkit_Pty_close(JNIEnv*, jclass, jint fd) {
    return close(fd);
}

KIT_EXPORT jint JNICALL Java_testkit_Pty_threadId(JNIEnv*, jclass) {
    return static_cast<jint>(syscall(SYS_gettid));
}

KIT_EXPORT jint JNICALL Java_testkit_Pty_signalThread(JNIEnv*, jclass, jint tid, jint signal) {
    return static_cast<jint>(syscall(SYS_tgkill, getpid(), tid, signal));
}

// `rounds` rounds of a signal storm: the signal to the whole process (the kernel picks a thread
// that does not block it), then to each listed thread. A listed thread that has not started
// (id 0) or has ended is passed over. The signals sent, or -1 when a send failed otherwise.
KIT_EXPORT jint JNICALL Java_testkit_Pty_signalStorm(JNIEnv* env, jclass, jintArray threads,
                                                     jint signal, jint rounds) {
    const jsize count = env->GetArrayLength(threads);
    jint tids[64];
    if (count > 64) return -1;
    env->GetIntArrayRegion(threads, 0, count, tids);
    const pid_t self = getpid();
    jint sent = 0;
    for (jint round = 0; round < rounds; ++round) {
        if (kill(self, signal) != 0) return -1;
        ++sent;
        for (jsize i = 0; i < count; ++i) {
            if (tids[i] <= 0) continue;  // not started yet
            if (syscall(SYS_tgkill, self, tids[i], signal) == 0) {
                ++sent;
            } else if (errno != ESRCH) {
                return -1;
            }
        }
    }
    return sent;
}

// Sets, then clears, modem-control bits (TIOCMBIS, TIOCMBIC) and returns the word TIOCMGET
// reads afterwards, or -1. It drives what the library has no method for, such as a UART's
// loopback bit (TIOCM_LOOP) and OUT1/OUT2. It takes a descriptor kept open by the caller since
// every open of a tty raises DTR and RTS again.
KIT_EXPORT jint JNICALL Java_testkit_Pty_modemLines(JNIEnv*, jclass, jint fd, jint set,
                                                    jint clear) {
    int word = 0;
    bool done = (set == 0 || ioctl(fd, TIOCMBIS, &set) == 0) &&
                (clear == 0 || ioctl(fd, TIOCMBIC, &clear) == 0) && ioctl(fd, TIOCMGET, &word) == 0;
    return done ? word : -1;
}

// Sets how long the driver's close() waits for unsent output (the closing wait, in hundredths of
// a second; root only); the value set, or -1. A UART driver's own setting, per port.
KIT_EXPORT jint JNICALL Java_testkit_Pty_closingWait(JNIEnv*, jclass, jint fd, jint centiseconds) {
    serial_struct port;
    if (ioctl(fd, TIOCGSERIAL, &port) != 0) return -1;
    port.closing_wait = static_cast<unsigned short>(centiseconds);
    if (ioctl(fd, TIOCSSERIAL, &port) != 0 || ioctl(fd, TIOCGSERIAL, &port) != 0) return -1;
    return port.closing_wait;
}

// --- Calling the library's exports the way Java cannot (testkit.Native) ------------------------

#include <dlfcn.h>

// Calls an export of the already loaded library with int arguments, also where the export
// declares a jboolean, so a test can hand it values no Java boolean can carry. With `jniPair`
// the export takes (env, class, ...), without it (env, ...). Returns {Integer result, the
// Throwable the export left pending or null}; the pending Throwable is cleared.
KIT_EXPORT jobjectArray JNICALL Java_testkit_Native_call(JNIEnv* env, jclass, jstring library,
                                                         jstring symbol, jboolean jniPair,
                                                         jintArray arguments) {
    const char* libraryPath = env->GetStringUTFChars(library, nullptr);
    void* handle = dlopen(libraryPath, RTLD_NOW | RTLD_NOLOAD);
    env->ReleaseStringUTFChars(library, libraryPath);
    const char* name = env->GetStringUTFChars(symbol, nullptr);
    void* function = handle != nullptr ? dlsym(handle, name) : nullptr;
    env->ReleaseStringUTFChars(symbol, name);
    const jsize count = env->GetArrayLength(arguments);
    if (function == nullptr || count > 2 || (count == 0 && !jniPair)) {
        env->ThrowNew(env->FindClass("java/lang/IllegalArgumentException"),
                      "no such export or arity");
        return nullptr;
    }
    jint a[2] = {0, 0};
    env->GetIntArrayRegion(arguments, 0, count, a);
    // Both C calling conventions of these machines let the caller pass arguments the export
    // does not take, so two signatures serve every arity.
    const jint result =
        jniPair ? reinterpret_cast<jint (*)(JNIEnv*, jobject, jint, jint)>(function)(env, nullptr,
                                                                                     a[0], a[1])
                : reinterpret_cast<jint (*)(JNIEnv*, jint, jint)>(function)(env, a[0], a[1]);
    jthrowable pending = env->ExceptionOccurred();
    if (pending != nullptr) env->ExceptionClear();
    jclass integer = env->FindClass("java/lang/Integer");
    jobject boxed = env->CallStaticObjectMethod(
        integer, env->GetStaticMethodID(integer, "valueOf", "(I)Ljava/lang/Integer;"), result);
    if (env->ExceptionCheck()) return nullptr;
    jobjectArray outcome = env->NewObjectArray(2, env->FindClass("java/lang/Object"), nullptr);
    env->SetObjectArrayElement(outcome, 0, boxed);
    env->SetObjectArrayElement(outcome, 1, pending);
    return outcome;
}
