#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "Services.h"

namespace velmoor {

// Hidden files, system files and folders never count as found.
bool isOrdinaryFile(const DirEntry& entry);

// Windows matches wildcards against 8.3 short names as well, so "*.jar" also lists
// "Tarvio.jar_old"; a name counts as a jar only when its own extension is ".jar".
bool hasJarExtension(std::wstring_view name);

// Compares file names the way the file system does for the ASCII letters.
bool sameFileName(std::wstring_view a, std::wstring_view b);

// What a listing is about, for the user: the folder of a wildcard pattern, else the path.
std::wstring listingSubject(std::wstring_view pattern);

// The name of the first ordinary file in the listing of the pattern that passes accept, or an
// empty string. The listing goes on past entries that do not qualify.
std::wstring firstOrdinaryFile(Services& services, const std::wstring& pattern,
                               const std::function<bool(std::wstring_view)>& accept);

// The first ordinary file that a listing of the exact path returns under the path's own name.
std::wstring existingFile(Services& services, const std::wstring& path);

}  // namespace velmoor
