#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "Services.h"

namespace velmoor {

// The Java runtimes the launcher tries, in this order: the one installed beside the launcher,
// then the two fixed install folders.
std::array<std::wstring, 3> javaCandidates(std::wstring_view applicationDirectory);

// The command line that starts the application on the jar's path as java is to read it. The Java
// path is quoted: unquoted, a path with spaces lets "C:\Program.exe" be started instead of the
// runtime.
std::wstring applicationCommandLine(std::wstring_view javaPath, std::wstring_view jarArgument);

// The jar's path as java can open it. java reads its command line in the ANSI code page, where a
// letter outside it arrives as '?' or as a look-alike that may even name another folder's jar.
// So: the path as the launcher names it where java reads it back unchanged, else its short (8.3)
// form, else the jar's name alone, which java finds in the application directory that it
// inherits as its current directory. Empty when none of them fits.
std::wstring javaJarArgument(Services& services, std::wstring_view applicationDirectory,
                             std::wstring_view jarName);

// The path java.exe is started by. java finds its own runtime from the path its process was
// started by, which it reads in the ANSI code page: so the path as found where it fits, else its
// short (8.3) form. Empty when neither fits.
std::wstring javaProgramPath(Services& services, const std::wstring& javaPath);

// Makes the application directory current and returns the bare name of the application's
// jar: "Tarvio.jar" if it is there, else the first jar the listing returns. Tells the user
// and returns an empty string when there is none.
std::wstring findJarFile(Services& services);

// The first Java runtime candidate that exists; tells the user and returns an empty string
// when none does.
std::wstring findJavaExecutable(Services& services);

// A start of the application: the process, for the splash window to watch, and the jar it runs.
struct Launch {
    std::unique_ptr<StartedProcess> process;
    std::wstring localJar;
};

// Starts the Java runtime on the jar, hidden and unwaited. Without a process every failure has
// been reported to the user by the time it returns, including failures of the platform that
// the lookups do not expect.
Launch loadApplication(Services& services);

}  // namespace velmoor
