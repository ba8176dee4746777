// The library frame: the port table and the other library-wide state that Java callers share,
// the result codes, the banner and the continue-signal flag.
#pragma once

#include <jni.h>

#include <atomic>
#include <cstdint>

#define PELLUSK_EXPORT extern "C" __attribute__((visibility("default")))

namespace pellusk {

inline constexpr int kPortSlots = 128;
inline constexpr int kNoDescriptor = -1;  // a free slot

// Result codes. The 5000 series means different things in different methods, so each use
// has its own name; the method that returns it tells them apart.
namespace code {
inline constexpr int kOk = 0;
inline constexpr int kSlotTaken = 1000;
inline constexpr int kBadPortNumber = 1003;
inline constexpr int kNoSuchDevice = 1004;  // open() gave ENODEV
inline constexpr int kNoFreeSlot = 1005;
inline constexpr int kAccessDenied = 1006;  // EACCES
inline constexpr int kDeviceBusy = 1007;    // EBUSY
inline constexpr int kNoSuchFile = 1008;    // ENOENT
inline constexpr int kJavaError = 5000;     // a JNI lookup or call failed; its error is pending
inline constexpr int kBadName = 5001;       // thrown with "Port device name not valid"
inline constexpr int kInputSpeed = 5001;    // cfsetispeed refused the speed
inline constexpr int kOutputSpeed = 5002;   // cfsetospeed refused the speed
inline constexpr int kApplySetting = 5003;  // tcsetattr refused the setting
inline constexpr int kFlushInput = 5004;    // tcflush of pending input failed
}  // namespace code

inline bool isSlot(int slot) {
    return slot >= 0 && slot < kPortSlots;
}

// The descriptor held by a slot, or kNoDescriptor for a free slot and for any number outside
// the table, so that a bad slot argument can never index past it.
int portDescriptor(int slot);

// A call's use of a slot's descriptor, for as long as the call acts on it. Closing the slot
// frees it at once for every later call, but the descriptor itself is closed by whoever lets go
// of it last: Linux does not wake a poll() when another thread closes its descriptor, and a
// number closed under a waiting receive could be handed to the next open, whose bytes that
// receive would then take. Taking and letting go are one atomic step each, with no lock.
class PortHold {
  public:
    explicit PortHold(int slot);
    ~PortHold();
    PortHold(const PortHold&) = delete;
    PortHold& operator=(const PortHold&) = delete;

    // kNoDescriptor when the slot was free: every system call on it then fails with EBADF.
    int fd() const { return fd_; }
    // False once the slot has been closed since the hold was taken.
    bool stillOpen() const;

  private:
    friend class SlotClaim;
    PortHold(int slot, int fd) : slot_(slot), fd_(fd) {}

    int slot_;
    int fd_;
};

// An open's claim on a slot. The port table has no lock: a slot is claimed with one atomic
// step, only from the free state, so two opens never take the same slot, and a slot whose
// descriptor is still in use or still being closed is not free. Nothing but the claim's owner
// touches a claimed slot until it is occupied or given back.
class SlotClaim {
  public:
    // Claims the slot if it is free; claimed() says whether it was.
    explicit SlotClaim(int slot);
    // Claims the lowest free slot, if any.
    SlotClaim();
    // Gives the slot back unless it was occupied.
    ~SlotClaim();
    SlotClaim(const SlotClaim&) = delete;
    SlotClaim& operator=(const SlotClaim&) = delete;

    bool claimed() const { return slot_ >= 0; }
    int slot() const { return slot_; }

    // Puts the descriptor into the slot, which holds it until closeSlot, and returns the
    // opener's own hold on it, taken in the same step: the port cannot be closed and another
    // opened in its slot before the opener has finished setting it up.
    PortHold occupy(int fd);

  private:
    int slot_ = -1;
};

// Frees an open slot at once. Returns close()'s result when no call still uses the descriptor,
// else 0 (the last such call closes it); -1 with EBADF for a free slot. The close runs without
// any lock, and the slot is not given to a new open until it has returned.
int closeSlot(int slot);

// Prints the banner the first time it is called in the process.
void showBanner();

// Installs the continue-signal handler (again); 0 or -1 from sigaction.
int installContinueHandler();

inline std::atomic_ref<std::int32_t> atomicRef(std::int32_t& word) {
    return std::atomic_ref<std::int32_t>(word);
}

}  // namespace pellusk

// The library-wide variables, exported under their own names.
PELLUSK_EXPORT std::int32_t hSerPort[pellusk::kPortSlots];
PELLUSK_EXPORT std::int32_t tmoRx[pellusk::kPortSlots];
PELLUSK_EXPORT std::int32_t tmoTx[pellusk::kPortSlots];
PELLUSK_EXPORT std::int32_t firstTime;
PELLUSK_EXPORT jclass ioEx;
PELLUSK_EXPORT std::int32_t bannerShown;
PELLUSK_EXPORT std::int32_t gotContinueSignal;
PELLUSK_EXPORT const std::int32_t verLib;
PELLUSK_EXPORT const char* libVer;

PELLUSK_EXPORT void ShowBanner(JNIEnv* env);
PELLUSK_EXPORT void sigContinueHandler(int signalNumber);
PELLUSK_EXPORT jint JNICALL Java_Quorvia_SerialPortLocal_SerGetLibVer(JNIEnv* env, jobject self);
