// Test driver for the launcher under Wine. Starts the launcher, then plays the steps given on
// its command line in order, printing one line per observation:
//   splash         wait for the splash window; prints "splash: LEFT TOP WIDTH HEIGHT" and
//                  "splash-taskbar: none" for a tool window, "entry" for one the taskbar and
//                  Alt+Tab would list
//   java           wait for the stand-in java.exe to have started; prints "java: started",
//                  "java-ms: N", the time since the previous step, and, once the splash window
//                  is known, "strip-changes: N", how often the colour of its strip changed
//                  meanwhile, and "strip-still-ms: N", the longest time it kept one colour
//   box=BUTTON     wait for a message box; prints "box-title: ..." and "box: TEXT", clicks BUTTON;
//                  the next step's time counts from the click. Without =BUTTON it only waits.
//   second         put a window of the driver's own in front, start a second launcher from the
//                  same place and wait for it to end; prints "second-ms: N" and
//                  "second-front: CLASS first|other", the class of the foreground window then
//                  and whose it is
//   dialog=BUTTON  wait for the changes dialog; prints "dialog-ms: N", the time since the
//                  previous step, then of its text box "dialog: TEXT" (up to 4096 characters),
//                  "dialog-length: N" and "dialog-tail: TEXT" (the last 60 characters); clicks
//                  BUTTON if given (or presses Escape, or clicks the close box: Escape, CloseBox)
//   filled=N       wait for the dialog's text box to hold N characters; prints "filled-ms: N",
//                  "filled-length: N", "filled-tail: TEXT" and "filled-top-line: N", the first
//                  line in view
//   click=BUTTON   clicks BUTTON in the changes dialog
//   input          waits for a line on standard input
//   closed         wait for the splash window to close; prints "closed-ms: N", the time since
//                  the previous step, and "enabled-ms: N", when it was first seen enabled
// Then it waits for the launcher to end and prints "exit-ms: N", the time since the last step.
// Line breaks in texts are printed as \r and \n. A step or the end that does not come in time
// prints "timeout: STEP", ends the launcher and fails.
#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kStepTimeoutMs = 20000;
constexpr std::size_t kLongText = 4096;
constexpr std::size_t kTail = 60;

void print(const std::wstring& line) {
    std::wstring text = line + L"\n";
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(size, '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                          size, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
                &written, nullptr);
}

std::wstring escaped(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\r') {
            out += L"\\r";
        } else if (c == L'\n') {
            out += L"\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring windowText(HWND window) {
    const LRESULT length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        ::SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::wstring className(HWND window) {
    wchar_t name[256] = L"";
    ::GetClassNameW(window, name, 256);
    return name;
}

struct Search {
    DWORD processId;
    std::wstring className;
    std::wstring title;  // empty: any
    HWND found = nullptr;
};

BOOL CALLBACK matchTopLevel(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !::IsWindowVisible(window)) return TRUE;
    if (className(window) != search->className) return TRUE;
    if (!search->title.empty() && windowText(window) != search->title) return TRUE;
    search->found = window;
    return FALSE;
}

// Windows of another process cannot be awaited, so this looks for them every few ms; it gives
// up early when the launcher has ended.
HWND waitForWindow(HANDLE process, DWORD processId, const std::wstring& windowClass,
                   const std::wstring& title = L"") {
    const ULONGLONG deadline = ::GetTickCount64() + kStepTimeoutMs;
    while (::GetTickCount64() < deadline) {
        Search search{processId, windowClass, title};
        ::EnumWindows(matchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        if (::WaitForSingleObject(process, 10) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

bool waitUntilGone(HWND window) {
    const ULONGLONG deadline = ::GetTickCount64() + kStepTimeoutMs;
    while (::GetTickCount64() < deadline) {
        if (!::IsWindow(window) || !::IsWindowVisible(window)) return true;
        ::Sleep(10);
    }
    return false;
}

struct ChildSearch {
    std::wstring className;
    std::wstring text;  // compared without '&'
    int id = -1;        // or by control id
    HWND found = nullptr;
};

std::wstring withoutAmpersands(std::wstring text) {
    std::erase(text, L'&');
    return text;
}

BOOL CALLBACK matchChild(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<ChildSearch*>(parameter);
    if (className(window) != search->className) return TRUE;
    if (search->id >= 0 && ::GetDlgCtrlID(window) != search->id) return TRUE;
    if (!search->text.empty() && withoutAmpersands(windowText(window)) != search->text) return TRUE;
    search->found = window;
    return FALSE;
}

HWND child(HWND parent, const std::wstring& windowClass, const std::wstring& text, int id = -1) {
    ChildSearch search{windowClass, text, id};
    ::EnumChildWindows(parent, matchChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A message box is gone once answered; the changes dialog stays until the message boxes that
// its buttons show have been answered.
// "Escape" and "CloseBox" are no buttons: the key goes to the control with the focus, as the
// keyboard's would, and the close box's click comes as the system command it makes.
bool click(HWND dialog, const std::wstring& button, bool waitForClose) {
    if (button == L"Escape") {
        GUITHREADINFO thread{};
        thread.cbSize = sizeof thread;
        ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &thread);
        ::PostMessageW(thread.hwndFocus ? thread.hwndFocus : dialog, WM_KEYDOWN, VK_ESCAPE, 1);
    } else if (button == L"CloseBox") {
        ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        const HWND control = child(dialog, L"Button", button);
        if (!control) return false;
        ::PostMessageW(control, BM_CLICK, 0, 0);
    }
    return !waitForClose || waitUntilGone(dialog);
}

void printTextEnd(const std::wstring& step, const std::wstring& text) {
    print(step + L"-length: " + std::to_wstring(text.size()));
    print(step + L"-tail: " + escaped(text.substr(text.size() - std::min(text.size(), kTail))));
}

// The changes dialog may take a long text in parts after it has opened, for seconds on a busy
// machine.
bool waitForLength(HWND box, std::size_t length) {
    const ULONGLONG deadline = ::GetTickCount64() + 3 * kStepTimeoutMs;
    while (::GetTickCount64() < deadline) {
        if (static_cast<std::size_t>(::SendMessageW(box, WM_GETTEXTLENGTH, 0, 0)) >= length) {
            return true;
        }
        ::Sleep(10);
    }
    return false;
}

// Watches the colour of the splash window's strip, read from the screen, while a step waits.
class StripWatch {
  public:
    explicit StripWatch(HWND splash) : splash_(splash), screen_(::GetDC(nullptr)) {}
    StripWatch(const StripWatch&) = delete;
    StripWatch& operator=(const StripWatch&) = delete;
    ~StripWatch() { ::ReleaseDC(nullptr, screen_); }

    void sample() {
        const ULONGLONG now = ::GetTickCount64();
        if (!splash_ || !::IsWindowVisible(splash_)) return;
        RECT rect;
        ::GetWindowRect(splash_, &rect);
        const COLORREF colour = ::GetPixel(screen_, (rect.left + rect.right) / 2, rect.bottom - 3);
        if (started_ == 0) {
            started_ = lastChange_ = now;
        } else if (colour != colour_) {
            ++changes_;
            longestStill_ = std::max(longestStill_, now - lastChange_);
            lastChange_ = now;
        }
        colour_ = colour;
        lastSample_ = now;
    }

    void print() const {
        if (started_ == 0) return;
        ::print(L"strip-changes: " + std::to_wstring(changes_));
        ::print(L"strip-still-ms: " +
                std::to_wstring(std::max(longestStill_, lastSample_ - lastChange_)));
    }

  private:
    HWND splash_;
    HDC screen_;
    COLORREF colour_ = CLR_INVALID;
    ULONGLONG started_ = 0;
    ULONGLONG lastChange_ = 0;
    ULONGLONG lastSample_ = 0;
    ULONGLONG longestStill_ = 0;
    int changes_ = 0;
};

// Whether the taskbar and Alt+Tab list a top-level window: tool windows and owned windows
// they leave out, unless the window asks to be listed.
bool listedInTaskbar(HWND window) {
    const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_EXSTYLE);
    if (style & WS_EX_APPWINDOW) return true;
    return !(style & WS_EX_TOOLWINDOW) && !::GetWindow(window, GW_OWNER);
}

int fail(HANDLE process, const std::wstring& what) {
    print(L"timeout: " + what);
    ::TerminateProcess(process, 99);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        print(L"usage: winctl LAUNCHER [splash|java|box=BUTTON|dialog=BUTTON]...");
        return 2;
    }
    // The stand-in java.exe signals this event; the name is unique to this run, so scenarios
    // running side by side in one Wine prefix do not see each other's launches.
    const std::wstring eventName = L"VelmoorJavaStarted" + std::to_wstring(::GetCurrentProcessId());
    const HANDLE javaStarted = ::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    ::SetEnvironmentVariableW(L"VELMOOR_JAVA_EVENT", eventName.c_str());

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION launcher{};
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    if (!::CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &launcher)) {
        print(L"start: failed " + std::to_wstring(::GetLastError()));
        return 1;
    }
    const HANDLE process = launcher.hProcess;
    const DWORD processId = launcher.dwProcessId;

    ULONGLONG stepEnded = ::GetTickCount64();
    ULONGLONG clicked = 0;  // when a box step clicked its button: what the user waits from
    HWND splash = nullptr;
    HWND dialog = nullptr;
    for (int i = 2; i < argc;
         ++i, stepEnded = clicked ? std::exchange(clicked, 0) : ::GetTickCount64()) {
        const std::wstring step = argv[i];
        const auto equals = step.find(L'=');
        const std::wstring verb = step.substr(0, equals);
        const std::wstring argument = equals == std::wstring::npos ? L"" : step.substr(equals + 1);
        if (verb == L"splash") {
            splash = waitForWindow(process, processId, L"VelmoorSplash");
            if (!splash) return fail(process, step);
            RECT rect;
            ::GetWindowRect(splash, &rect);
            print(L"splash: " + std::to_wstring(rect.left) + L" " + std::to_wstring(rect.top) +
                  L" " + std::to_wstring(rect.right - rect.left) + L" " +
                  std::to_wstring(rect.bottom - rect.top));
            print(L"splash-taskbar: " + std::wstring(listedInTaskbar(splash) ? L"entry" : L"none"));
        } else if (verb == L"closed") {
            if (!splash) return fail(process, step);
            const ULONGLONG deadline = ::GetTickCount64() + kStepTimeoutMs;
            ULONGLONG enabled = 0;
            while (::IsWindow(splash) && ::IsWindowVisible(splash)) {
                if (!enabled && ::IsWindowEnabled(splash)) enabled = ::GetTickCount64();
                if (::GetTickCount64() > deadline) return fail(process, step);
                ::Sleep(5);
            }
            print(L"closed-ms: " + std::to_wstring(::GetTickCount64() - stepEnded));
            if (enabled) print(L"enabled-ms: " + std::to_wstring(enabled - stepEnded));
        } else if (verb == L"java") {
            StripWatch strip(splash);
            const ULONGLONG deadline = ::GetTickCount64() + kStepTimeoutMs;
            while (::WaitForSingleObject(javaStarted, 10) != WAIT_OBJECT_0) {
                if (::GetTickCount64() > deadline) return fail(process, step);
                strip.sample();
            }
            print(L"java: started");
            print(L"java-ms: " + std::to_wstring(::GetTickCount64() - stepEnded));
            strip.print();
        } else if (verb == L"box") {
            const HWND box =
                waitForWindow(process, processId, L"#32770", L"Ostrel Tarvio Launcher");
            if (!box) return fail(process, step);
            const HWND text = child(box, L"Static", L"", 0xFFFF);
            print(L"box-title: " + windowText(box));
            print(L"box: " + escaped(text ? windowText(text) : L""));
            if (equals != std::wstring::npos) {
                clicked = ::GetTickCount64();
                if (!click(box, argument, true)) return fail(process, step);
            }
        } else if (verb == L"dialog") {
            dialog = waitForWindow(process, processId, L"#32770", L"Whats new?");
            if (!dialog) return fail(process, step);
            print(L"dialog-ms: " + std::to_wstring(::GetTickCount64() - stepEnded));
            const HWND box = child(dialog, L"Edit", L"");
            const std::wstring text = box ? windowText(box) : L"";
            // A long text goes by its length and its end only, to keep the output readable.
            if (text.size() <= kLongText) print(L"dialog: " + escaped(text));
            printTextEnd(L"dialog", text);
            RECT client;
            ::GetClientRect(dialog, &client);
            POINT origin{0, 0};
            ::ClientToScreen(dialog, &origin);
            print(L"dialog-client: " + std::to_wstring(origin.x) + L" " +
                  std::to_wstring(origin.y) + L" " + std::to_wstring(client.right) + L" " +
                  std::to_wstring(client.bottom));
            if (!argument.empty() && !click(dialog, argument, false)) return fail(process, step);
        } else if (verb == L"filled") {
            const HWND box = dialog ? child(dialog, L"Edit", L"") : nullptr;
            if (!box || !waitForLength(box, std::stoul(argument))) return fail(process, step);
            print(L"filled-ms: " + std::to_wstring(::GetTickCount64() - stepEnded));
            printTextEnd(L"filled", windowText(box));
            print(L"filled-top-line: " +
                  std::to_wstring(::SendMessageW(box, EM_GETFIRSTVISIBLELINE, 0, 0)));
        } else if (verb == L"click") {
            if (!dialog || !click(dialog, argument, false)) return fail(process, step);
        } else if (verb == L"second") {
            // Something else in front, as when the user has gone on working meanwhile.
            const HWND cover = ::CreateWindowExW(0, L"Static", L"cover", WS_POPUP | WS_VISIBLE, 0,
                                                 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
            ::SetForegroundWindow(cover);
            PROCESS_INFORMATION second{};
            std::wstring secondLine = commandLine;
            if (!::CreateProcessW(argv[1], secondLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &second)) {
                return fail(process, step);
            }
            ::CloseHandle(second.hThread);
            const bool ended =
                ::WaitForSingleObject(second.hProcess, kStepTimeoutMs) == WAIT_OBJECT_0;
            if (!ended) ::TerminateProcess(second.hProcess, 99);
            ::CloseHandle(second.hProcess);
            if (!ended) return fail(process, step);
            print(L"second-ms: " + std::to_wstring(::GetTickCount64() - stepEnded));
            const HWND front = ::GetForegroundWindow();
            DWORD frontProcess = 0;
            ::GetWindowThreadProcessId(front, &frontProcess);
            print(L"second-front: " + className(front) +
                  (frontProcess == processId ? L" first" : L" other"));
            ::DestroyWindow(cover);
        } else if (verb == L"input") {
            // Lets the test change files while the launcher waits for the user.
            char line[64];
            DWORD read = 0;
            ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), line, sizeof line, &read, nullptr);
        } else {
            print(L"unknown step: " + step);
            ::TerminateProcess(process, 99);
            return 2;
        }
    }

    if (::WaitForSingleObject(process, kStepTimeoutMs) != WAIT_OBJECT_0)
        return fail(process, L"exit");
    print(L"exit-ms: " + std::to_wstring(::GetTickCount64() - stepEnded));
    ::CloseHandle(launcher.hThread);
    ::CloseHandle(process);
    ::CloseHandle(javaStarted);
    return 0;
}
