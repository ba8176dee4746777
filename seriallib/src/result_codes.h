// The result codes that the native methods return, in one place. Only the export layer turns a
// concern's outcome into them, except where a concern's own result is the code of the reference.
#pragma once

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

}  // namespace pellusk
