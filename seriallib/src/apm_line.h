// The status line of /proc/apm and the word it is packed into for Java.
#pragma once

#include <cstdint>
#include <string_view>

namespace pellusk {

// The fields of the status line that the packed word carries.
struct ApmFields {
    std::uint32_t acLine;         // 0 off-line, 1 on-line, 2 on backup power, 0xff unknown
    std::uint32_t batteryStatus;  // 0 high, 1 low, 2 critical, 3 charging, 4 absent, 0xff unknown
    std::uint32_t batteryFlag;    // bit 7 set: no system battery
    std::int32_t percent;         // remaining charge; -1 when unknown
};

// The longest word the line may have in the positions that are skipped: the classic reader
// took each into a 32-byte buffer.
inline constexpr std::size_t kApmWordLength = 31;

// Reads driver version, BIOS version and flags (skipped), then AC line, battery status and
// battery flag in hexadecimal and the percentage in decimal. False unless all seven convert:
// a line cut short, a word too long for its buffer or a field of the wrong kind gives no status.
// The remaining time and its unit are not needed and not looked at.
bool parseApmLine(std::string_view text, ApmFields& fields);

// Bits 0-6: percentage (masked, so unknown reads 127); bit 7: a system battery is present;
// bits 8-15: battery status, mapped; bits 16 and up: AC line status as read.
std::int32_t packApmStatus(const ApmFields& fields);

}  // namespace pellusk
