// Fuzz target: the /proc/apm line. Whatever the bytes, parsing stays inside them, and a line it
// accepts packs into a word that its own fields, written out again, pack into once more.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "apm_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pellusk;
    ApmFields fields, again;
    if (!parseApmLine(std::string_view(reinterpret_cast<const char*>(data), size), fields))
        return 0;
    const std::int32_t word = packApmStatus(fields);
    if (((word & 0x80) != 0) == ((fields.batteryFlag & 0x80) != 0)) abort();
    char line[128];
    std::snprintf(line, sizeof line, "a b c 0x%x 0x%x 0x%x %d%% 0 min", fields.acLine,
                  fields.batteryStatus, fields.batteryFlag, fields.percent);
    if (!parseApmLine(line, again) || packApmStatus(again) != word) abort();
    return 0;
}
