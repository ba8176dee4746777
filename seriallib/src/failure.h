// The concerns' one result convention. An int result of a concern is its value when 0 or more (a
// count, a byte, a line state, a slot, a descriptor, or 0 for done) and a failure when negative.
// kFailed is a system call's own -1 (errno says why), which the native methods hand on as it is;
// the other failures name what went wrong in the concern's own terms, and only the export layer
// turns them into the reference's result codes (result_codes.h). Where a value may itself be
// negative (the APM word), it goes out through a parameter and the result is 0 or a failure.
#pragma once

namespace pellusk {

inline constexpr int kFailed = -1;
inline constexpr int kBadPortNumber = -2;  // a port number outside 1..128
inline constexpr int kSlotTaken = -3;      // the slot asked for holds a port
inline constexpr int kNoFreeSlot = -4;     // all 128 hold one
// The input speed refused, or a bit-rate index outside the table.
inline constexpr int kSpeedRefused = -5;
inline constexpr int kOutputSpeedRefused = -6;
// The line setting not applied, or an index outside its table.
inline constexpr int kSettingRefused = -7;
inline constexpr int kInputNotFlushed = -8;  // old input not discarded after the open
inline constexpr int kNotASlot = -9;         // a slot number outside the table
inline constexpr int kInvalidCardSlot = -10;
inline constexpr int kNoCardDriver = -11;  // no "pcmcia" in /proc/devices
inline constexpr int kNoCardSocket = -12;  // no node of the card slot could be opened
inline constexpr int kCardRequest = -13;   // the card-services request failed
inline constexpr int kNoApmStatus = -14;   // /proc/apm unreadable, or its line does not convert

}  // namespace pellusk
