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

// How long a launcher that has just claimed the install takes at most to show its window.
constexpr DWORD kHolderStartupMs = 1000;

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

// What the lock file says of the launcher that holds it.
struct LockRecord {
    DWORD processId = 0;
    DWORD sessionId = 0;
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
};

LockRecord thisLauncher() {
    LockRecord record;
    record.processId = ::GetCurrentProcessId();
    ::ProcessIdToSessionId(record.processId, &record.sessionId);
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    ::GetComputerNameW(record.computer, &length);
    return record;
}

}  // namespace

// The claim is a hidden file in the install folder, held open for writing and shared for reading
// only: every spelling of the folder (another drive letter, a short name, a UNC path) and every
// session opens the same file, and a second launcher's open for writing fails with a sharing
// violation while it can still read the holder's record. The file goes with the holder's handle,
// so no run leaves it behind, except in a folder where files can be made but not deleted. A
// folder that takes no new file (read-only for this user) falls back to a section named after
// the folder's spelling.
bool InstallClaim::claimByLockFile(const std::wstring& applicationDirectory) {
    std::wstring path = applicationDirectory;
    if (path.back() != L'\\') path += L'\\';
    path += L"Velmoor.lock";
    HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
        file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
    }
    if (file != INVALID_HANDLE_VALUE) {
        lock_.reset(file);
        const LockRecord record = thisLauncher();
        DWORD written = 0;
        // A file that a folder without delete rights kept holds an earlier launcher's record,
        // whose process number may belong to another program by now. A record not written whole
        // is emptied: the claim is held all the same, by a holder nobody can reach.
        if (!::WriteFile(lock_.get(), &record, sizeof record, &written, nullptr) ||
            written != sizeof record || !::SetEndOfFile(lock_.get())) {
            LARGE_INTEGER start{};
            if (::SetFilePointerEx(lock_.get(), start, nullptr, FILE_BEGIN))
                ::SetEndOfFile(lock_.get());
        }
        return true;
    }
    if (::GetLastError() != ERROR_SHARING_VIOLATION) return false;
    held_ = false;
    const HANDLE opened = ::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return true;
    const KernelHandle holder(opened);
    LockRecord record;
    DWORD read = 0;
    if (::ReadFile(holder.get(), &record, sizeof record, &read, nullptr) && read == sizeof record) {
        const LockRecord self = thisLauncher();
        record.computer[MAX_COMPUTERNAME_LENGTH] = L'\0';
        // A holder on another computer or in another session is out of reach.
        if (record.sessionId == self.sessionId &&
            ::CompareStringOrdinal(record.computer, -1, self.computer, -1, TRUE) == CSTR_EQUAL)
            holderId_ = record.processId;
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

bool InstallClaim::bringHolderToFront() const {
    DWORD holderId = holderId_;
    // A section's name is of this session, so its holder is here.
    if (!lock_ && section_) {
        const View view(::MapViewOfFile(section_.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD)));
        if (view) holderId = *static_cast<const DWORD*>(view.get());
    }
    if (holderId == 0) return false;
    const KernelHandle holder(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, holderId));
    // Gone, with its claim not let go yet: nobody is there to answer.
    if (!holder || ::WaitForSingleObject(holder.get(), 0) == WAIT_OBJECT_0) return false;
    // A holder started a moment ago shows its splash window as soon as it takes input.
    ::WaitForInputIdle(holder.get(), kHolderStartupMs);
    Frontmost search{holderId};
    ::EnumWindows(findFrontmost, reinterpret_cast<LPARAM>(&search));
    if (!search.window) return false;
    // The splash window takes no activation; raising it is all it needs.
    if (::GetWindowLongPtrW(search.window, GWL_EXSTYLE) & WS_EX_NOACTIVATE) {
        ::SetWindowPos(search.window, HWND_TOP, 0, 0, 0, 0,
                       SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    } else {
        if (::IsIconic(search.window)) ::ShowWindow(search.window, SW_RESTORE);
        ::SetForegroundWindow(search.window);
    }
    return true;
}

}  // namespace velmoor
