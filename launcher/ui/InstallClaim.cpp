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

// The claim is a hidden file in the install folder, held open for writing and shared for reading
// only: every spelling of the folder (another drive letter, a short name, a UNC path) and every
// session opens the same file, and a second launcher's open for writing fails with a sharing
// violation while it can still read the holder's process id. A folder that takes no new file
// (read-only for this user) falls back to a section named after the folder's spelling.
bool InstallClaim::claimByLockFile(const std::wstring& applicationDirectory) {
    std::wstring path = applicationDirectory;
    if (path.back() != L'\\') path += L'\\';
    path += L"Velmoor.lock";
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        lock_.reset(file);
        const DWORD id = ::GetCurrentProcessId();
        DWORD written = 0;
        ::WriteFile(lock_.get(), &id, sizeof id, &written, nullptr);
        ::SetEndOfFile(lock_.get());
        return true;
    }
    if (::GetLastError() != ERROR_SHARING_VIOLATION) return false;
    held_ = false;
    const HANDLE opened =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return true;
    const KernelHandle holder(opened);
    DWORD read = 0;
    if (!::ReadFile(holder.get(), &holderId_, sizeof holderId_, &read, nullptr) ||
        read != sizeof holderId_) {
        holderId_ = 0;
    }
    return true;
}

InstallClaim::InstallClaim(const std::wstring& applicationDirectory) {
    if (applicationDirectory.empty() || claimByLockFile(applicationDirectory)) return;
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
    DWORD holderId = holderId_;
    if (!lock_ && section_) {
        const View view(::MapViewOfFile(section_.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD)));
        if (view) holderId = *static_cast<const DWORD*>(view.get());
    }
    Frontmost search{holderId};
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
