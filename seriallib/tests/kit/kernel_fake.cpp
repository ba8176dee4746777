// Test code: the kernel side that these machines cannot provide, preloaded (LD_PRELOAD) into a
// test JVM. It answers modem-line requests and breaks on the devices a test adopts, the
// card-services requests on devices of one chosen major, and opens of /proc files a test
// redirects; it records the calls the card slot lookup makes on its nodes. Everything else
// goes to the real C library untouched, since the JVM opens and controls many files itself.
// The same file is also loaded as the JNI library of testkit.KernelFake, which steers it.
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

struct AdoptedLines {
    dev_t device;
    int word;
};

struct Redirect {
    char from[128];
    char to[256];  // empty: the file is missing
};

pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
AdoptedLines adopted[8];
int adoptedCount = 0;
int cardMajor = -1;
bool suspended[256];
Redirect redirects[4];
int redirectCount = 0;
int plantKind = 0;  // what the next card node mknod puts there instead: 1 symlink, 2 other device
char callLog[16384];
std::size_t logLength = 0;

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
    if (logLength < sizeof callLog) {
        int n = vsnprintf(callLog + logLength, sizeof callLog - logLength, format, args);
        if (n > 0) logLength += static_cast<std::size_t>(n);
        if (logLength > sizeof callLog) logLength = sizeof callLog;
    }
    va_end(args);
}

const char* outcome(int result, int error) {
    return result >= 0 ? "ok" : strerrorname_np(error);
}

bool isCardNode(const char* path) {
    return path != nullptr && strstr(path, "/cc-") != nullptr;
}

bool rdevOf(int fd, dev_t& device) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    device = st.st_rdev;
    return true;
}

AdoptedLines* adoptedDevice(dev_t device) {
    for (int i = 0; i < adoptedCount; ++i) {
        if (adopted[i].device == device) return &adopted[i];
    }
    return nullptr;
}

AdoptedLines* adoptedFor(int fd) {
    dev_t device;
    return rdevOf(fd, device) ? adoptedDevice(device) : nullptr;
}

// Records a call on a card node and its outcome, leaving errno as the call left it.
void noteCardCall(const char* call, const char* path, int result) {
    if (!isCardNode(path)) return;
    const int error = errno;
    {
        Lock lock;
        note("%s %s = %s\n", call, path, outcome(result, error));
    }
    errno = error;
}

// -2 when the request is not ours to answer.
int answerIoctl(int fd, unsigned long request, void* arg) {
    Lock lock;
    if (request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC) {
        AdoptedLines* lines = adoptedFor(fd);
        if (lines == nullptr) return -2;
        int* word = static_cast<int*>(arg);
        if (request == TIOCMGET) {
            note("TIOCMGET\n");
            *word = lines->word;
        } else if (request == TIOCMBIS) {
            note("TIOCMBIS 0x%x\n", *word);
            lines->word |= *word;
        } else {
            note("TIOCMBIC 0x%x\n", *word);
            lines->word &= ~*word;
        }
        return 0;
    }
    if (request == kSuspendCard || request == kResumeCard || request == kCardStatus) {
        dev_t device;
        if (cardMajor < 0 || !rdevOf(fd, device) || static_cast<int>(major(device)) != cardMajor) {
            return -2;
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
    return -2;
}

const char* redirected(const char* path) {
    Lock lock;
    for (int i = 0; i < redirectCount; ++i) {
        if (strcmp(path, redirects[i].from) == 0) {
            note("read %s\n", path);
            return redirects[i].to;
        }
    }
    return nullptr;
}

int openHook(const char* name, const char* path, int flags, va_list args) {
    const bool needsMode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    const mode_t mode = needsMode ? va_arg(args, mode_t) : 0;
    auto realOpen = real<int (*)(const char*, int, ...)>(name);
    if (path != nullptr) {
        if (const char* target = redirected(path)) {
            if (*target == '\0') {
                errno = ENOENT;
                return -1;
            }
            return realOpen(target, flags, mode);
        }
    }
    const int fd = realOpen(path, flags, mode);
    noteCardCall("open", path, fd);
    return fd;
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

extern "C" int mknod(const char* path, mode_t mode, dev_t device) noexcept {
    auto realMknod = real<int (*)(const char*, mode_t, dev_t)>("mknod");
    if (!isCardNode(path)) return realMknod(path, mode, device);
    Lock lock;
    // A planted file takes the place of the node in the first directory where one can be made.
    int result = -1;
    if (plantKind == 1) {
        result = symlink("/dev/null", path);
        if (result == 0) note("planted a symlink at %s\n", path);
    } else if (plantKind == 2) {
        // /dev/zero, or /dev/null in its place: a device that opens, but not the one asked for.
        const dev_t other = makedev(1, minor(device) == 5 ? 3 : 5);
        result = realMknod(path, mode, other);
        if (result == 0) note("planted %u:%u at %s\n", major(other), minor(other), path);
    }
    if (result == 0) {
        plantKind = 0;
    } else {
        result = realMknod(path, mode, device);
    }
    const int error = errno;
    note("mknod %s %u:%u = %s\n", path, major(device), minor(device), outcome(result, error));
    errno = error;
    return result;
}

extern "C" int unlink(const char* path) noexcept {
    const int result = real<int (*)(const char*)>("unlink")(path);
    noteCardCall("unlink", path, result);
    return result;
}

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    const int answer = answerIoctl(fd, request, arg);
    if (answer != -2) return answer;
    return real<int (*)(int, unsigned long, ...)>("ioctl")(fd, request, arg);
}

extern "C" int tcsendbreak(int fd, int duration) noexcept {
    {
        Lock lock;
        if (adoptedFor(fd) != nullptr) {
            note("break %d\n", duration);
            return 0;
        }
    }
    return real<int (*)(int, int)>("tcsendbreak")(fd, duration);
}

// --- Steering, for testkit.KernelFake ----------------------------------------------------------

namespace {

void copyString(JNIEnv* env, jstring from, char* to, std::size_t size) {
    to[0] = '\0';
    if (from == nullptr) return;
    const char* chars = env->GetStringUTFChars(from, nullptr);
    snprintf(to, size, "%s", chars);
    env->ReleaseStringUTFChars(from, chars);
}

// The device number of the file a test names.
bool deviceOf(JNIEnv* env, jstring path, dev_t& device) {
    char name[256];
    copyString(env, path, name, sizeof name);
    struct stat st;
    if (stat(name, &st) != 0) return false;
    device = st.st_rdev;
    return true;
}

}  // namespace

// True when this copy is the one the process was started with, so its hooks are live.
KIT_EXPORT jboolean JNICALL Java_testkit_KernelFake_preloaded(JNIEnv*, jclass) {
    return dlsym(RTLD_DEFAULT, "tcsendbreak") == reinterpret_cast<void*>(&tcsendbreak);
}

KIT_EXPORT jint JNICALL Java_testkit_KernelFake_adoptLines(JNIEnv* env, jclass, jstring path,
                                                           jint word) {
    dev_t device;
    if (!deviceOf(env, path, device)) return -1;
    Lock lock;
    if (AdoptedLines* lines = adoptedDevice(device)) {
        lines->word = word;
    } else if (adoptedCount < 8) {
        adopted[adoptedCount++] = {device, word};
    } else {
        return -1;
    }
    return 0;
}

KIT_EXPORT jint JNICALL Java_testkit_KernelFake_lines(JNIEnv* env, jclass, jstring path) {
    dev_t device;
    if (!deviceOf(env, path, device)) return -1;
    Lock lock;
    const AdoptedLines* lines = adoptedDevice(device);
    return lines != nullptr ? lines->word : -1;
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_releaseLines(JNIEnv*, jclass) {
    Lock lock;
    adoptedCount = 0;
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_redirect(JNIEnv* env, jclass, jstring from,
                                                         jstring to) {
    Redirect entry;
    copyString(env, from, entry.from, sizeof entry.from);
    copyString(env, to, entry.to, sizeof entry.to);
    Lock lock;
    for (int i = 0; i < redirectCount; ++i) {
        if (strcmp(redirects[i].from, entry.from) == 0) {
            redirects[i] = entry;
            return;
        }
    }
    if (redirectCount < 4) redirects[redirectCount++] = entry;
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_answerCards(JNIEnv*, jclass, jint majorNumber) {
    Lock lock;
    cardMajor = majorNumber;
}

KIT_EXPORT void JNICALL Java_testkit_KernelFake_plant(JNIEnv*, jclass, jint kind) {
    Lock lock;
    plantKind = kind;
}

KIT_EXPORT jstring JNICALL Java_testkit_KernelFake_takeLog(JNIEnv* env, jclass) {
    char copy[sizeof callLog + 1];
    {
        Lock lock;
        memcpy(copy, callLog, logLength);
        copy[logLength] = '\0';
        logLength = 0;
    }
    return env->NewStringUTF(copy);
}
