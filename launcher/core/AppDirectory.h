#pragma once

#include <string>
#include <string_view>

namespace velmoor {

// The folder part of the executable's full path: no trailing backslash, except at the root of a
// drive ("C:\"), where the backslash is part of the folder's name. Paths are built from it by
// plain concatenation, so a launcher at a drive root looks for "C:\\Tarvio.jar".
std::wstring applicationDirectoryOf(std::wstring_view executablePath);

// The name of the system object that one running launcher holds for its install, the same for
// every spelling of the folder that the file system takes as the same (ASCII letters in either
// case). Object names take no backslash and have a length limit, so the folder goes in hashed.
std::wstring installClaimName(std::wstring_view applicationDirectory);

}  // namespace velmoor
