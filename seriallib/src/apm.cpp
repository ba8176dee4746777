#include "apm.h"

#include <string_view>

#include "apm_line.h"
#include "failure.h"
#include "proc_file.h"

namespace pellusk {

namespace {

// One line of nine short fields; a longer file holds nothing the status needs.
constexpr std::size_t kApmTextSize = 512;

}  // namespace

int readApmStatus(std::int32_t& status) {
    char text[kApmTextSize];
    const ssize_t length = readProcFile("/proc/apm", text, sizeof text);
    ApmFields fields;
    if (length < 0 ||
        !parseApmLine(std::string_view(text, static_cast<std::size_t>(length)), fields)) {
        return kNoApmStatus;
    }
    status = packApmStatus(fields);
    return 0;
}

}  // namespace pellusk
