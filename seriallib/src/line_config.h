// Line configuration: the caller's bit rate, character format, parity and flow control turned
// into one complete termios record and applied to an open port.
#pragma once

#include <termios.h>

namespace pellusk {

// The line as SerialConfig describes it: table indexes and codes, unchecked.
struct LineRequest {
    int bitRate;    // index into tbBitRate
    int dataBits;   // index into tbDataBits
    int stopBits;   // index into tbStopBits
    int parity;     // 1 odd, 2 even, 3 mark, 4 space, anything else none
    int handshake;  // 1 and 2 name fixed masks; any other value is the mask itself
};

inline constexpr int kBitRates = 13;
inline constexpr int kDataBitSizes = 4;
inline constexpr int kStopBitSizes = 2;

extern const speed_t tbBitRate[kBitRates];
extern const tcflag_t tbDataBits[kDataBitSizes];
extern const tcflag_t tbStopBits[kStopBitSizes];

// The flow-control mask that a handshake code stands for.
int handshakeMask(int handshake);

// Builds the record from nothing; the port's current setting plays no part. Returns 0, or:
// kSpeedRefused for a bit-rate index outside the table (as if the speed had been refused) and
// the platform's own refusals of the speed (kSpeedRefused, kOutputSpeedRefused); kSettingRefused
// for a data-bits or stop-bits index outside its table, as a setting that cannot be applied.
// `setting` is unusable after a failure.
int buildLineSetting(const LineRequest& request, termios& setting);

// Builds the record and applies it at once to the port with that number (1..128). A port
// number outside the table, like a closed port, gives kSettingRefused; nothing is applied
// after any failure. A record the driver took but whose speed it did not apply also gives
// kSettingRefused, with the rest of the record in force and the line at its old speed.
int configurePort(int portNumber, const LineRequest& request);

}  // namespace pellusk
