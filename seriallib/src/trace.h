// The call trace for field diagnosis. With PELLUSK_TRACE set to "stderr" or to a file path,
// every native method writes one line when it returns: the monotonic time it started, the
// thread, the method, the slot and the arguments that matter, the result, the errno name when
// it failed, how long it took, and the first bytes a transfer moved. Each export wraps its body
// in one Call; the plain functions know nothing of it.
//
// The line is built in a buffer on the stack and written under a lock held only around
// non-blocking writes, so lines of many threads never mix and nothing is allocated. Every line
// that arrives is whole: a line that a terminal or socket took only in part is finished before
// any other is begun. A line that cannot be written (the target is full, would block, or is not
// open) is counted, and the next line written ends with " lost=N", the lines lost before it. A
// target that cannot be opened (a FIFO nobody reads yet, no descriptor free) is tried again at
// most once a second. The trace never changes a result or holds up a call, and the errno that
// the call left is restored after the write. Unset, a call costs one relaxed load and a branch:
// the variable is read by the first call of the process; calls of other threads meanwhile go
// untraced, and count as lost.
//
// A leaf: it knows no concern of the library; the exports hand it what they hold.
#pragma once

#include <time.h>

#include <atomic>
#include <climits>
#include <cstdint>

namespace pellusk::trace {

inline constexpr std::int32_t kUnknown = 0, kStarting = 1, kOff = 2, kOn = 3, kRetry = 4;
// kUnknown until the first call of the process has looked at the variable (and opened the file);
// kRetry while a target that could not be opened waits for its next try.
extern std::int32_t state;

// The first call's look at PELLUSK_TRACE, or a later try to open its target; true when the
// trace is on. A call that comes while another thread opens the target gets false at once.
bool start();

// The unload's: closes the target (never standard error itself); no line is written after.
void stop();

inline bool on() {
    const std::int32_t now = std::atomic_ref<std::int32_t>(state).load(std::memory_order_relaxed);
    if (now == kOn) return true;
    if (now == kOff) return false;
    return start();
}

inline constexpr int kNoSlot = INT_MIN;
inline constexpr int kMaxArgs = 8;
inline constexpr int kMaxText = 64;
inline constexpr int kMaxData = 16;

// One traced native call, from its construction to its destruction, which writes the line. The
// result goes through result() or one of its kinds, inside the same full expression as the call:
//     return trace::Call("SerClosePort", slot).result(closePort(slot));
// C++17 evaluates the object before the argument, so the clock starts before the body runs.
class Call {
  public:
    explicit Call(const char* method, int slot = kNoSlot) : method_(method), slot_(slot) {
        if (on()) begin();
    }
    ~Call() {
        if (active_) end();
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    Call& arg(const char* name, long value) {
        if (active_ && argCount_ < kMaxArgs) args_[argCount_++] = {name, value};
        return *this;
    }
    // Bytes that Java passed as a name, shown with anything but printable ASCII escaped.
    Call& text(const char* name, const char* bytes, int length);
    // The first of the bytes a transfer moved.
    Call& data(const void* bytes, int count);

    // A count or value: the call failed when it is negative. `thrown`: a Java exception is
    // pending.
    int result(int value, bool thrown = false) {
        if (active_) finish(value, value < 0, thrown);
        return value;
    }
    // A result code: the call failed unless it is 0.
    int code(int value, bool thrown = false) {
        if (active_) finish(value, value != 0, thrown);
        return value;
    }

  private:
    struct Arg {
        const char* name;
        long value;
    };

    void begin();
    void finish(int value, bool failed, bool thrown);
    void end();

    const char* method_;
    int slot_;
    bool active_ = false;
    // Set only while active.
    timespec start_, finish_;
    int result_, error_;
    bool finished_, failed_, thrown_;
    Arg args_[kMaxArgs];
    int argCount_;
    const char* textName_;
    int textAt_;  // the number of arguments before it
    char text_[kMaxText];
    int textLength_;
    unsigned char data_[kMaxData];
    int dataCount_;
};

}  // namespace pellusk::trace
