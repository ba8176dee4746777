// Stands in for java.exe in the launcher's tests. It appends to the file named by
// VELMOOR_JAVA_RECORD how it was started (command line, current directory, show-window
// state and its own path), then signals the event named by VELMOOR_JAVA_EVENT so the test
// driver knows the start has happened.
#include <windows.h>

#include <string>

namespace {

std::wstring environment(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::string utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          size, nullptr, nullptr);
    return bytes;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    wchar_t directory[MAX_PATH] = L"";
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    wchar_t image[MAX_PATH] = L"";
    ::GetModuleFileNameW(nullptr, image, MAX_PATH);

    const bool showSet = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0;
    std::wstring record = L"command: " + std::wstring(::GetCommandLineW()) + L"\n";
    record += L"directory: " + std::wstring(directory) + L"\n";
    record += L"show: " + (showSet ? std::to_wstring(startup.wShowWindow) : L"unset") + L"\n";
    record += L"image: " + std::wstring(image) + L"\n";

    const std::wstring path = environment(L"VELMOOR_JAVA_RECORD");
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    const std::string bytes = utf8(record);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);

    const std::wstring eventName = environment(L"VELMOOR_JAVA_EVENT");
    if (const HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str())) {
        ::SetEvent(event);
        ::CloseHandle(event);
    }
    return 0;
}
