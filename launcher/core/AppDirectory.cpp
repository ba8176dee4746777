#include "AppDirectory.h"

namespace velmoor {

std::wstring applicationDirectoryOf(std::wstring_view executablePath) {
    const auto slash = executablePath.find_last_of(L'\\');
    if (slash == std::wstring_view::npos) return std::wstring(executablePath);
    std::wstring directory(executablePath.substr(0, slash));
    if (directory.size() == 2 && directory[1] == L':') directory += L'\\';
    return directory;
}

}  // namespace velmoor
