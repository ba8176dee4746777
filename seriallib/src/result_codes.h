// The result codes that the native methods return, in one place, and the turning of the
// concerns' failures (failure.h) into them. Only the export layer includes it.
#pragma once

#include <cerrno>

#include "failure.h"

namespace pellusk {

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

// The card power methods' use of the 5000 series.
namespace code {
inline constexpr int kBadPowerMode = 5000;  // mode neither 0 nor 1; nothing thrown
inline constexpr int kNoCardSocket = 5001;  // the card slot lookup failed (and threw)
inline constexpr int kCardRequest = 5002;   // the card-services request failed; thrown
}  // namespace code

// The timeout setters' result for a value stored.
inline constexpr int kTimeoutStored = 1;

// What the exported card slot lookup (getSlotHandle) returns instead of a descriptor.
namespace slot_lookup {
inline constexpr int kNoExceptionClass = -1;  // FindClass's own error is pending
inline constexpr int kInvalidSlot = -2;
inline constexpr int kNoDriver = -3;
inline constexpr int kNoSocket = -4;
}  // namespace slot_lookup

// The code for an errno left by open(): four are mapped, the rest passed on as they are.
constexpr int openErrorCode(int error) {
    switch (error) {
        case ENOENT:
            return code::kNoSuchFile;
        case ENODEV:
            return code::kNoSuchDevice;
        case EACCES:
            return code::kAccessDenied;
        case EBUSY:
            return code::kDeviceBusy;
        default:
            return error;
    }
}

// The code of SerOpenPort and SerConfigure for an open's or a line setting's status (0 or a
// failure of failure.h); `error` is the errno of a kFailed open.
constexpr int lineCode(int status, int error = 0) {
    switch (status) {
        case 0:
            return code::kOk;
        case kFailed:
            return openErrorCode(error);
        case kBadPortNumber:
            return code::kBadPortNumber;
        case kSlotTaken:
            return code::kSlotTaken;
        case kNoFreeSlot:
            return code::kNoFreeSlot;
        case kSpeedRefused:
            return code::kInputSpeed;
        case kOutputSpeedRefused:
            return code::kOutputSpeed;
        case kInputNotFlushed:
            return code::kFlushInput;
        default:
            return code::kApplySetting;
    }
}

}  // namespace pellusk
