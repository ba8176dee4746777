// Stands in for java.exe. Like the real one it reads its arguments in the ANSI code page (main,
// not wmain), finds its runtime from the path it was started by (one with a '?' fails as java
// without its runtime does), opens the jar with fopen (else "Error: Unable to access jarfile" and
// exit 1), and holds it without delete sharing while it runs. It appends how it was started to
// the file VELMOOR_JAVA_RECORD names, then signals the event VELMOOR_JAVA_EVENT names. Shaped by:
//   VELMOOR_JAVA_EXIT=CODE[:MS]   exit with CODE after MS ms (default 0 at once), having written
//                                 VELMOOR_JAVA_LOG bytes of log lines and VELMOOR_JAVA_STDERR (in
//                                 the ANSI code page) to standard error, and started a child that
//                                 holds standard error VELMOOR_JAVA_CHILD_MS ms
//   VELMOOR_JAVA_FAIL_ON=TEXT     a jar holding TEXT fails as one without a main class does,
//                                 after VELMOOR_JAVA_FAIL_MS ms (default 100)
//   VELMOOR_JAVA_UNTIL=PATH       hold the jar, and the file VELMOOR_JAVA_HOLD names as a launcher
//                                 holds its claim, until PATH exists; then write VELMOOR_JAVA_SPEW
//                                 bytes to standard output and error each, recording how long
//                                 that took; with VELMOOR_JAVA_WINDOW=1, show a window meanwhile
//                                 and record the process and session ids with "holding"
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring variable(const wchar_t* name) {
    wchar_t value[1024] = L"";
    ::GetEnvironmentVariableW(name, value, 1024);
    return value;
}

std::string bytesOf(const std::wstring& text, UINT codePage = CP_UTF8) {
    std::string bytes(text.size() * 3, '\0');
    bytes.resize(::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                       bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                       nullptr));
    return bytes;
}

// A process java started, which inherits its standard error and outlives it.
void startChild(int holdMs) {
    wchar_t image[MAX_PATH] = L"";
    ::GetModuleFileNameW(nullptr, image, MAX_PATH);
    std::wstring line = L"java --hold " + std::to_wstring(holdMs);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child{};
    if (::CreateProcessW(image, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                         &child))
        ::CloseHandle(child.hProcess), ::CloseHandle(child.hThread);
}

std::wstring fromAnsi(const std::string& bytes) {
    std::wstring text(bytes.size(), L'\0');
    text.resize(::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                      text.data(), static_cast<int>(text.size())));
    return text;
}

void record(const std::wstring& lines) {
    const HANDLE file =
        ::CreateFileW(variable(L"VELMOOR_JAVA_RECORD").c_str(), FILE_APPEND_DATA,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    const std::string bytes = bytesOf(lines);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

void write(DWORD stream, const std::string& bytes) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(stream), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                nullptr);
}

// Waits, a bounded time, for the file PATH to appear: woken by changes in its folder, and
// looking again now and then in case a change notice is missed.
void awaitFile(const std::wstring& path) {
    const std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
    const HANDLE change =
        ::FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
           ::GetTickCount64() < deadline) {
        if (change == INVALID_HANDLE_VALUE) {
            ::Sleep(100);
        } else if (::WaitForSingleObject(change, 100) == WAIT_OBJECT_0) {
            ::FindNextChangeNotification(change);
        }
    }
    if (change != INVALID_HANDLE_VALUE) ::FindCloseChangeNotification(change);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--hold") return ::Sleep(std::atoi(argv[2])), 0;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    wchar_t directory[MAX_PATH] = L"", image[MAX_PATH] = L"";
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    ::GetModuleFileNameW(nullptr, image, MAX_PATH);
    const std::wstring show =
        startup.dwFlags & STARTF_USESHOWWINDOW ? std::to_wstring(startup.wShowWindow) : L"unset";
    const std::string jar = argc > 1 ? argv[argc - 1] : "";
    std::string head;
    bool failOn = false;
    if (FILE* opened = std::fopen(jar.c_str(), "rb")) {
        std::string bytes(65536, '\0');
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), opened));
        std::fclose(opened);
        const std::string marker = bytesOf(variable(L"VELMOOR_JAVA_FAIL_ON"));
        failOn = !marker.empty() && bytes.find(marker) != std::string::npos;
        for (const char c : bytes.substr(0, 16)) head += c >= ' ' && c <= '~' ? c : '.';
    }
    record(L"command: " + std::wstring(::GetCommandLineW()) + L"\ndirectory: " + directory +
           L"\nshow: " + show + L"\nimage: " + image + L"\njar-head: " +
           fromAnsi(head.empty() ? "unreadable" : head) + L"\n");
    const HANDLE started =
        ::OpenEventW(EVENT_MODIFY_STATE, FALSE, variable(L"VELMOOR_JAVA_EVENT").c_str());
    if (started) ::SetEvent(started);

    std::wstring exit = variable(L"VELMOOR_JAVA_EXIT");
    std::string error = bytesOf(variable(L"VELMOOR_JAVA_STDERR"), CP_ACP);
    // Its path as started, read the ANSI way: Wine reports the module's long path whatever the
    // start named, where Windows keeps the short one it was started by.
    const std::wstring failMs = variable(L"VELMOOR_JAVA_FAIL_MS");
    if (std::string(argv[0]).find('?') != std::string::npos) {
        exit = L"1", error =
                         "Error: could not find java.dll\r\nError: Could not find Java SE "
                         "Runtime Environment.";
    } else if (head.empty()) {
        exit = L"1", error = "Error: Unable to access jarfile " + jar;
    } else if (failOn) {
        exit = L"1:" + (failMs.empty() ? L"100" : failMs);
        error = "no main manifest attribute, in " + jar;
    }
    const std::wstring until = variable(L"VELMOOR_JAVA_UNTIL");
    if (!until.empty()) {
        const HANDLE held =
            ::CreateFileA(jar.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        const HANDLE claim =
            ::CreateFileW(variable(L"VELMOOR_JAVA_HOLD").c_str(), GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD session = 0;
        ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
        if (!variable(L"VELMOOR_JAVA_WINDOW").empty())
            ::CreateWindowW(L"STATIC", L"java", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 100,
                            nullptr, nullptr, nullptr, nullptr);
        if (claim != INVALID_HANDLE_VALUE)
            record(L"holding: claim " + std::to_wstring(::GetCurrentProcessId()) + L" " +
                   std::to_wstring(session) + L"\n");
        awaitFile(until);
        const std::string block(4096, 'x');
        const ULONGLONG before = ::GetTickCount64();
        for (int written = 0; written < _wtoi(variable(L"VELMOOR_JAVA_SPEW").c_str());
             written += 4096) {
            write(STD_OUTPUT_HANDLE, block);
            write(STD_ERROR_HANDLE, block);
        }
        record(L"spewed-ms: " + std::to_wstring(::GetTickCount64() - before) + L"\n");
        ::CloseHandle(held);
        ::CloseHandle(claim);
    }
    if (const int holdMs = _wtoi(variable(L"VELMOOR_JAVA_CHILD_MS").c_str())) startChild(holdMs);
    const auto colon = exit.find(L':');
    if (colon != std::wstring::npos) ::Sleep(_wtoi(exit.c_str() + colon + 1));
    // In one write, as a buffered logger would: line by line, Wine takes seconds for megabytes.
    std::string log;
    while (log.size() < static_cast<std::size_t>(_wtoi(variable(L"VELMOOR_JAVA_LOG").c_str())))
        log += "INFO Starting the application's services\r\n";
    if (!log.empty()) write(STD_ERROR_HANDLE, log);
    if (!error.empty()) write(STD_ERROR_HANDLE, error + "\r\n");
    return _wtoi(exit.c_str());
}
