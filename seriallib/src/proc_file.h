// Reading one of the kernel's small /proc text files in one go.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace pellusk {

// Reads the file from its start into `buffer`, as much as fits. The length read, or minus errno
// when the file cannot be opened. A read error ends the text where it struck.
ssize_t readProcFile(const char* path, char* buffer, std::size_t size);

}  // namespace pellusk
