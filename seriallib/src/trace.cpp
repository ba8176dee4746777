#include "trace.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace pellusk::trace {

std::int32_t state = kUnknown;

namespace {

// Written once, before the state turns kOn with a release store.
int traceFd = -1;
bool traceSocket = false;  // written to with send(), which can be told not to wait

// Far below PIPE_BUF: one write() of a line to a pipe is never split either. The last bytes are
// kept for the loss count and the newline.
constexpr std::size_t kLineSize = 768, kLineEnd = 32;

// Lines not written since the last one that was; lost before the target opened, too.
std::uint32_t linesLost = 0;
// The next try of a target that could not be opened, in milliseconds of the monotonic clock.
std::int64_t retryAt = 0;
constexpr std::int64_t kRetryMs = 1000;

// Held around the non-blocking writes of one line, and of the rest of a line cut short.
pthread_mutex_t writeLock = PTHREAD_MUTEX_INITIALIZER;
char tail[kLineSize];
std::size_t tailAt = 0, tailEnd = 0;

std::int64_t monotonicMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void countLost(std::uint32_t lines) {
    std::atomic_ref<std::uint32_t>(linesLost).fetch_add(lines, std::memory_order_relaxed);
}

// Under writeLock. True once all of it is written; `at` tells how much is.
bool writeOut(const char* text, std::size_t& at, std::size_t end) {
    while (at < end) {
        const ssize_t written =
            traceSocket ? send(traceFd, text + at, end - at, MSG_DONTWAIT | MSG_NOSIGNAL)
                        : ::write(traceFd, text + at, end - at);
        if (written <= 0) return false;
        at += static_cast<std::size_t>(written);
    }
    return true;
}

// Neither the open nor a write ever waits: a FIFO that nobody reads is refused at once (ENXIO),
// and a line that a full pipe or a stopped terminal would make wait is dropped.
int openTarget(const char* target) {
    if (target == nullptr || target[0] == '\0') return -1;
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    // Set at each open: a target opened again after stop() may be of another kind.
    traceSocket = false;
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
        if (length_ < limit_) text_[length_++] = c;
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
    // The line with its loss count, unless the rest of an earlier line is still to go, or the
    // target takes none of it; what the target took only in part is finished first next time.
    void write() {
        pthread_mutex_lock(&writeLock);
        if (tailAt == tailEnd || writeOut(tail, tailAt, tailEnd)) {
            auto lost = std::atomic_ref<std::uint32_t>(linesLost);
            const std::uint32_t missed = lost.exchange(0, std::memory_order_relaxed);
            const std::size_t body = length_;
            limit_ = kLineSize - 1;  // the end always fits
            if (missed != 0) {
                field("lost");
                unsigned_(missed, 1);
            }
            text_[length_++] = '\n';
            std::size_t at = 0;
            if (!writeOut(text_, at, length_)) {
                if (at == 0) {
                    length_ = body;
                    lost.fetch_add(missed + 1, std::memory_order_relaxed);
                } else {
                    tailEnd = length_ - at;
                    tailAt = 0;
                    std::memcpy(tail, text_ + at, tailEnd);
                }
            }
        } else {
            countLost(1);
        }
        pthread_mutex_unlock(&writeLock);
    }

  private:
    char text_[kLineSize];
    std::size_t length_ = 0;
    std::size_t limit_ = kLineSize - kLineEnd;
};

}  // namespace

bool start() {
    const int saved = errno;
    auto now = std::atomic_ref<std::int32_t>(state);
    std::int32_t seen = now.load(std::memory_order_acquire);
    const bool retry = seen == kRetry;
    if (retry && monotonicMs() < std::atomic_ref<std::int64_t>(retryAt).load()) {
        seen = kStarting;
    } else if ((seen == kUnknown || retry) &&
               now.compare_exchange_strong(seen, kStarting, std::memory_order_acquire)) {
        const char* target = std::getenv("PELLUSK_TRACE");
        if (target == nullptr || target[0] == '\0') {
            seen = kOff;
        } else {
            traceFd = openTarget(target);
            seen = traceFd >= 0 ? kOn : kRetry;
            if (seen == kRetry)
                std::atomic_ref<std::int64_t>(retryAt).store(monotonicMs() + kRetryMs);
        }
        now.store(seen, std::memory_order_release);
    }
    // This call's line is lost while the target is not open, also while another thread opens
    // it: the call goes untraced rather than wait for that, which no lock or spin could bound.
    if (seen != kOn && seen != kOff) countLost(1);
    errno = saved;
    return seen == kOn;
}

void stop() {
    if (std::atomic_ref<std::int32_t>(state).exchange(kOff) == kOn && traceFd != STDERR_FILENO)
        close(traceFd);
    traceFd = -1;
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

Call& Call::data(const void* bytes, int count) {
    if (!active_ || count <= 0) return *this;
    dataCount_ = count < kMaxData ? count : kMaxData;
    std::memcpy(data_, bytes, static_cast<std::size_t>(dataCount_));
    return *this;
}

void Call::finish(int value, bool failed, bool thrown) {
    clock_gettime(CLOCK_MONOTONIC, &finish_);
    error_ = errno;
    result_ = value;
    failed_ = failed;
    finished_ = true;
    thrown_ = thrown;
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
    line.write();
    errno = error;
}

}  // namespace pellusk::trace
