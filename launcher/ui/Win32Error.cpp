#include "Win32Error.h"

#include "WinHandles.h"

namespace velmoor {

namespace {

std::wstring hexadecimal(DWORD code) {
    std::wstring text = L"0x00000000";
    for (int i = 9; i >= 2; --i, code >>= 4) text[i] = L"0123456789ABCDEF"[code & 0xF];
    return text;
}

}  // namespace

std::wstring describeError(DWORD code) {
    wchar_t* buffer = nullptr;
    // Some system messages contain inserts such as %1 that nobody fills in here.
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const LocalMemory owner(buffer);
    if (length == 0) return L"Error " + std::wstring(hexadecimal(code));
    std::wstring text(buffer, length);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
    return text;
}

PlatformError lastError(std::wstring subject) {
    const DWORD code = ::GetLastError();
    return PlatformError(code, describeError(code), std::move(subject));
}

}  // namespace velmoor
