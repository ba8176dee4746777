#include "FileLookup.h"

#include "AppDirectory.h"
#include "TextEncoding.h"

namespace velmoor {

namespace {

std::wstring_view lastComponent(std::wstring_view path) {
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool isOrdinaryFile(const DirEntry& entry) {
    return !entry.hidden && !entry.system && !entry.directory;
}

bool sameFileName(std::wstring_view a, std::wstring_view b) {
    return sameIgnoringAsciiCase(a, b);
}

bool hasJarExtension(std::wstring_view name) {
    constexpr std::wstring_view jar = L".jar";
    return name.size() > jar.size() && sameFileName(name.substr(name.size() - jar.size()), jar);
}

std::wstring listingSubject(std::wstring_view pattern) {
    const std::wstring_view name = lastComponent(pattern);
    if (name.find_first_of(L"*?") == std::wstring_view::npos) return std::wstring(pattern);
    return applicationDirectoryOf(pattern);
}

std::wstring firstOrdinaryFile(Services& services, const std::wstring& pattern,
                               const std::function<bool(std::wstring_view)>& accept) {
    std::wstring found;
    services.listDirectory(pattern, [&](const DirEntry& entry) {
        if (isOrdinaryFile(entry) && accept(entry.name)) {
            found = entry.name;
            return false;
        }
        return true;
    });
    return found;
}

std::wstring existingFile(Services& services, const std::wstring& path) {
    const std::wstring_view wanted = lastComponent(path);
    return firstOrdinaryFile(services, path,
                             [&](std::wstring_view name) { return sameFileName(name, wanted); });
}

}  // namespace velmoor
