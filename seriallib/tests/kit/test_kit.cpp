// libPtyKit: what Java cannot reach for the tests (ptys, termios, signals, UART controls, raw
// calls into the library's exports). libKernelFake, preloaded, also answers card requests on one
// major and opens of one redirected file, and passes everything else to the C library.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <jni.h>
#include <link.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

#define KIT_EXPORT extern "C" JNIEXPORT

// A signal restarts the whole wait: the storm's far ends wait only for bytes that are coming.
static int pollFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    int ready;
    while ((ready = poll(&entry, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    return ready;
}

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

// In the order of testkit.Pty's indexes; null when the line cannot be read. A pty's master gives
// its slave's record.
KIT_EXPORT jintArray JNICALL Java_testkit_Pty_termios(JNIEnv* env, jclass, jint fd) {
    termios t;
    if (tcgetattr(fd, &t) != 0) return nullptr;
    const jint fields[] = {jint(t.c_iflag), jint(t.c_oflag),       jint(t.c_cflag),
                           jint(t.c_lflag), jint(cfgetispeed(&t)), jint(cfgetospeed(&t)),
                           t.c_cc[VMIN],    t.c_cc[VTIME],         t.c_cc[VSTART],
                           t.c_cc[VSTOP]};
    jintArray result = env->NewIntArray(10);
    if (result != nullptr) env->SetIntArrayRegion(result, 0, 10, fields);
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

// -1 stands for the process.
KIT_EXPORT jint JNICALL Java_testkit_Pty_signal(JNIEnv*, jclass, jint signal, jint thread) {
    return static_cast<jint>(thread < 0 ? kill(getpid(), signal)
                                        : syscall(SYS_tgkill, getpid(), thread, signal));
}

// The file of the library whose function is installed for SIGCONT now; null when none is.
KIT_EXPORT jstring JNICALL Java_testkit_Pty_continueHandlerFile(JNIEnv* env, jclass) {
    struct sigaction now;
    Dl_info where;
    if (sigaction(SIGCONT, nullptr, &now) != 0 ||
        dladdr(reinterpret_cast<void*>(now.sa_sigaction), &where) == 0) {
        return nullptr;
    }
    return env->NewStringUTF(where.dli_fname);
}

// The caller keeps the descriptor open: every open of a tty raises DTR and RTS again.
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

// A child started as a native library of the JVM would start one: fork and exec, with every
// descriptor that is not close-on-exec handed on (ProcessBuilder's children get none).
KIT_EXPORT jint JNICALL Java_testkit_Pty_spawn(JNIEnv* env, jclass, jstring path) {
    const char* program = env->GetStringUTFChars(path, nullptr);
    char* const argv[] = {const_cast<char*>(program), nullptr};
    pid_t child = -1;
    // posix_spawn returns once the exec has happened (or failed).
    const int error = posix_spawn(&child, program, nullptr, nullptr, argv, environ);
    env->ReleaseStringUTFChars(path, program);
    return error == 0 ? child : -1;
}

KIT_EXPORT jint JNICALL Java_testkit_Pty_endChild(JNIEnv*, jclass, jint child) {
    int status;
    return kill(child, SIGKILL) == 0 && waitpid(child, &status, 0) == child ? 0 : -1;
}

static rlimit savedLimit;
static int held[4096], heldCount = 0;

// Takes every free descriptor number but `free`, under a limit just above the highest in use,
// so that the process's next opens meet EMFILE, until release().
KIT_EXPORT void JNICALL Java_testkit_Pty_leaveFree(JNIEnv*, jclass, jint free) {
    int highest = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir)) highest = std::max(highest, atoi(entry->d_name));
    closedir(dir);
    getrlimit(RLIMIT_NOFILE, &savedLimit);
    const rlimit low{static_cast<rlim_t>(highest) + 16, savedLimit.rlim_max};
    setrlimit(RLIMIT_NOFILE, &low);
    while (heldCount < 4096 && (held[heldCount] = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0)
        ++heldCount;
    for (; free > 0; --free) close(held[--heldCount]);
}

KIT_EXPORT void JNICALL Java_testkit_Pty_release(JNIEnv*, jclass) {
    while (heldCount > 0) close(held[--heldCount]);
    setrlimit(RLIMIT_NOFILE, &savedLimit);
}

// A FIFO at `path`; with a reader, the descriptor of one that never reads, its pipe a page.
KIT_EXPORT jint JNICALL Java_testkit_Pty_fifo(JNIEnv* env, jclass, jstring path, jboolean reader) {
    const char* chars = env->GetStringUTFChars(path, nullptr);
    int fd = mkfifo(chars, 0600);
    if (fd == 0 && reader) fd = open(chars, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (reader && fd >= 0) fcntl(fd, F_SETPIPE_SZ, 4096);
    env->ReleaseStringUTFChars(path, chars);
    return fd;
}

// Int arguments also where the export declares a jboolean, to pass values no Java boolean
// carries. The Throwable the export left pending goes to thrown[0], its errno to error[0]. An
// exported variable is read.
KIT_EXPORT jint JNICALL Java_testkit_Native_call(JNIEnv* env, jclass, jstring library,
                                                 jstring symbol, jboolean jniPair,
                                                 jintArray arguments, jobjectArray thrown,
                                                 jintArray error) {
    const char* libraryPath = env->GetStringUTFChars(library, nullptr);
    void* handle = dlopen(libraryPath, RTLD_NOW | RTLD_NOLOAD);
    env->ReleaseStringUTFChars(library, libraryPath);
    const char* name = env->GetStringUTFChars(symbol, nullptr);
    void* function = handle != nullptr ? dlsym(handle, name) : nullptr;
    jint a[2] = {0, 0};
    env->GetIntArrayRegion(arguments, 0, env->GetArrayLength(arguments), a);
    if (function == nullptr)
        env->ThrowNew(env->FindClass("java/lang/IllegalArgumentException"), name);
    env->ReleaseStringUTFChars(symbol, name);
    if (env->ExceptionCheck()) return 0;
    Dl_info info;
    ElfW(Sym)* entry = nullptr;
    if (dladdr1(function, &info, reinterpret_cast<void**>(&entry), RTLD_DL_SYMENT) != 0 &&
        entry != nullptr && ELF64_ST_TYPE(entry->st_info) == STT_OBJECT)
        return *static_cast<jint*>(function);
    // Both C calling conventions here let a caller pass arguments the callee does not take.
    using WithClass = jint (*)(JNIEnv*, jobject, jint, jint);
    using Plain = jint (*)(JNIEnv*, jint, jint);
    const jint result = jniPair ? reinterpret_cast<WithClass>(function)(env, nullptr, a[0], a[1])
                                : reinterpret_cast<Plain>(function)(env, a[0], a[1]);
    const jint left = errno;  // what the call left, as a trace line would show it
    jthrowable pending = env->ExceptionOccurred();
    env->ExceptionClear();
    env->SetObjectArrayElement(thrown, 0, pending);
    env->SetIntArrayRegion(error, 0, 1, &left);
    return result;
}

// In libKernelFake alone: the JVM binds a native method to the first library that has it, and the
// fake's state must be the preloaded copy's.
#ifdef KIT_KERNEL_FAKE

namespace {

constexpr unsigned long kSuspendCard = 0x640C, kResumeCard = 0x640D, kCardStatus = 0xC00C6409;
constexpr std::uint32_t kSuspendedState = 0x2000;

struct CardStatus {
    std::uint8_t Function;
    std::uint32_t CardState;
    std::uint32_t SocketState;
};

// Recursive: a hook that holds it may note its call.
pthread_mutex_t mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
int cardMajor = -1;
bool suspended[256];
// Plain arrays, which no static destructor frees under a JVM thread that is still running.
char redirectFrom[256], redirectTo[256];  // an empty target: the file is missing
bool planted = false;                     // the next card node gets another device
bool cardAtZero = false;                  // the next card node opens at descriptor 0
int breakRefusal = 0;                     // the errno the next TIOCSBRK fails with; 0: none
char callLog[16384];

struct Lock {
    Lock() { pthread_mutex_lock(&mutex); }
    ~Lock() { pthread_mutex_unlock(&mutex); }
};

template <typename F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void note(const char* format, ...) {
    va_list args;
    va_start(args, format);
    {
        Lock lock;
        const std::size_t used = strlen(callLog);
        vsnprintf(callLog + used, sizeof callLog - used, format, args);
    }
    va_end(args);
}

dev_t deviceOf(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) ? st.st_rdev : 0;
}

// -1 when the request is not the fake's to answer.
int answerIoctl(int fd, unsigned long request, void* arg) {
    const dev_t device = deviceOf(fd);
    if ((request != kSuspendCard && request != kResumeCard && request != kCardStatus) ||
        device == 0 || static_cast<int>(major(device)) != cardMajor) {
        return -1;
    }
    const unsigned socket = minor(device) & 0xFF;
    if (request == kCardStatus) {
        auto* status = static_cast<CardStatus*>(arg);
        note("DS_GET_STATUS %u function %u\n", socket, status->Function);
        status->CardState = suspended[socket] ? kSuspendedState : 0;
    } else {
        suspended[socket] = request == kSuspendCard;
        note("%s %u\n", request == kSuspendCard ? "DS_SUSPEND_CARD" : "DS_RESUME_CARD", socket);
    }
    return 0;
}

int openHook(const char* name, const char* path, int flags, va_list args) {
    const mode_t mode =
        (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, mode_t) : 0;
    auto realOpen = real<int (*)(const char*, int, ...)>(name);
    {
        Lock lock;
        if (path != nullptr && strcmp(path, redirectFrom) == 0) {
            note("read %s\n", path);
            if (*redirectTo != '\0') return realOpen(redirectTo, flags, mode);
            errno = ENOENT;
            return -1;
        }
    }
    const int fd = realOpen(path, flags, mode);
    // As where standard input is closed: the JVM puts /dev/null there as soon as one of its own
    // opens takes 0, so only this makes the library's next open take it.
    if (fd <= 0 || strstr(path, "/cc-") == nullptr || !std::exchange(cardAtZero, false)) return fd;
    const int moved = dup3(fd, 0, flags & O_CLOEXEC);
    close(fd);
    return moved;
}

}  // namespace

#define KIT_OPEN_HOOK(function)                                 \
    extern "C" int function(const char* path, int flags, ...) { \
        va_list args;                                           \
        va_start(args, flags);                                  \
        const int fd = openHook(#function, path, flags, args);  \
        va_end(args);                                           \
        return fd;                                              \
    }
KIT_OPEN_HOOK(open)
KIT_OPEN_HOOK(open64)

// A planted device (/dev/zero, or /dev/null in its place) opens, but is not the one asked for. It
// takes the place of the node in the first directory where one can be made.
extern "C" int mknod(const char* path, mode_t mode, dev_t device) noexcept {
    auto realMknod = real<int (*)(const char*, mode_t, dev_t)>("mknod");
    if (!planted || strstr(path, "/cc-") == nullptr) return realMknod(path, mode, device);
    const int result = realMknod(path, mode, makedev(1, minor(device) == 5 ? 3 : 5));
    if (result == 0) planted = false;
    return result;
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    {
        Lock lock;
        if (answerIoctl(fd, request, arg) == 0) return 0;
        // A driver that refuses the break: with EOPNOTSUPP where its device sends none (the
        // kernel's own tcsendbreak takes that for done), or with another errno as it fails.
        if (request == TIOCSBRK && breakRefusal != 0) {
            errno = std::exchange(breakRefusal, 0);
            return -1;
        }
    }
    // Whether a break the library starts is also ended: no other call tells the line's state.
    if (request == TIOCSBRK || request == TIOCCBRK)
        note(request == TIOCSBRK ? "TIOCSBRK\n" : "TIOCCBRK\n");
    // A pty (its slaves' majors are 136 to 143) has no modem lines: which way one was moved
    // shows only in the request.
    if (request == TIOCMBIS || request == TIOCMBIC) {
        const unsigned deviceMajor = major(deviceOf(fd));
        if (deviceMajor >= 136 && deviceMajor <= 143)
            note("%s %d\n", request == TIOCMBIS ? "TIOCMBIS" : "TIOCMBIC", *static_cast<int*>(arg));
    }
    return real<int (*)(int, unsigned long, ...)>("ioctl")(fd, request, arg);
}

static void copyText(JNIEnv* env, jstring from, char (&to)[256]) {
    to[0] = '\0';
    if (from == nullptr) return;
    const char* chars = env->GetStringUTFChars(from, nullptr);
    snprintf(to, sizeof to, "%s", chars);
    env->ReleaseStringUTFChars(from, chars);
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_redirect(JNIEnv* env, jclass, jstring from,
                                                         jstring to) {
    Lock lock;
    copyText(env, from, redirectFrom);
    copyText(env, to, redirectTo);
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_answerCards(JNIEnv*, jclass, jint majorNumber) {
    cardMajor = majorNumber;
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_cardAtZero(JNIEnv*, jclass) {
    cardAtZero = true;
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_refuseBreak(JNIEnv*, jclass, jint error) {
    Lock lock;
    breakRefusal = error;
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_plant(JNIEnv*, jclass) {
    planted = true;
}

KIT_EXPORT jstring JNICALL Java_testkit_KernelFake_takeLog(JNIEnv* env, jclass) {
    char taken[sizeof callLog];
    {
        Lock lock;
        memcpy(taken, callLog, sizeof taken);
        callLog[0] = '\0';
    }
    return env->NewStringUTF(taken);
}
#endif
