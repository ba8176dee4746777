#include "LaunchForm.h"

#include <algorithm>
#include <new>

#include "Dpi.h"
#include "OpenWindows.h"
#include "PackedBitmap.h"
#include "UpdateWorker.h"
#include "VersionInfo.h"
#include "Win32Error.h"
#include "core/FileLookup.h"
#include "core/Launch.h"
#include "core/Messages.h"
#include "core/PlatformError.h"
#include "core/UpdateTrial.h"
#include "resource.h"
#include "tarvio_version.h"

namespace velmoor {

namespace {

constexpr wchar_t kClassName[] = L"VelmoorSplash";
// A new version has proved itself once it has run this long: java reports what keeps it from
// starting within seconds, and an application that fails its own start up (its configuration,
// its database) within a minute.
constexpr ULONGLONG kTrialMs = 60000;
// The one form whose trial the thread's timer watches: a timer without a window has no other
// way to it.
LaunchForm* trialForm = nullptr;
constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 100;
// Looks for the update check's answer often enough that a prompt answer starts the
// application hardly later than a check on the spot would.
constexpr UINT_PTR kUpdateCheckTimer = 2;
constexpr UINT kUpdateCheckInterval = 20;
constexpr UINT_PTR kChangesReadTimer = 3;
// The copy's progress is taken at the strip's own pace, and its stall is noticed within that.
constexpr UINT_PTR kCopyTimer = 4;
constexpr UINT kCopyInterval = 100;
// A copy that ends within a second leaves the strip pulsing as before; a longer one shows how
// far it has come as a bar of the strip's red, never so dark that the bar goes from view.
constexpr ULONGLONG kProgressAfterMs = 1000;
constexpr BYTE kLeastBarRed = 60;
constexpr COLORREF kVersionColour = RGB(192, 0, 0);
constexpr COLORREF kBackground = RGB(0, 0, 0);
// Shown when the executable's version resource cannot be read.
constexpr wchar_t kDesignedVersionCaption[] = VELMOOR_DESIGNED_CAPTION;
// The logo's pixels are its size at 96 dpi; at any other resolution it keeps its size in
// twips, drawn from the large copy when the screen has more pixels than the small one.
constexpr int kLogoDotsPerInch = 96;

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
    : instance_(instance), services_(services), holdsInstall_(holdsInstall) {}

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
    Form_Activate();
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
            if (wParam == kTimer1) Timer1_Timer();
            if (wParam == kUpdateCheckTimer) onUpdateCheckPoll();
            if (wParam == kChangesReadTimer) onChangesReadPoll();
            if (wParam == kCopyTimer) onCopyPoll();
            return 0;
        case WM_PAINT:
            onPaint();
            return 0;
        case WM_LBUTTONUP:
            onSplashClick();
            return 0;
        case WM_DPICHANGED:
            onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_CLOSE:
            Form_Close();
            return 0;
        // The launcher never stands in the way of a logoff or shutdown: a copy under way is
        // given up once the session does end, and nothing is started any more.
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam) onEndSession();
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
    counter_ = SplashCounter();

    logoImage_ = loadPackedBitmap(instance_, IDB_LOGO);
    BITMAP logo{};
    if (logoImage_ && ::GetObjectW(logoImage_.get(), sizeof logo, &logo)) {
        logoSize_ = {logo.bmWidth, logo.bmHeight};
    }
    largeLogoImage_ = loadPackedBitmap(instance_, IDB_LOGO_LARGE);
    if (largeLogoImage_ && ::GetObjectW(largeLogoImage_.get(), sizeof logo, &logo)) {
        largeLogoSize_ = {logo.bmWidth, logo.bmHeight};
    }

    try {
        const auto version = ownFileVersion();
        versionCaption_ =
            version ? versionCaption(version->major, version->minor) : kDesignedVersionCaption;
    } catch (const PlatformError&) {
        versionCaption_ = kDesignedVersionCaption;
    }

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
    layout_ = layOutSplash(pixelsToTwips(logoSize_.cx, kLogoDotsPerInch),
                           pixelsToTwips(logoSize_.cy, kLogoDotsPerInch),
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

void LaunchForm::Form_Activate() {
    counter_.restart();
    startTimer1();
}

void LaunchForm::Timer1_Timer() {
    if (!launchStarted_) {
        // The timer stays off while the first tick's work shows its message boxes, so no tick
        // runs meanwhile and the work runs once.
        stopTimer1();
        launchStarted_ = true;
        doFirstTickWork();
        comeBackOnTop();
        startTimer1();
    }
    if (watched_) watchStart();
    // While the changes file is read or the update copied, the count stays at its start: the
    // window must not close before it has shown what comes of them.
    if (changesRead_ || copy_) counter_.restart();
    const SplashCounter::Tick tick = counter_.tick();
    progressBarColour_ = RGB(tick.red, 0, 0);
    const RECT strip = toPixels(layout_.progressBar);
    ::InvalidateRect(window_, &strip, FALSE);
    if (tick.close) {
        handOverWatch();
        closeWindow();
    }
}

// A close request (Alt+F4, WM_CLOSE from another program) before the user was asked anything
// has declined nothing: the update is not offered and the installed jar starts, then the window
// goes. Before the first tick, or while the update folder has not answered, that is the launch
// the request would otherwise have prevented; the update check's worker only reads, and what it
// finds later is dropped; so it is while the changes file is read. A close during the copy gives
// the copy up: whoever closes the splash wants it gone, not a wait for the network, and the
// installed jar, untouched, starts. Once the launch is done or left to the dialog, the window
// just goes. A request while a box is open reaches the window through the box's loop: the window
// goes, and the work that asked goes on when the box returns (a copy that a Yes asks for brings
// the window back to show it), so nothing is left half done either way.
void LaunchForm::Form_Close() {
    if (!launchStarted_ || updateCheck_ || changesRead_ || copy_) {
        launchStarted_ = true;
        stopTimer1();
        giveUpWork();
        loadApplication();
    }
    closeWindow();
}

// The session ends after this returns: a copy is given up so that its temporary file goes, and
// no application is started in a session that is going away.
void LaunchForm::onEndSession() {
    sessionEnding_ = true;
    launchStarted_ = true;
    stopTimer1();
    giveUpWork();
}

// Whatever the workers still do is dropped; the copy writes nothing more and is removed.
void LaunchForm::giveUpWork() {
    for (const UINT_PTR timer : {kUpdateCheckTimer, kChangesReadTimer, kCopyTimer}) {
        if (window_) ::KillTimer(window_, timer);
    }
    updateCheck_.reset();
    changesRead_.reset();
    if (copy_) copy_->abandon(services_);
    copy_.reset();
    progressShown_.reset();
}

void LaunchForm::doFirstTickWork() {
    reportingFailures([this] {
        // Before anything looks at the jar: what a cut-off run left half done is settled.
        const std::wstring directory = services_.applicationDirectory();
        if (holdsInstall_) settleInstall(services_, directory + L"\\Tarvio.jar");
        const std::wstring jarName = findJarFile(services_);
        // The lookup's own jar, when it is another: Tarvio.jar is settled already.
        if (holdsInstall_ && !jarName.empty() && !sameFileName(jarName, L"Tarvio.jar"))
            settleInstall(services_, directory + L"\\" + jarName);
        if (jarName.empty()) {
            counter_.shortenAfterNoJar();
        } else if (holdsInstall_) {
            checkForUpdate(jarName);
        } else {
            loadApplication();
        }
    });
}

// Whatever fails here, the caller starts the timer again, or the launcher would never end.
template <typename Work>
void LaunchForm::reportingFailures(Work work) {
    try {
        work();
    } catch (const PlatformError& error) {
        services_.showMessage(unexpectedFailureMessage(error.description(), error.subject()));
        counter_.shortenAfterLaunchFailure();
    } catch (const std::bad_alloc&) {
        services_.showMessage(describeError(ERROR_NOT_ENOUGH_MEMORY));
        counter_.shortenAfterLaunchFailure();
    }
}

// The update folder is looked into on a worker thread, so that a drive that does not answer
// leaves the splash window pulsing; the offer and the launch follow on this thread once the
// answer is in, or once the wait for it has run out.
void LaunchForm::checkForUpdate(const std::wstring& jarName) {
    auto run = std::make_shared<UpdateCheckRun>(services_.applicationDirectory(), jarName);
    updateCheckStarted_ = ::GetTickCount64();
    // Without a thread the check runs here, at the risk of the wait it is meant to avoid.
    if (!startWorker([run](Services& services) { run->run(services); })) run->run(services_);
    updateCheck_ = std::move(run);
    ::SetTimer(window_, kUpdateCheckTimer, kUpdateCheckInterval, nullptr);
}

void LaunchForm::onUpdateCheckPoll() {
    if (!updateCheck_) return;
    const auto elapsed = static_cast<std::int64_t>(::GetTickCount64() - updateCheckStarted_);
    const UpdateCheckRun::Outcome outcome = updateCheck_->poll(elapsed);
    if (outcome == UpdateCheckRun::Outcome::pending) return;
    ::KillTimer(window_, kUpdateCheckTimer);
    const std::shared_ptr<UpdateCheckRun> run = std::move(updateCheck_);
    const std::optional<UpdateFindings> none;
    const auto& findings = outcome == UpdateCheckRun::Outcome::answered ? run->findings() : none;
    if (!findings || !findings->changesFile) {
        offer(findings);
        return;
    }
    // The changes file is read on a worker of its own and awaited a bounded time: its size is
    // the publisher's, and a large one over a slow share must not cost the offer.
    auto read = std::make_shared<ChangesReadRun>();
    changesFor_ = *findings;
    changesReadStarted_ = ::GetTickCount64();
    if (!startWorker([read](Services& services) { read->run(services); })) read->run(services_);
    changesRead_ = std::move(read);
    ::SetTimer(window_, kChangesReadTimer, kUpdateCheckInterval, nullptr);
}

// Changes not read in time are none: the yes/no box asks instead.
void LaunchForm::onChangesReadPoll() {
    if (!changesRead_) return;
    const auto elapsed = static_cast<std::int64_t>(::GetTickCount64() - changesReadStarted_);
    const BoundedRun::Outcome outcome = changesRead_->poll(elapsed);
    if (outcome == BoundedRun::Outcome::pending) return;
    ::KillTimer(window_, kChangesReadTimer);
    const std::shared_ptr<ChangesReadRun> read = std::move(changesRead_);
    std::optional<UpdateFindings> findings = std::move(changesFor_);
    if (outcome == BoundedRun::Outcome::answered) findings->changes = read->changes();
    offer(findings);
}

void LaunchForm::offer(const std::optional<UpdateFindings>& findings) {
    // As on the first tick, no tick runs while the offer's message boxes are open.
    stopTimer1();
    reportingFailures([&] {
        UpdateHost& host = *this;
        offerUpdate(services_, host, findings);
    });
    comeBackOnTop();
    startTimer1();
}

// The copy runs on a worker while the splash window shows its progress; the splash comes back
// for it when the dialog's Upgrade is pressed after the window has closed itself. Without a
// window or a thread the copy runs here, as it did before it had either.
void LaunchForm::installUpdate(const std::wstring& remoteJar, const std::wstring& localJar) {
    if (sessionEnding_) return;
    if (!window_) show();
    auto run = std::make_shared<UpdateCopyRun>(remoteJar, localJar);
    copy_ = run;
    copyStarted_ = ::GetTickCount64();
    if (!window_ || !startWorker([run](Services& services) { run->run(services); })) {
        run->run(services_);
        endCopy();
        return;
    }
    ::SetTimer(window_, kCopyTimer, kCopyInterval, nullptr);
}

void LaunchForm::onCopyPoll() {
    if (!copy_ || askingStop_) return;
    const ULONGLONG elapsed = ::GetTickCount64() - copyStarted_;
    if (copy_->poll(static_cast<std::int64_t>(elapsed)) == WorkerRun::Outcome::pending) {
        if (elapsed >= kProgressAfterMs) progressShown_ = copy_->progress();
        return;
    }
    endCopy();
}

// The splash takes neither the focus nor keys, so a click on it is how the user stops a copy
// that runs long (a slow share, a large jar): a question first, since a click can be a slip.
// Meanwhile the copy goes on, and what comes of it waits for the answer; yes gives the copy up
// as a close would, whether or not it has ended meanwhile, and the installed jar starts.
void LaunchForm::onSplashClick() {
    if (!copy_ || askingStop_) return;
    askingStop_ = true;
    const bool stop = services_.askYesNo(std::wstring(kStopUpdatePrompt));
    askingStop_ = false;
    // A close or the session's end, while the question was open, has given the copy up.
    if (!stop || !copy_) return;
    stopTimer1();
    giveUpWork();
    loadApplication();
    comeBackOnTop();
    startTimer1();
}

// As after the update check, no tick runs while the outcome's box is open, and the count
// starts again once it is answered.
void LaunchForm::endCopy() {
    if (window_) ::KillTimer(window_, kCopyTimer);
    const std::shared_ptr<UpdateCopyRun> run = std::move(copy_);
    progressShown_.reset();
    stopTimer1();
    services_.showMessage(copyReportMessage(run->conclude(services_)));
    loadApplication();
    comeBackOnTop();
    startTimer1();
}

bool LaunchForm::showChangesDialog(const std::wstring& changes, const std::wstring& localJar,
                                   const std::wstring& remoteJar) {
    UpdateHost& owner = *this;
    auto dialog = std::make_unique<ChangesDialog>(instance_, owner);
    if (!dialog->create(window_)) return false;
    changesDialog_ = std::move(dialog);
    changesDialog_->setChanges(changes);
    changesDialog_->setLocalName(localJar);
    changesDialog_->setRemoteName(remoteJar);
    changesDialog_->show();
    return true;
}

// The splash window becomes active again as the dialog closes. Restarting its count here
// rather than on activation also covers the case that another program takes the focus, so
// the splash window is never left stopped with the launcher running.
void LaunchForm::changesDialogClosed() {
    if (!window_) return;
    comeBackOnTop();
    Form_Activate();
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
// A watch that the window's end cuts short is not a trial passed: the next start watches again.
void LaunchForm::closeWindow() {
    if (!trialTimer_) watched_.reset();
    if (changesDialog_) changesDialog_->disown();
    RECT covered{};
    ::GetWindowRect(window_, &covered);
    ::SetWindowLongPtrW(window_, GWL_STYLE, ::GetWindowLongPtrW(window_, GWL_STYLE) & ~WS_VISIBLE);
    ::DestroyWindow(window_);
    ::RedrawWindow(nullptr, &covered, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

bool LaunchForm::preTranslateMessage(MSG& message) {
    return changesDialog_ && changesDialog_->isDialogMessage(message);
}

void LaunchForm::loadApplication() {
    if (sessionEnding_) return;
    Launch launch = velmoor::loadApplication(services_);
    if (!launch.process) {
        skipLaunch();  // the user has been told why: the window closes soon
        return;
    }
    trial_ = holdsInstall_ && onTrial(services_, launch.localJar);
    watchedSince_ = ::GetTickCount64();
    watched_ = std::move(launch);
    // Started from the changes dialog after the splash has gone: only a trial is watched.
    if (!window_) handOverWatch();
}

void LaunchForm::skipLaunch() {
    stopTimer1();
    counter_.shortenAfterLaunchFailure();
}

// A start that ends with an error while it is watched is reported, with java's reasons; a new
// version that does so gives way to the previous one, which starts once the user has read why,
// watched in turn. A start that ends well is the user's to see.
void LaunchForm::watchStart() {
    const std::optional<std::uint32_t> exitCode = watched_->process->exitCode();
    if (!exitCode) return;
    if (*exitCode == 0) {
        endWatch();
        return;
    }
    const Launch ended = std::move(*watched_);
    watched_.reset();
    stopTimer1();
    const std::wstring message = failureMessage(ended, *exitCode);
    if (!message.empty()) services_.showMessage(message);
    if (watched_) {
        counter_.restart();
    } else {
        counter_.shortenAfterLaunchFailure();
    }
    comeBackOnTop();
    startTimer1();
}

// What the user is told of a start that ended with an error; a trial failed puts the previous
// version back and starts it, with the splash window to watch it.
std::wstring LaunchForm::failureMessage(const Launch& ended, std::uint32_t exitCode) {
    const std::wstring output = ended.process->errorOutput();
    if (const auto undone = std::exchange(undoneExitCode_, std::nullopt); undone && holdsInstall_) {
        return previousFailedToo(services_, ended.localJar, *undone, exitCode, output);
    }
    const FailedStart failed =
        failedStart(services_, ended.localJar, exitCode, output, holdsInstall_ && trial_);
    if (!failed.restored) return failed.message;
    // The box comes first, above every window: the previous version's own window must not
    // cover it. It starts once the box is answered.
    services_.showMessage(failed.message);
    if (!window_) show();
    loadApplication();
    if (watched_) undoneExitCode_ = exitCode;
    return {};
}

// The start has ended well, or outlived its watch: a new version on trial has passed, and a
// failed one kept beside the previous version is no longer needed.
void LaunchForm::endWatch() {
    if (watched_ && holdsInstall_) passedStart(services_, watched_->localJar);
    watched_.reset();
    undoneExitCode_.reset();
}

// The splash goes: a new version on trial is watched on without a window; any other start has
// outlived its watch.
void LaunchForm::handOverWatch() {
    if (!watched_ || !trial_ || trialTimer_) {
        endWatch();
        return;
    }
    trialTimer_ = ::SetTimer(nullptr, 0, kTimer1Interval, onTrialTimer);
    // Without it the trial ends here, unjudged: the next start watches again.
    if (!trialTimer_) {
        watched_.reset();
        return;
    }
    trialForm = this;
    windowOpened();
}

void CALLBACK LaunchForm::onTrialTimer(HWND, UINT, UINT_PTR, DWORD) {
    try {
        if (trialForm) trialForm->onTrialTick();
    } catch (...) {
        // As on the splash window: nothing unwinds through the system's frames.
    }
}

void LaunchForm::onTrialTick() {
    if (!watched_) return endTrial();
    const std::optional<std::uint32_t> exitCode = watched_->process->exitCode();
    if (!exitCode) {
        if (::GetTickCount64() - watchedSince_ >= kTrialMs) endTrial();
        return;
    }
    if (*exitCode == 0) return endTrial();
    ::KillTimer(nullptr, trialTimer_);
    const Launch ended = std::move(*watched_);
    watched_.reset();
    // The trial counts as a window until the splash is back, or the launcher would end under the
    // box.
    const std::wstring message = failureMessage(ended, *exitCode);
    if (!message.empty()) services_.showMessage(message);
    trialTimer_ = 0, trialForm = nullptr;
    windowClosed();
}

// The trial has passed: the new version has run its time, or ended well.
void LaunchForm::endTrial() {
    endWatch();
    ::KillTimer(nullptr, trialTimer_);
    trialTimer_ = 0, trialForm = nullptr;
    windowClosed();
}

void LaunchForm::startTimer1() {
    if (window_) ::SetTimer(window_, kTimer1, kTimer1Interval, nullptr);
}

void LaunchForm::stopTimer1() {
    if (window_) ::KillTimer(window_, kTimer1);
}

RECT LaunchForm::toPixels(const TwipRect& rect) const {
    return {twipsToPixels(rect.left, dotsPerInch_), twipsToPixels(rect.top, dotsPerInch_),
            twipsToPixels(rect.left + rect.width, dotsPerInch_),
            twipsToPixels(rect.top + rect.height, dotsPerInch_)};
}

void LaunchForm::onPaint() {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(window_, &paint);

    drawLogo(dc);

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

void LaunchForm::drawLogo(HDC dc) const {
    const RECT at = toPixels(layout_.logo);
    const SIZE size{at.right - at.left, at.bottom - at.top};
    const bool large = largeLogoImage_ && (size.cx > logoSize_.cx || size.cy > logoSize_.cy);
    const HBITMAP image = large ? largeLogoImage_.get() : logoImage_.get();
    const SIZE imageSize = large ? largeLogoSize_ : logoSize_;
    if (!image) return;
    const MemoryDc logoDc(::CreateCompatibleDC(dc));
    const SelectedObject logo(logoDc.get(), image);
    if (size.cx == imageSize.cx && size.cy == imageSize.cy) {
        ::BitBlt(dc, at.left, at.top, size.cx, size.cy, logoDc.get(), 0, 0, SRCCOPY);
        return;
    }
    // Averaged rather than sampled, so that a shrunk ring keeps its smooth edge.
    ::SetStretchBltMode(dc, HALFTONE);
    ::SetBrushOrgEx(dc, 0, 0, nullptr);
    ::StretchBlt(dc, at.left, at.top, size.cx, size.cy, logoDc.get(), 0, 0, imageSize.cx,
                 imageSize.cy, SRCCOPY);
}

void LaunchForm::onNcDestroy() {
    window_ = nullptr;
    services_.setMessageOwner(nullptr);
    windowClosed();
}

}  // namespace velmoor
