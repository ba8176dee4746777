// The port table: which slot holds which port, and the holds that calls take on a port so that a
// close never pulls its descriptor from under them; and the banner.
#pragma once

#include <atomic>
#include <cstdint>

#include "legacy_exports.h"

namespace pellusk {

inline constexpr int kNoDescriptor = -1;  // a free slot

inline bool isSlot(int slot) {
    return slot >= 0 && slot < kPortSlots;
}

// The descriptor held by a slot, or kNoDescriptor for a free slot and for any number outside
// the table, so that a bad slot argument can never index past it.
int portDescriptor(int slot);

// A call's use of a slot's port, for as long as the call acts on it. A close marks the slot
// closing in one atomic step, after which no call takes a hold; it then wakes every holder
// that waits (see wakeFd) and waits itself until the last has let go, and only then closes the
// descriptor: a number closed under a call could be handed to the next open, whose bytes or
// line that call would then take. Taking and letting go are one atomic step each, with no lock.
class PortHold {
  public:
    explicit PortHold(int slot);
    ~PortHold();
    PortHold(const PortHold&) = delete;
    PortHold& operator=(const PortHold&) = delete;

    // kNoDescriptor when the slot was free or closing: every system call on it then fails with
    // EBADF, and the slot is -1.
    int slot() const { return slot_; }
    int fd() const { return fd_; }
    // The port's wake: an eventfd that the close makes readable and nobody drains, so that
    // every wait of this open, current or later, ends at once.
    int wakeFd() const { return wake_; }
    // True once a close of the port has begun.
    bool closing() const;
    // True while a break of this port is on the line (see PortMark).
    bool breaking() const;

  private:
    friend PortHold occupySlot(int slot, int fd, int wakeFd);
    PortHold(int slot, int fd, int wake) : slot_(slot), fd_(fd), wake_(wake) {}

    int slot_;
    int fd_;
    int wake_;
};

// True when the slot holds no descriptor (and none is being put in or closed): a look before
// an open, which occupySlot makes again. For kLowestFreeSlot: whether any slot is.
bool slotFree(int slot);

// Puts an open descriptor and its wake into the slot (or the lowest free one for a slot of -1)
// in one atomic step from the free state, and returns the opener's own hold on it, so that the
// port cannot be closed and another opened in its slot before the opener has set it up. A slot
// is taken only once there is a descriptor to put in it: an open that fails never shows its
// slot taken. The hold's slot is -1 when no slot was free.
PortHold occupySlot(int slot, int fd, int wakeFd);

// Closes an open slot: no call takes a hold from the first step on, waiting calls are woken,
// and once the last holder has let go both descriptors are closed here and the slot is free.
// In a process forked from the opener, whose holders and wake are the opener's, it closes the
// process's copies of the descriptors and frees the slot, nothing more.
// Returns close()'s result; -1 with EBADF for a free slot, one outside the table, and one
// that another close is closing. Waits only for holders, which return within milliseconds
// once woken, except a wait for the port's output to leave, which it ends by discarding it.
int closeSlot(int slot);

// Marks, while it lives, a call of the port in a state that other calls must see:
// - kWaitingForOutput, a call that may wait for the port's output to leave (a drain, or a break
//   before it starts), whose wait a close ends by discarding that output;
// - kBreakOnLine, a break on the line, during which sends fail with EAGAIN, as they did while the
//   kernel's own break held the port's write lock (bytes sent then would leave as nothing).
class PortMark {
  public:
    enum Kind { kWaitingForOutput, kBreakOnLine };
    PortMark(const PortHold& port, Kind kind);
    ~PortMark();
    PortMark(const PortMark&) = delete;
    PortMark& operator=(const PortMark&) = delete;

  private:
    std::int32_t* count_ = nullptr;
};

// Prints the banner the first time it is called in the process.
void showBanner();

template <typename T>
std::atomic_ref<T> atomicRef(T& value) {
    return std::atomic_ref<T>(value);
}

}  // namespace pellusk
