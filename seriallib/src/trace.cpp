#include "trace.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "timeouts.h"

namespace pellusk::trace {

std::int32_t state = kUnknown;

namespace {

// Written once, before the state turns kOn with a release store.
int traceFd = -1;
bool traceSocket = false;  // written to with send(), which can be told not to wait

// Far below PIPE_BUF: one write() of a line to a pipe is never split either.
constexpr std::size_t kLineSize = 768;

// Neither the open nor a write ever waits: a FIFO that nobody reads is refused at once (ENXIO),
// and a line that a full pipe or a stopped terminal would make wait is dropped.
int openTarget(const char* target) {
    if (target == nullptr || target[0] == '\0') return -1;
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (std::strcmp(target, "stderr") != 0) return open(target, kFlags | O_CREAT, 0644);
    // The JVM's own standard error is not made non-blocking under its writes. A file is written
    // through it as it is (a file does not block, and the JVM's writes share its offset); a
    // socket (a service's journal) through send(); a pipe or a terminal through a description of
    // its own, opened non-blocking.
    struct stat opened;
    if (fstat(STDERR_FILENO, &opened) != 0) return -1;
    if (S_ISREG(opened.st_mode)) return STDERR_FILENO;
    if (S_ISSOCK(opened.st_mode)) {
        traceSocket = true;
        return STDERR_FILENO;
    }
    return open("/proc/self/fd/2", kFlags);
}

#define PELLUSK_ERRNO(name) \
    { name, #name }
const struct {
    int error;
    const char* name;
} kErrnoNames[] = {PELLUSK_ERRNO(EPERM),  PELLUSK_ERRNO(ENOENT),   PELLUSK_ERRNO(ESRCH),
                   PELLUSK_ERRNO(EINTR),  PELLUSK_ERRNO(EIO),      PELLUSK_ERRNO(ENXIO),
                   PELLUSK_ERRNO(EBADF),  PELLUSK_ERRNO(EAGAIN),   PELLUSK_ERRNO(ENOMEM),
                   PELLUSK_ERRNO(EACCES), PELLUSK_ERRNO(EFAULT),   PELLUSK_ERRNO(EBUSY),
                   PELLUSK_ERRNO(EEXIST), PELLUSK_ERRNO(ENODEV),   PELLUSK_ERRNO(ENOTDIR),
                   PELLUSK_ERRNO(EISDIR), PELLUSK_ERRNO(EINVAL),   PELLUSK_ERRNO(ENFILE),
                   PELLUSK_ERRNO(EMFILE), PELLUSK_ERRNO(ENOTTY),   PELLUSK_ERRNO(ENOSPC),
                   PELLUSK_ERRNO(EROFS),  PELLUSK_ERRNO(EPIPE),    PELLUSK_ERRNO(ENAMETOOLONG),
                   PELLUSK_ERRNO(ELOOP),  PELLUSK_ERRNO(ETIMEDOUT)};
#undef PELLUSK_ERRNO

const char* errnoName(int error) {
    for (const auto& known : kErrnoNames) {
        if (known.error == error) return known.name;
    }
    return nullptr;
}

// A line being built: whatever does not fit is cut off, and the line still ends with '\n'.
class Line {
  public:
    void put(char c) {
        if (length_ < kLineSize - 1) text_[length_++] = c;
    }
    void put(const char* s) {
        while (*s != '\0') put(*s++);
    }
    void number(long long value) {
        unsigned long long magnitude = static_cast<unsigned long long>(value);
        if (value < 0) {
            put('-');
            magnitude = 0 - magnitude;
        }
        unsigned_(magnitude, 1);
    }
    // At least `digits` digits, zeros in front.
    void unsigned_(unsigned long long value, int digits) {
        char reversed[24];
        int n = 0;
        do {
            reversed[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 || n < digits);
        while (n > 0) put(reversed[--n]);
    }
    void hex(unsigned char byte) {
        put("0123456789abcdef"[byte >> 4]);
        put("0123456789abcdef"[byte & 0xF]);
    }
    // Printable ASCII as it is; a blank, a backslash and everything else as \xNN.
    void printable(char c) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte > ' ' && byte < 0x7F && byte != '\\') {
            put(c);
        } else {
            put("\\x");
            hex(byte);
        }
    }
    void field(const char* name) {
        put(' ');
        put(name);
        put('=');
    }
    void write(int fd) {
        text_[length_++] = '\n';
        // Dropped when it cannot be written at once: a short or failed write is not tried again.
        if (traceSocket) {
            (void)!send(fd, text_, length_, MSG_DONTWAIT | MSG_NOSIGNAL);
        } else {
            (void)!::write(fd, text_, length_);
        }
    }

  private:
    char text_[kLineSize];
    std::size_t length_ = 0;
};

}  // namespace

bool start() {
    const int saved = errno;
    auto now = std::atomic_ref<std::int32_t>(state);
    std::int32_t seen = kUnknown;
    if (now.compare_exchange_strong(seen, kStarting, std::memory_order_acquire)) {
        traceFd = openTarget(std::getenv("PELLUSK_TRACE"));
        seen = traceFd >= 0 ? kOn : kOff;
        now.store(seen, std::memory_order_release);
    }
    // Another thread's first call is opening the target: this call goes untraced rather than
    // wait for it, which no lock or spin could bound.
    errno = saved;
    return seen == kOn;
}

void Call::begin() {
    // on() read kOn with a relaxed load; this one pairs with its release store: traceFd is there.
    std::atomic_ref<std::int32_t>(state).load(std::memory_order_acquire);
    active_ = true;
    finished_ = failed_ = thrown_ = false;
    argCount_ = textLength_ = dataCount_ = 0;
    textName_ = nullptr;
    result_ = error_ = 0;
    clock_gettime(CLOCK_MONOTONIC, &start_);
    // The errno shown is then the call's own, not one left by an earlier call.
    errno = 0;
}

Call& Call::text(const char* name, const char* bytes, int length) {
    if (!active_) return *this;
    textName_ = name;
    textAt_ = argCount_;
    textLength_ = length < 0 ? 0 : (length > kMaxText ? kMaxText : length);
    std::memcpy(text_, bytes, static_cast<std::size_t>(textLength_));
    return *this;
}

Call& Call::receiveTimeout(int slot) {
    return active_ ? arg("timeout", pellusk::receiveTimeout(slot)) : *this;
}

void Call::finish(int value, bool failed, JNIEnv* env) {
    clock_gettime(CLOCK_MONOTONIC, &finish_);
    error_ = errno;
    result_ = value;
    failed_ = failed;
    finished_ = true;
    thrown_ = env != nullptr && env->ExceptionCheck();
}

int Call::byteSent(int value, jbyte byte) {
    result(value);
    if (active_ && value == 0) {
        data_[0] = static_cast<unsigned char>(byte);
        dataCount_ = 1;
    }
    return value;
}

int Call::byteReceived(int value) {
    result(value);
    if (active_ && value >= 0) {
        data_[0] = static_cast<unsigned char>(value);
        dataCount_ = 1;
    }
    return value;
}

int Call::transfer(JNIEnv* env, jbyteArray array, int value) {
    result(value);
    // The count moved never exceeds the array, which the call has checked; a pending Java error
    // forbids any further JNI call.
    if (active_ && value > 0 && array != nullptr && !env->ExceptionCheck()) {
        dataCount_ = value < kMaxData ? value : kMaxData;
        env->GetByteArrayRegion(array, 0, dataCount_, reinterpret_cast<jbyte*>(data_));
        errno = error_;
    }
    return value;
}

void Call::end() {
    const int error = finished_ ? error_ : errno;
    Line line;
    line.unsigned_(static_cast<unsigned long long>(start_.tv_sec), 1);
    line.put('.');
    line.unsigned_(static_cast<unsigned long long>(start_.tv_nsec / 1000), 6);
    line.field("tid");
    line.number(syscall(SYS_gettid));
    line.put(' ');
    line.put(method_);
    if (slot_ != kNoSlot) {
        line.field("slot");
        line.number(slot_);
    }
    // The arguments and the name in the order they came.
    for (int i = 0; i <= argCount_; ++i) {
        if (textName_ != nullptr && textAt_ == i) {
            line.field(textName_);
            for (int c = 0; c < textLength_; ++c) line.printable(text_[c]);
        }
        if (i == argCount_) break;
        line.field(args_[i].name);
        line.number(args_[i].value);
    }
    if (!finished_) {
        line.put(" result=?");
    } else {
        line.field("result");
        line.number(result_);
        if (failed_ && error_ != 0) {
            line.field("errno");
            if (const char* name = errnoName(error_)) {
                line.put(name);
            } else {
                line.number(error_);
            }
        }
        if (thrown_) line.put(" exception=thrown");
        const long long us = (finish_.tv_sec - start_.tv_sec) * 1000000LL +
                             (finish_.tv_nsec - start_.tv_nsec) / 1000;
        line.field("us");
        line.number(us);
    }
    if (dataCount_ > 0) {
        line.field("data");
        for (int i = 0; i < dataCount_; ++i) line.hex(data_[i]);
    }
    line.write(traceFd);
    errno = error;
}

}  // namespace pellusk::trace
