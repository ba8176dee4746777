#include "apm_line.h"

#include "scan_text.h"

namespace pellusk {

namespace {

// Battery status as the Java side codes it; everything not listed, 0x04 "absent" included,
// is "unknown".
std::uint32_t batteryStatusCode(std::uint32_t status) {
    switch (status) {
        case 0x00:
            return 0;
        case 0x01:
            return 1;
        case 0x02:
            return 4;
        case 0x03:
            return 8;
        case 0x7F:
            return 2;
        default:
            return 0xFF;
    }
}

constexpr std::uint32_t kNoSystemBattery = 0x80;

}  // namespace

bool parseApmLine(std::string_view text, ApmFields& fields) {
    TextScanner scan(text);
    std::string_view skipped;
    for (int i = 0; i < 3; ++i) {
        if (!scan.word(skipped, kApmWordLength)) return false;
    }
    return scan.hex(fields.acLine) && scan.hex(fields.batteryStatus) &&
           scan.hex(fields.batteryFlag) && scan.decimal(fields.percent);
}

std::int32_t packApmStatus(const ApmFields& fields) {
    std::uint32_t word = 0;
    if ((fields.batteryFlag & kNoSystemBattery) == 0) word |= kNoSystemBattery;
    word |= static_cast<std::uint32_t>(fields.percent) & 0x7F;
    word |= batteryStatusCode(fields.batteryStatus) << 8;
    word |= fields.acLine << 16;
    return static_cast<std::int32_t>(word);
}

}  // namespace pellusk
