#include "LaunchForm.h"

#include <algorithm>

#include "Dpi.h"
#include "OpenWindows.h"
#include "PackedBitmap.h"
#include "VersionInfo.h"
#include "resource.h"

namespace velmoor {

namespace {

constexpr wchar_t kClassName[] = L"VelmoorSplash";
// The one form whose trial the thread's timer watches: a timer without a window has no other
// way to it.
LaunchForm* trialForm = nullptr;
// The session's timers on this window: the splash's tick; the update check's and the changes
// file's answers, looked for often enough that a prompt answer starts the application hardly
// later than a check on the spot would; the copy's progress, taken at the strip's own pace, its
// stall noticed within that.
struct TimerSpec {
    UINT_PTR id;
    UINT intervalMs;
};
constexpr TimerSpec kTimers[] = {{1, 100}, {2, 20}, {3, 20}, {4, 100}};

const TimerSpec& timerSpec(SessionTimer timer) {
    return kTimers[static_cast<std::size_t>(timer)];
}

// The copy's progress shows as a bar of the strip's red, never so dark that it goes from view.
constexpr BYTE kLeastBarRed = 60;
constexpr COLORREF kVersionColour = RGB(192, 0, 0);
constexpr COLORREF kBackground = RGB(0, 0, 0);

bool registerClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_VELMOOR));
    windowClass.hIconSm = windowClass.hIcon;
    windowClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kClassName;
    return ::RegisterClassExW(&windowClass) != 0;
}

}  // namespace

LaunchForm::LaunchForm(HINSTANCE instance, Win32Services& services, bool holdsInstall)
    : instance_(instance), services_(services), session_(services, *this, holdsInstall) {}

LaunchForm::~LaunchForm() {
    if (window_) closeWindow();
}

bool LaunchForm::show() {
    // Shown again for a copy after it has closed itself, its class is registered already.
    if (!registerClass(instance_, windowProc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return false;
    }
    // The window has no border or title bar, so its outer size is its client size. A tool
    // window: the taskbar and Alt+Tab do not list a splash that goes by itself. It takes no
    // activation: nothing in it takes input, the focus stays where the user left it, and
    // Wine leaves it to no window manager, so that closing it is not held up waiting for one.
    const HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kClassName, L"Form1",
                                          WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance_, this);
    if (!window) return false;
    windowOpened();
    ::ShowWindow(window, SW_SHOWNOACTIVATE);
    ::UpdateWindow(window);
    session_.activated();
    return true;
}

LRESULT CALLBACK LaunchForm::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* form =
            static_cast<LaunchForm*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->window_ = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<LaunchForm*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form) return ::DefWindowProcW(window, message, wParam, lParam);
    try {
        return form->onMessage(message, wParam, lParam);
    } catch (...) {
        // An exception must not unwind through the system's frames; the handlers report the
        // failures they expect, and the window still closes by its counter.
        return 0;
    }
}

LRESULT LaunchForm::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            services_.setMessageOwner(window_);
            Form_Load();
            return 0;
        case WM_TIMER:
            for (const auto timer : {SessionTimer::splash, SessionTimer::updateCheck,
                                     SessionTimer::changesRead, SessionTimer::copy}) {
                if (wParam == timerSpec(timer).id) session_.poll(timer);
            }
            return 0;
        case WM_PAINT:
            onPaint();
            return 0;
        case WM_LBUTTONUP:
            session_.splashClicked();
            return 0;
        case WM_DPICHANGED:
            onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_CLOSE:
            session_.closeRequested();
            return 0;
        // The launcher never stands in the way of a logoff or shutdown: a copy under way is
        // given up once the session does end, and nothing is started any more.
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam) session_.sessionEnded();
            return 0;
        case WM_NCDESTROY:
            onNcDestroy();
            return 0;
        default:
            return ::DefWindowProcW(window_, message, wParam, lParam);
    }
}

void LaunchForm::Form_Load() {
    progressBarColour_ = kBackground;
    session_.windowCreated();

    logo_.load(instance_, IDB_LOGO, IDB_LOGO_LARGE);

    versionCaption_ = ownVersionCaption();

    layOut(windowDpi(window_));
    const int width = twipsToPixels(layout_.width, dotsPerInch_);
    const int height = twipsToPixels(layout_.height, dotsPerInch_);
    const int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    ::SetWindowPos(window_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void LaunchForm::layOut(int dotsPerInch) {
    dotsPerInch_ = dotsPerInch;
    versionFont_.reset(::CreateFontW(-::MulDiv(9, dotsPerInch_, 72), 0, 0, 0, FW_NORMAL, FALSE,
                                     FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN,
                                     L"Fixedsys"));
    SIZE caption{};
    {
        const WindowDc dc(window_);
        const SelectedObject font(dc.get(), versionFont_.get());
        ::GetTextExtentPoint32W(dc.get(), versionCaption_.c_str(),
                                static_cast<int>(versionCaption_.size()), &caption);
    }

    // The label sizes itself to its caption, so its right end, trailing spaces included,
    // meets the window's right edge.
    layout_ = layOutSplash(pixelsToTwips(logo_.size().cx, SplashLogo::kDotsPerInch),
                           pixelsToTwips(logo_.size().cy, SplashLogo::kDotsPerInch),
                           pixelsToTwips(caption.cx, dotsPerInch_));
}

// Moved to a monitor of another resolution: the same splash, at that monitor's scale, where
// the system suggests.
void LaunchForm::onDpiChanged(int dotsPerInch, const RECT& suggested) {
    layOut(dotsPerInch);
    ::SetWindowPos(window_, nullptr, suggested.left, suggested.top,
                   twipsToPixels(layout_.width, dotsPerInch_),
                   twipsToPixels(layout_.height, dotsPerInch_), SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(window_, nullptr, TRUE);
}

void LaunchForm::startTimer(SessionTimer timer) {
    if (window_) ::SetTimer(window_, timerSpec(timer).id, timerSpec(timer).intervalMs, nullptr);
}

void LaunchForm::stopTimer(SessionTimer timer) {
    if (window_) ::KillTimer(window_, timerSpec(timer).id);
}

void LaunchForm::pulse(std::uint8_t red) {
    progressBarColour_ = RGB(red, 0, 0);
    const RECT strip = toPixels(layout_.progressBar);
    ::InvalidateRect(window_, &strip, FALSE);
}

bool LaunchForm::startTrialWatch() {
    trialTimer_ = ::SetTimer(nullptr, 0, timerSpec(SessionTimer::splash).intervalMs, onTrialTimer);
    if (!trialTimer_) return false;
    trialForm = this;
    windowOpened();
    return true;
}

void LaunchForm::endTrialWatch() {
    ::KillTimer(nullptr, trialTimer_);
    trialTimer_ = 0, trialForm = nullptr;
    windowClosed();
}

void CALLBACK LaunchForm::onTrialTimer(HWND, UINT, UINT_PTR, DWORD) {
    try {
        if (trialForm) trialForm->session_.trialTick();
    } catch (...) {
        // As on the splash window: nothing unwinds through the system's frames.
    }
}

bool LaunchForm::showChangesDialog(const std::wstring& changes, const std::wstring& localJar,
                                   const std::wstring& remoteJar) {
    auto dialog = std::make_unique<ChangesDialog>(instance_, session_);
    if (!dialog->create(window_)) return false;
    changesDialog_ = std::move(dialog);
    changesDialog_->setChanges(changes);
    changesDialog_->setLocalName(localJar);
    changesDialog_->setRemoteName(remoteJar);
    changesDialog_->show();
    return true;
}

// The window takes no activation, so when a message box or the dialog closes the system
// activates another program's window, which may come over the splash window for its last
// seconds; it goes back on top, leaving the activation where it is. Never while the changes
// dialog is up: what asks the user something stays above the splash.
void LaunchForm::comeBackOnTop() {
    if (window_ && !(changesDialog_ && changesDialog_->isOpen())) {
        ::SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
}

// The changes dialog belongs to the splash window to stay above it, and outlives it. Once it
// has owned a box, Wine hands the splash to a window manager, and where none runs it holds the
// hiding of such a window up to 2 s: cleared of its visible style, the window goes without being
// hidden first, and what lay under it is drawn again.
void LaunchForm::closeWindow() {
    if (changesDialog_) changesDialog_->disown();
    RECT covered{};
    ::GetWindowRect(window_, &covered);
    ::SetWindowLongPtrW(window_, GWL_STYLE, ::GetWindowLongPtrW(window_, GWL_STYLE) & ~WS_VISIBLE);
    ::DestroyWindow(window_);
    ::RedrawWindow(nullptr, &covered, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

RECT LaunchForm::toPixels(const TwipRect& rect) const {
    return {twipsToPixels(rect.left, dotsPerInch_), twipsToPixels(rect.top, dotsPerInch_),
            twipsToPixels(rect.left + rect.width, dotsPerInch_),
            twipsToPixels(rect.top + rect.height, dotsPerInch_)};
}

void LaunchForm::onPaint() {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(window_, &paint);

    logo_.draw(dc, toPixels(layout_.logo));

    // The label lies on the logo and paints its own black background to stay readable there.
    {
        const RECT label = toPixels(layout_.versionLabel);
        const SelectedObject font(dc, versionFont_.get());
        ::SetTextColor(dc, kVersionColour);
        ::SetBkColor(dc, kBackground);
        ::SetTextAlign(dc, TA_RIGHT | TA_TOP);
        ::ExtTextOutW(dc, label.right, label.top, ETO_OPAQUE | ETO_CLIPPED, &label,
                      versionCaption_.c_str(), static_cast<UINT>(versionCaption_.size()), nullptr);
    }

    {
        const RECT strip = toPixels(layout_.progressBar);
        RECT filled = strip;
        COLORREF colour = progressBarColour_;
        if (progressShown_) {
            ::FillRect(dc, &strip, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
            filled.right = strip.left + static_cast<LONG>((strip.right - strip.left) *
                                                          std::clamp(*progressShown_, 0.0, 1.0));
            colour = RGB(std::max(GetRValue(colour), kLeastBarRed), 0, 0);
        }
        const BrushHandle brush(::CreateSolidBrush(colour));
        ::FillRect(dc, &filled, brush.get());
    }

    ::EndPaint(window_, &paint);
}

void LaunchForm::onNcDestroy() {
    window_ = nullptr;
    services_.setMessageOwner(nullptr);
    windowClosed();
}

}  // namespace velmoor
