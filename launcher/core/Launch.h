#pragma once

#include <array>
#include <string>
#include <string_view>

#include "Services.h"

namespace velmoor {

// The Java runtimes the launcher tries, in this order: the one installed beside the launcher,
// then the two fixed install folders.
std::array<std::wstring, 3> javaCandidates(std::wstring_view applicationDirectory);

// The command line that starts the application. The Java path is quoted: unquoted, a path with
// spaces lets "C:\Program.exe" be started instead of the runtime.
std::wstring applicationCommandLine(std::wstring_view javaPath,
                                    std::wstring_view applicationDirectory,
                                    std::wstring_view jarName);

// Makes the application directory current and returns the bare name of the application's
// jar: "Tarvio.jar" if it is there, else the first jar the listing returns. Tells the user
// and returns an empty string when there is none.
std::wstring findJarFile(Services& services);

// The first Java runtime candidate that exists; tells the user and returns an empty string
// when none does.
std::wstring findJavaExecutable(Services& services);

enum class LaunchResult { started, failed };

// Starts the Java runtime on the jar, hidden and unwaited. Every failure has been reported to
// the user by the time it returns failed, including failures of the platform that the lookups
// do not expect.
LaunchResult loadApplication(Services& services);

}  // namespace velmoor
