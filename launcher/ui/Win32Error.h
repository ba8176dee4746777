#pragma once

#include <windows.h>

#include <string>

#include "core/PlatformError.h"

namespace velmoor {

// The system's own description of an error, without the trailing line break.
std::wstring describeError(DWORD code);

// The error of the call that has just failed, about the file or folder given if any. Call it
// first thing after the failure, before anything else can overwrite the thread's last error.
PlatformError lastError(std::wstring subject = {});

}  // namespace velmoor
