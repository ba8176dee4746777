// Test code: the kernel side that these machines cannot provide, preloaded (LD_PRELOAD) into a
// test JVM. It answers modem-line requests and breaks on the device a test adopts, the
// card-services requests on devices of one chosen major, and opens of /proc files a test
// redirects, and records those calls.
// Everything else goes to the real C library untouched, since the JVM opens and controls many
// files itself. The same file is also the JNI library of testkit.KernelFake, which steers it.
#include <dlfcn.h>
#include <fcntl.h>
#include <jni.h>
#include <pthread.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#define KIT_EXPORT extern "C" JNIEXPORT

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
dev_t linesDevice = 0;  // the adopted device; 0 for none
int linesWord = 0;
int cardMajor = -1;
bool suspended[256];
// Plain arrays, which no static destructor frees under a JVM thread that is still running.
char redirects[2][2][256];  // {from, to}; an empty target: the file is missing
bool planted = false;       // the next card node gets another device
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
    int* word = static_cast<int*>(arg);
    if ((request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC) && device != 0 &&
        device == linesDevice) {
        if (request == TIOCMGET) *word = linesWord;
        if (request == TIOCMBIS) linesWord |= *word;
        if (request == TIOCMBIC) linesWord &= ~*word;
        note(request == TIOCMGET ? "TIOCMGET\n" : "%s 0x%x\n",
             request == TIOCMBIS ? "TIOCMBIS" : "TIOCMBIC", *word);
        return 0;
    }
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
        for (const auto& [from, to] : redirects) {
            if (path == nullptr || strcmp(from, path) != 0) continue;
            note("read %s\n", path);
            if (*to != '\0') return realOpen(to, flags, mode);
            errno = ENOENT;
            return -1;
        }
    }
    return realOpen(path, flags, mode);
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

// A planted device (/dev/zero, or /dev/null in its place) opens, but is not the one asked for.
extern "C" int mknod(const char* path, mode_t mode, dev_t device) noexcept {
    if (planted && strstr(path, "/cc-") != nullptr) {
        planted = false;
        device = makedev(1, minor(device) == 5 ? 3 : 5);
    }
    return real<int (*)(const char*, mode_t, dev_t)>("mknod")(path, mode, device);
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    {
        Lock lock;
        if (answerIoctl(fd, request, arg) == 0) return 0;
    }
    return real<int (*)(int, unsigned long, ...)>("ioctl")(fd, request, arg);
}

extern "C" int tcsendbreak(int fd, int duration) noexcept {
    if (linesDevice == 0 || deviceOf(fd) != linesDevice)
        return real<int (*)(int, int)>("tcsendbreak")(fd, duration);
    note("break %d\n", duration);
    return 0;
}

// --- Steering, for testkit.KernelFake ----------------------------------------------------------

namespace {

void copyText(JNIEnv* env, jstring from, char (&to)[256]) {
    to[0] = '\0';
    if (from == nullptr) return;
    const char* chars = env->GetStringUTFChars(from, nullptr);
    snprintf(to, sizeof to, "%s", chars);
    env->ReleaseStringUTFChars(from, chars);
}

}  // namespace

KIT_EXPORT jboolean JNICALL Java_testkit_KernelFake_preloaded(JNIEnv*, jclass) {
    return dlsym(RTLD_DEFAULT, "tcsendbreak") == reinterpret_cast<void*>(&tcsendbreak);
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_adoptLines(JNIEnv* env, jclass, jstring path,
                                                           jint word) {
    char name[256];
    copyText(env, path, name);
    struct stat st;
    const bool found = stat(name, &st) == 0;
    linesDevice = found ? st.st_rdev : 0;
    linesWord = word;
}

KIT_EXPORT jint JNICALL Java_testkit_KernelFake_lines(JNIEnv*, jclass) {
    return linesWord;
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_redirect(JNIEnv* env, jclass, jstring from,
                                                         jstring to) {
    char name[256];
    copyText(env, from, name);
    Lock lock;
    for (auto& entry : redirects) {
        if (entry[0][0] == '\0' || strcmp(entry[0], name) == 0) {
            copyText(env, from, entry[0]);
            copyText(env, to, entry[1]);
            return;
        }
    }
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_answerCards(JNIEnv*, jclass, jint majorNumber) {
    cardMajor = majorNumber;
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
