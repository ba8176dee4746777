// Test kit for the Java tests: pseudo-terminals, termios read-back, signals, UART controls and
// calls into the library's exports, which Java itself cannot reach. Never part of the library.
#include <dlfcn.h>
#include <fcntl.h>
#include <jni.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#define KIT_EXPORT extern "C" JNIEXPORT

namespace {

// A signal restarts the whole wait: the storm's far ends wait only for bytes that are coming.
int pollFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    int ready;
    while ((ready = poll(&entry, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    return ready;
}

}  // namespace

// The line keeps the kernel's cooked default, so a test sees whatever setting the library gives it.
KIT_EXPORT jint JNICALL Java_testkit_Pty_openMaster(JNIEnv*, jclass) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd >= 0 && (grantpt(fd) != 0 || unlockpt(fd) != 0)) return close(fd), -1;
    return fd;
}

KIT_EXPORT jstring JNICALL Java_testkit_Pty_ptsName(JNIEnv* env, jclass, jint fd) {
    char name[128];
    return ptsname_r(fd, name, sizeof name) == 0 ? env->NewStringUTF(name) : nullptr;
}

KIT_EXPORT jint JNICALL Java_testkit_Pty_openDevice(JNIEnv* env, jclass, jstring path) {
    const char* chars = env->GetStringUTFChars(path, nullptr);
    const int fd = open(chars, O_RDWR | O_NOCTTY | O_NONBLOCK);
    env->ReleaseStringUTFChars(path, chars);
    return fd;
}

// {c_iflag, c_oflag, c_cflag, c_lflag, input speed, output speed, VMIN, VTIME, VSTART, VSTOP},
// or null when the device cannot be opened or read.
KIT_EXPORT jintArray JNICALL Java_testkit_Pty_termios(JNIEnv* env, jclass cls, jstring path) {
    const int fd = Java_testkit_Pty_openDevice(env, cls, path);
    termios t;
    const int got = fd < 0 ? -1 : tcgetattr(fd, &t);
    if (fd >= 0) close(fd);
    if (got != 0) return nullptr;
    const jint fields[] = {static_cast<jint>(t.c_iflag),
                           static_cast<jint>(t.c_oflag),
                           static_cast<jint>(t.c_cflag),
                           static_cast<jint>(t.c_lflag),
                           static_cast<jint>(cfgetispeed(&t)),
                           static_cast<jint>(cfgetospeed(&t)),
                           t.c_cc[VMIN],
                           t.c_cc[VTIME],
                           t.c_cc[VSTART],
                           t.c_cc[VSTOP]};
    jintArray result = env->NewIntArray(sizeof fields / sizeof fields[0]);
    if (result != nullptr)
        env->SetIntArrayRegion(result, 0, sizeof fields / sizeof fields[0], fields);
    return result;
}

KIT_EXPORT jint JNICALL Java_testkit_Pty_write(JNIEnv* env, jclass, jint fd, jbyteArray data,
                                               jint offset, jint count) {
    if (pollFor(fd, POLLOUT, 5000) <= 0) return -1;
    jbyte* bytes = env->GetByteArrayElements(data, nullptr);
    const ssize_t written = write(fd, bytes + offset, static_cast<size_t>(count));
    env->ReleaseByteArrayElements(data, bytes, JNI_ABORT);
    return static_cast<jint>(written);
}

KIT_EXPORT jint JNICALL Java_testkit_Pty_read(JNIEnv* env, jclass, jint fd, jbyteArray buffer,
                                              jint offset, jint count, jint timeoutMs) {
    const int ready = pollFor(fd, POLLIN, timeoutMs);
    if (ready <= 0) return ready;
    jbyte* bytes = env->GetByteArrayElements(buffer, nullptr);
    const ssize_t got = read(fd, bytes + offset, static_cast<size_t>(count));
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

// The signal to the whole process (the kernel picks a thread that does not block it), then to
// each listed thread, `rounds` times. A thread not started yet (id 0) or ended is passed over.
KIT_EXPORT jint JNICALL Java_testkit_Pty_signalStorm(JNIEnv* env, jclass, jintArray threads,
                                                     jint signal, jint rounds) {
    jint tids[64];
    const jsize count = env->GetArrayLength(threads);
    if (count > 64) return -1;
    env->GetIntArrayRegion(threads, 0, count, tids);
    jint sent = 0;
    for (jint round = 0; round < rounds; ++round) {
        if (kill(getpid(), signal) != 0) return -1;
        ++sent;
        for (jsize i = 0; i < count; ++i) {
            if (tids[i] <= 0) continue;
            if (syscall(SYS_tgkill, getpid(), tids[i], signal) == 0) {
                ++sent;
            } else if (errno != ESRCH) {
                return -1;
            }
        }
    }
    return sent;
}

// What the library has no method for, such as a UART's loopback bit and OUT1/OUT2, on a
// descriptor the caller keeps open (every open of a tty raises DTR and RTS again).
KIT_EXPORT jint JNICALL Java_testkit_Pty_modemLines(JNIEnv*, jclass, jint fd, jint set,
                                                    jint clear) {
    int word = 0;
    const bool done = (set == 0 || ioctl(fd, TIOCMBIS, &set) == 0) &&
                      (clear == 0 || ioctl(fd, TIOCMBIC, &clear) == 0) &&
                      ioctl(fd, TIOCMGET, &word) == 0;
    return done ? word : -1;
}

KIT_EXPORT jint JNICALL Java_testkit_Pty_closingWait(JNIEnv*, jclass, jint fd, jint centiseconds) {
    serial_struct port;
    if (ioctl(fd, TIOCGSERIAL, &port) != 0) return -1;
    port.closing_wait = static_cast<unsigned short>(centiseconds);
    if (ioctl(fd, TIOCSSERIAL, &port) != 0 || ioctl(fd, TIOCGSERIAL, &port) != 0) return -1;
    return port.closing_wait;
}

// Calls an export of the loaded library with int arguments, also where it declares a jboolean,
// so a test can pass values no Java boolean carries. With `jniPair` the export takes (env, class,
// ...), else (env, ...). Returns {Integer result, the Throwable it left pending (cleared) or null}.
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
    if (function == nullptr || count > 2) {
        env->ThrowNew(env->FindClass("java/lang/IllegalArgumentException"),
                      "no such export or arity");
        return nullptr;
    }
    jint a[2] = {0, 0};
    env->GetIntArrayRegion(arguments, 0, count, a);
    // Both C calling conventions here let a caller pass arguments the callee does not take.
    const jint result =
        jniPair ? reinterpret_cast<jint (*)(JNIEnv*, jobject, jint, jint)>(function)(env, nullptr,
                                                                                     a[0], a[1])
                : reinterpret_cast<jint (*)(JNIEnv*, jint, jint)>(function)(env, a[0], a[1]);
    jthrowable pending = env->ExceptionOccurred();
    env->ExceptionClear();
    jclass integer = env->FindClass("java/lang/Integer");
    jobject boxed = env->CallStaticObjectMethod(
        integer, env->GetStaticMethodID(integer, "valueOf", "(I)Ljava/lang/Integer;"), result);
    if (env->ExceptionCheck()) return nullptr;
    jobjectArray outcome = env->NewObjectArray(2, env->FindClass("java/lang/Object"), nullptr);
    env->SetObjectArrayElement(outcome, 0, boxed);
    env->SetObjectArrayElement(outcome, 1, pending);
    return outcome;
}
