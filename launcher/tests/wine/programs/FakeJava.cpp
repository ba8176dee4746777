// Stands in for java.exe: appends how it was started (command line, current directory,
// show-window state, its own path) to the file VELMOOR_JAVA_RECORD names, then signals the
// event VELMOOR_JAVA_EVENT names, so that the test driver knows.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    wchar_t directory[MAX_PATH] = L"", image[MAX_PATH] = L"", path[MAX_PATH] = L"",
            event[MAX_PATH] = L"";
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    ::GetModuleFileNameW(nullptr, image, MAX_PATH);
    ::GetEnvironmentVariableW(L"VELMOOR_JAVA_RECORD", path, MAX_PATH);
    ::GetEnvironmentVariableW(L"VELMOOR_JAVA_EVENT", event, MAX_PATH);
    const std::wstring show =
        startup.dwFlags & STARTF_USESHOWWINDOW ? std::to_wstring(startup.wShowWindow) : L"unset";
    const std::wstring record = L"command: " + std::wstring(::GetCommandLineW()) +
                                L"\ndirectory: " + directory + L"\nshow: " + show + L"\nimage: " +
                                image + L"\n";
    std::string bytes(record.size() * 3, '\0');
    bytes.resize(::WideCharToMultiByte(CP_UTF8, 0, record.data(), static_cast<int>(record.size()),
                                       bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                       nullptr));
    const HANDLE file =
        ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE ||
        !::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        return 2;
    }
    ::CloseHandle(file);
    const HANDLE started = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, event);
    return started && ::SetEvent(started) ? 0 : 3;
}
