#include "AppDirectory.h"

#include <cstdint>

#include "TextEncoding.h"

namespace velmoor {

std::wstring applicationDirectoryOf(std::wstring_view executablePath) {
    const auto slash = executablePath.find_last_of(L'\\');
    if (slash == std::wstring_view::npos) return std::wstring(executablePath);
    std::wstring directory(executablePath.substr(0, slash));
    if (directory.size() == 2 && directory[1] == L':') directory += L'\\';
    return directory;
}

std::wstring installClaimName(std::wstring_view applicationDirectory) {
    // FNV-1a over the folder's UTF-16 code units, the ASCII letters folded to lower case.
    std::uint64_t hash = 14695981039346656037u;
    for (wchar_t c : applicationDirectory) {
        c = lowerAscii(c);
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211u;
    }
    std::wstring name = L"VelmoorLauncher-0000000000000000";
    for (std::size_t i = name.size(); hash != 0; hash >>= 4)
        name[--i] = L"0123456789abcdef"[hash & 0xF];
    return name;
}

}  // namespace velmoor
