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
// frees it at once, but the descriptor itself is closed by whoever lets go of it last: Linux
// does not wake a poll() when another thread closes its descriptor, and a number closed under
// a waiting receive could be handed to the next open, whose bytes that receive would then take.
// Taking and letting go are one atomic step each, with no lock.
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
    int slot_;
    int fd_;
};

// Serialises every change of the port table: the choice of a slot and the store of its
// descriptor happen under it, so two opens never take the same slot.
class PortTableLock {
  public:
    PortTableLock();
    ~PortTableLock();
    PortTableLock(const PortTableLock&) = delete;
    PortTableLock& operator=(const PortTableLock&) = delete;
};

// Only to be called with the PortTableLock held.
// A slot an open may take: free, with no call still using the descriptor it last held.
bool slotReusable(int slot);
int lowestFreeSlot();  // -1 when every slot is taken
// Puts the descriptor into a reusable slot, which holds it until releaseSlot.
void occupySlot(int slot, int fd);
// Frees an occupied slot; close()'s result when no call still uses the descriptor, else 0 and
// the last such call closes it.
int releaseSlot(int slot);

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
