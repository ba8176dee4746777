// The machine's power supply and battery state as the APM driver publishes it.
#pragma once

#include <cstdint>

namespace pellusk {

// The packed status word of the /proc/apm line, into `status`: 0, or kNoApmStatus when the
// file cannot be opened or its line does not carry the seven fields the word is made of.
int readApmStatus(std::int32_t& status);

}  // namespace pellusk
