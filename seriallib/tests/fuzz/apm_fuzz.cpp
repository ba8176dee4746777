// Fuzz target: the /proc/apm line. Whatever the bytes, parsing stays inside them, and a line it
// accepts packs into a word whose fields are consistent and which reads back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "apm_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pellusk::ApmFields fields;
    if (!pellusk::parseApmLine(std::string_view(reinterpret_cast<const char*>(data), size),
                               fields)) {
        return 0;
    }
    const auto word = static_cast<std::uint32_t>(pellusk::packApmStatus(fields));
    const std::uint32_t battery = (word >> 8) & 0xFF;
    if (battery != 0 && battery != 1 && battery != 2 && battery != 4 && battery != 8 &&
        battery != 0xFF) {
        abort();
    }
    if (((word & 0x80) != 0) == ((fields.batteryFlag & 0x80) != 0)) abort();

    char line[128];
    std::snprintf(line, sizeof line, "a b c 0x%x 0x%x 0x%x %d%% 0 min", fields.acLine,
                  fields.batteryStatus, fields.batteryFlag, fields.percent);
    pellusk::ApmFields again;
    if (!pellusk::parseApmLine(line, again) ||
        static_cast<std::uint32_t>(pellusk::packApmStatus(again)) != word) {
        abort();
    }
    return 0;
}
