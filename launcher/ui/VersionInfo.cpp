#include "VersionInfo.h"

#include <windows.h>

#include <string>
#include <vector>

#include "Win32Services.h"
#include "WinHandles.h"
#include "core/PlatformError.h"
#include "core/SplashLayout.h"
#include "tarvio_version.h"

namespace velmoor {

namespace {

template <typename Fn>
Fn procedure(HMODULE module, const char* name) {
    const auto proc = ::GetProcAddress(module, name);
    return proc ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc)) : nullptr;
}

// version.dll is not one of the DLLs that Windows always takes from System32, so it is loaded
// by its full System32 path rather than imported, which would let a copy planted beside the
// launcher be loaded before the launcher's first instruction runs.
LibraryHandle loadVersionDll() {
    wchar_t system[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return LibraryHandle();
    const std::wstring path = std::wstring(system, length) + L"\\version.dll";
    return LibraryHandle(::LoadLibraryW(path.c_str()));
}

}  // namespace

std::optional<Version> ownFileVersion() {
    using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

    const LibraryHandle library = loadVersionDll();
    if (!library) return std::nullopt;
    const auto getSize = procedure<SizeFn>(library.get(), "GetFileVersionInfoSizeW");
    const auto getInfo = procedure<InfoFn>(library.get(), "GetFileVersionInfoW");
    const auto query = procedure<QueryFn>(library.get(), "VerQueryValueW");
    if (!getSize || !getInfo || !query) return std::nullopt;

    const std::wstring path = executablePath();
    DWORD ignored = 0;
    const DWORD size = getSize(path.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<unsigned char> block(size);
    if (!getInfo(path.c_str(), 0, size, block.data())) return std::nullopt;
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!query(block.data(), L"\\", &fixed, &fixedSize) || fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        return std::nullopt;
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return Version{HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS)};
}

std::wstring ownVersionCaption() {
    try {
        if (const auto version = ownFileVersion())
            return versionCaption(version->major, version->minor);
    } catch (const PlatformError&) {
    }
    return VELMOOR_DESIGNED_CAPTION;
}

}  // namespace velmoor
