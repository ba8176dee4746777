#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Services.h"

namespace velmoor {

// A new version is on trial from its install until a start of it outlives the splash window:
// meanwhile the jar it replaced is kept, hidden, beside it, to be put back should the new version
// fail to start. A new version that did so is kept too, hidden, in its own place: its time is the
// publish's, so that the same publish is not installed and undone again on every start.
std::wstring previousJarPath(std::wstring_view localJar);
std::wstring refusedJarPath(std::wstring_view localJar);

// Puts the checked copy in place of the installed jar, which is kept as the previous version.
// On failure the installed jar is where it was.
void installCopy(Services& services, const std::wstring& copy, const std::wstring& localJar);

// A start that ended with an error while the splash window watched it.
struct FailedStart {
    std::wstring message;   // what the user is told
    bool restored = false;  // the previous version is back in place, to be started
};

// The new version on trial, where the launcher holds the install, gives way to the previous one;
// any other start is only reported.
FailedStart failedStart(Services& services, const std::wstring& localJar, std::uint32_t exitCode,
                        std::wstring_view errorOutput, bool holdsInstall);

// A start that outlived the watch, or ended well: a new version on trial has passed it, and the
// jar it replaced goes.
void passedStart(Services& services, const std::wstring& localJar);

}  // namespace velmoor
