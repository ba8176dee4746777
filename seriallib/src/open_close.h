// Opening a serial device into a slot of the port table, and closing it again.
#pragma once

#include <termios.h>

#include <cstddef>
#include <string_view>

namespace pellusk {

// A device path: at most 63 bytes and its terminating zero.
inline constexpr std::size_t kDevicePathSize = 64;

// Where an open puts its port: the lowest free slot (open by name) or one given slot.
inline constexpr int kLowestFreeSlot = -1;

struct OpenResult {
    int status;  // 0, or a failure; kFailed with open()'s errno (or one of the wake's) in `error`
    int slot;    // the slot taken, also when a setup step failed; -1 when none was
    int error;
};

// The raw 9600 bit/s, 8N1 setting every port starts with. Fails only when the platform refuses
// the speed: kSpeedRefused or kOutputSpeedRefused.
int fillInitialSetting(termios& setting);

// The device path of an open by number: the base name followed by the slot in decimal.
// False when it would not fit kDevicePathSize; `out` then holds an empty string.
bool formatNumberedPath(std::string_view baseName, int slot, char (&out)[kDevicePathSize]);

// Opens `path` into `slot` (or the lowest free slot for kLowestFreeSlot) and applies the initial
// setting. On a failed setup step the port stays open in its slot, as the result says.
OpenResult openPort(const char* path, int slot);

// Wakes and waits out the calls using the port, then closes its descriptor and frees the slot
// whatever close() reports; close()'s result, once the slot can be opened again.
int closePort(int slot);

}  // namespace pellusk
