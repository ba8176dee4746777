#include "InstallClaim.h"

#include <windows.h>

#include <memory>

#include "core/AppDirectory.h"

namespace velmoor {

namespace {

struct ViewDeleter {
    void operator()(void* view) const { ::UnmapViewOfFile(view); }
};
using View = std::unique_ptr<void, ViewDeleter>;

struct Frontmost {
    DWORD processId;
    HWND window = nullptr;
};

// Top-level windows come in z-order, the frontmost first.
BOOL CALLBACK findFrontmost(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Frontmost*>(parameter);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !::IsWindowVisible(window)) return TRUE;
    search->window = window;
    return FALSE;
}

}  // namespace

InstallClaim::InstallClaim(const std::wstring& applicationDirectory) {
    if (applicationDirectory.empty()) return;
    const std::wstring name = installClaimName(applicationDirectory);
    section_.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(DWORD), name.c_str()));
    // Without the section, or without a folder to name it by, the launcher runs unclaimed
    // rather than not at all.
    if (!section_ || ::GetLastError() != ERROR_ALREADY_EXISTS) {
        const View view(::MapViewOfFile(section_.get(), FILE_MAP_WRITE, 0, 0, sizeof(DWORD)));
        if (view) *static_cast<DWORD*>(view.get()) = ::GetCurrentProcessId();
        return;
    }
    held_ = false;
}

void InstallClaim::bringHolderToFront() const {
    const View view(::MapViewOfFile(section_.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD)));
    if (!view) return;
    Frontmost search{*static_cast<const DWORD*>(view.get())};
    if (search.processId == 0) return;
    ::EnumWindows(findFrontmost, reinterpret_cast<LPARAM>(&search));
    if (!search.window) return;
    // The splash window takes no activation; raising it is all it needs.
    if (::GetWindowLongPtrW(search.window, GWL_EXSTYLE) & WS_EX_NOACTIVATE) {
        ::SetWindowPos(search.window, HWND_TOP, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    } else {
        if (::IsIconic(search.window)) ::ShowWindow(search.window, SW_RESTORE);
        ::SetForegroundWindow(search.window);
    }
}

}  // namespace velmoor
