// Test driver for the launcher under Wine: starts it, plays the user through the steps on its
// command line and prints "name: value" lines, times in ms since the step before. Steps: splash,
// java, box[=BUTTON], dialog[=BUTTON|Escape], filled=N (the text box holds N characters),
// click=BUTTON, press (a mouse click on the splash), closed (the splash), watch (the
// splash's strip and answers, until a box or the splash's end), second (a second launcher, another
// window in front; second=EXE runs that spelling of the launcher), run=COMMAND (Unix, /bin/sh), and
// always last exit (the launcher's). A step that does not come prints "timeout: STEP".
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr ULONGLONG kStepTimeoutMs = 30000;
HANDLE launcher;
DWORD launcherId;

void print(const std::wstring& name, const std::wstring& value) {
    std::wstring line = name + L": ";
    for (const wchar_t c : value)
        line += c == L'\r' ? L"\\r" : c == L'\n' ? L"\\n" : std::wstring(1, c);
    line += L"\n";
    std::string bytes(line.size() * 3, '\0');
    bytes.resize(::WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                       bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                       nullptr));
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
                &written, nullptr);
}

std::wstring text(HWND window) {
    std::wstring text(static_cast<size_t>(::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0)) + 1,
                      L'\0');
    text.resize(static_cast<size_t>(
        ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
    return text;
}

// Windows of another process cannot be awaited: polls.
template <typename Ready>
bool waitFor(Ready ready, ULONGLONG timeout = kStepTimeoutMs) {
    for (const ULONGLONG deadline = ::GetTickCount64() + timeout; !ready(); ::Sleep(10)) {
        if (::GetTickCount64() > deadline) return false;
    }
    return true;
}

bool ofLauncher(HWND window) {
    DWORD process = 0;
    return ::GetWindowThreadProcessId(window, &process) && process == launcherId;
}

// A top-level window of the launcher (a visible one, unless hidden too), or a child of parent; text
// without '&', empty: any. Only the launcher's windows are asked for their text: another
// process's answers only when its thread takes messages.
HWND find(HWND parent, const std::wstring& windowClass, const std::wstring& wanted = L"",
          bool hiddenToo = false) {
    for (HWND window = nullptr;
         (window = ::FindWindowExW(parent, window, windowClass.c_str(), nullptr));) {
        if (!parent && (!ofLauncher(window) || !(hiddenToo || ::IsWindowVisible(window)))) continue;
        std::wstring caption = wanted.empty() ? L"" : text(window);
        std::erase(caption, L'&');
        if (caption == wanted) return window;
    }
    return nullptr;
}

// A launcher that has ended shows nothing more: no need to wait out the step's time.
HWND waitForWindow(const std::wstring& windowClass, const std::wstring& title) {
    HWND found = nullptr;
    waitFor([&] {
        return (found = find(nullptr, windowClass, title)) != nullptr ||
               ::WaitForSingleObject(launcher, 0) == WAIT_OBJECT_0;
    });
    return found;
}

// Escape goes to the focused control, as the keyboard's would.
bool click(HWND dialog, const std::wstring& button) {
    if (button == L"Escape") {
        GUITHREADINFO thread{};
        thread.cbSize = sizeof thread;
        ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &thread);
        return ::PostMessageW(thread.hwndFocus ? thread.hwndFocus : dialog, WM_KEYDOWN, VK_ESCAPE,
                              1);
    }
    const HWND control = find(dialog, L"Button", button);
    return control && ::PostMessageW(control, BM_CLICK, 0, 0);
}

PROCESS_INFORMATION start(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process);
    return process;
}

// Wine gives no handle to a Unix program it starts.
bool run(const std::wstring& commandLine) {
    const PROCESS_INFORMATION process = start(commandLine);
    const bool ended = !process.hProcess ||
                       ::WaitForSingleObject(process.hProcess, kStepTimeoutMs) == WAIT_OBJECT_0;
    if (!ended) ::TerminateProcess(process.hProcess, 99);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return ended;
}

// The splash's strip as the screen shows it, a row across its middle: 0x00RRGGBB pixels.
std::vector<DWORD> stripRow(HWND splash) {
    RECT window{};
    ::GetWindowRect(splash, &window);
    const int width = window.right - window.left;
    const HDC screen = ::GetDC(nullptr), memory = ::CreateCompatibleDC(screen);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, 1);
    const HGDIOBJ old = ::SelectObject(memory, bitmap);
    // The strip is 255 twips, 17 pixels at 96 dpi, high along the bottom edge.
    ::BitBlt(memory, 0, 0, width, 1, screen, window.left, window.bottom - 8, SRCCOPY);
    ::SelectObject(memory, old);
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), width, 1, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    std::vector<DWORD> row(static_cast<size_t>(width));
    ::GetDIBits(memory, bitmap, 0, 1, row.data(), &info, DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return row;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Named for this run, so that scenarios side by side in one prefix see their own java only.
    const std::wstring eventName = L"VelmoorJavaStarted" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE javaStarted = ::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    ::SetEnvironmentVariableW(L"VELMOOR_JAVA_EVENT", eventName.c_str());
    const std::wstring launcherLine = L"\"" + std::wstring(argv[1]) + L"\"";
    const PROCESS_INFORMATION started = start(launcherLine);
    if (!(launcher = started.hProcess)) return 1;
    launcherId = started.dwProcessId;

    const ULONGLONG launched = ::GetTickCount64();
    ULONGLONG stepEnded = launched, clicked = 0;
    const auto ms = [&] { return std::to_wstring(::GetTickCount64() - stepEnded); };
    HWND splash = nullptr, dialog = nullptr;
    for (int i = 2; i <= argc;
         ++i, stepEnded = clicked ? std::exchange(clicked, 0) : ::GetTickCount64()) {
        const std::wstring step = i < argc ? argv[i] : L"exit";
        const auto equals = step.find(L'=');
        const std::wstring verb = step.substr(0, equals);
        const std::wstring argument = equals == std::wstring::npos ? L"" : step.substr(equals + 1);
        bool done = true;
        if (verb == L"splash") {
            done = (splash = waitForWindow(L"VelmoorSplash", L""));
            // Tool windows and owned windows get no taskbar entry unless they ask for one.
            const LONG_PTR style = ::GetWindowLongPtrW(splash, GWL_EXSTYLE);
            const bool listed = (style & WS_EX_APPWINDOW) ||
                                (!(style & WS_EX_TOOLWINDOW) && !::GetWindow(splash, GW_OWNER));
            print(L"splash-taskbar", listed ? L"entry" : L"none");
        } else if (verb == L"closed") {
            // The box has given the splash back once it is gone, hidden or not: a box enables its
            // owner before it hides, and Wine may hold the hiding.
            ULONGLONG enabled = 0;
            done = splash && waitFor([&] {
                       if (!enabled && ::IsWindowEnabled(splash) &&
                           !find(nullptr, L"#32770", L"", true))
                           enabled = ::GetTickCount64();
                       return !::IsWindowVisible(splash);  // also once destroyed
                   });
            print(L"closed-ms", ms());
            if (enabled) print(L"enabled-ms", std::to_wstring(enabled - stepEnded));
        } else if (verb == L"java") {
            // Also from the launcher's start, a lower bound even when a busy machine finds the
            // splash late; the time since the step before is then the upper bound.
            done = ::WaitForSingleObject(javaStarted, kStepTimeoutMs) == WAIT_OBJECT_0;
            print(L"java-ms", ms());
            print(L"java-from-start-ms", std::to_wstring(::GetTickCount64() - launched));
        } else if (verb == L"box") {
            const HWND box = waitForWindow(L"#32770", L"Ostrel Tarvio Launcher");
            const HWND message = box ? ::GetDlgItem(box, 0xFFFF) : nullptr;
            print(L"box", message ? text(message) : L"");
            print(L"box-ms", ms());
            clicked = ::GetTickCount64();
            done = box && (argument.empty() || (click(box, argument) &&
                                                waitFor([&] { return !::IsWindowVisible(box); })));
        } else if (verb == L"dialog") {
            done = (dialog = waitForWindow(L"#32770", L"Whats new?"));
            print(L"dialog-ms", ms());
            const std::wstring changes = dialog ? text(find(dialog, L"Edit")) : L"";
            if (changes.size() <= 4096) print(L"dialog", changes);
            RECT edit{};
            ::GetWindowRect(find(dialog, L"Edit"), &edit);
            print(L"dialog-edit", std::to_wstring(edit.left) + L" " + std::to_wstring(edit.top) +
                                      L" " + std::to_wstring(edit.right - edit.left));
            if (done && !argument.empty()) done = click(dialog, argument);
        } else if (verb == L"filled") {
            // A long text goes into the box in parts for seconds after the dialog has opened.
            const HWND box = dialog ? find(dialog, L"Edit") : nullptr;
            done = box && waitFor([&] { return text(box).size() >= std::stoul(argument); },
                                  3 * kStepTimeoutMs);
            const std::wstring changes = box ? text(box) : L"";
            print(L"filled-length", std::to_wstring(changes.size()));
            print(L"filled-head", changes.substr(0, 60));
            print(L"filled-tail",
                  changes.substr(changes.size() - std::min<size_t>(changes.size(), 60)));
            print(L"filled-top-line",
                  std::to_wstring(::SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0)));
        } else if (verb == L"press") {
            // Through the system's input, as the user's mouse would, at the splash's middle.
            RECT window{};
            done =
                splash && ::GetWindowRect(splash, &window) &&
                ::SetCursorPos((window.left + window.right) / 2, (window.top + window.bottom) / 2);
            INPUT clicks[2]{};
            clicks[0].type = clicks[1].type = INPUT_MOUSE;
            clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
            clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
            done = done && ::SendInput(2, clicks, sizeof(INPUT)) == 2;
        } else if (verb == L"click") {
            done = dialog && click(dialog, argument);
        } else if (verb == L"watch") {
            // How long the strip kept one colour, and the splash a message unanswered; the
            // widths of the pulsing bar from the left, as they change.
            const ULONGLONG watched = ::GetTickCount64();
            ULONGLONG changed = watched, gap = 0, answer = 0;
            DWORD colour = 0;
            std::wstring widths;
            size_t width = 0;
            done = splash &&
                   waitFor(
                       [&] {
                           const ULONGLONG now = ::GetTickCount64();
                           DWORD_PTR result = 0;
                           ::SendMessageTimeoutW(splash, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result);
                           answer = std::max(answer, ::GetTickCount64() - now);
                           const std::vector<DWORD> row = stripRow(splash);
                           if (row.empty()) return true;
                           if (row[0] != colour) colour = row[0], changed = now;
                           gap = std::max(gap, now - changed);
                           const auto bar = std::find_if(row.begin(), row.end(),
                                                         [&](DWORD c) { return c != colour; });
                           if (colour & 0xFF0000 && static_cast<size_t>(bar - row.begin()) != width)
                               widths += L" " + std::to_wstring(
                                                    width = static_cast<size_t>(bar - row.begin()));
                           return find(nullptr, L"#32770") || !::IsWindowVisible(splash);
                       },
                       60000);
            print(L"watch-ms", ms());
            print(L"strip-gap-ms", std::to_wstring(gap));
            print(L"answer-ms", std::to_wstring(answer));
            print(L"strip-widths", widths);
        } else if (verb == L"second") {
            // Something else in front, as when the user has gone on working meanwhile.
            const HWND cover = ::CreateWindowExW(0, L"Static", L"cover", WS_POPUP | WS_VISIBLE, 0,
                                                 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
            // Activation goes by way of the X server and lands some time after the call.
            ::SetForegroundWindow(cover);
            waitFor([&] { return ::GetForegroundWindow() == cover; }, 3000);
            done = run(argument.empty() ? launcherLine : L"\"" + argument + L"\"");
            print(L"second-ms", ms());
            HWND front = nullptr;
            waitFor([&] { return ofLauncher(front = ::GetForegroundWindow()); }, 3000);
            wchar_t frontClass[256] = L"";
            ::GetClassNameW(front, frontClass, 256);
            print(L"second-front",
                  frontClass + std::wstring(ofLauncher(front) ? L" first" : L" other"));
            ::DestroyWindow(cover);
        } else if (verb == L"run") {
            // It leaves a mark when done.
            const std::wstring mark = L"winctl-ran-" + std::to_wstring(::GetCurrentProcessId());
            done = run(L"/bin/sh -c \"" + argument + L"; touch " + mark + L"\"") &&
                   waitFor([&] { return ::DeleteFileW(mark.c_str()); });
        } else if (verb == L"exit") {
            done = ::WaitForSingleObject(launcher, kStepTimeoutMs) == WAIT_OBJECT_0;
            print(L"exit-ms", ms());
        } else {
            done = false;
        }
        if (!done) {
            print(L"timeout", step);
            const HWND box = find(nullptr, L"#32770");
            if (box) print(L"open-box", text(::GetDlgItem(box, 0xFFFF)));
            ::TerminateProcess(launcher, 99);
            return 1;
        }
    }
    return 0;
}
