#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "ChangesDialog.h"
#include "PackedBitmap.h"
#include "UpdateWorker.h"
#include "Win32Error.h"
#include "Win32Services.h"
#include "WinHandles.h"
#include "core/LaunchSession.h"
#include "core/SplashLayout.h"

namespace velmoor {

// The splash window: the logo, the version label and the pulsing strip. It turns its timers and
// messages into events of the launch session, and carries out what the session asks of the
// windows. The object lives for the whole run and outlives its window, so the launch stays
// reachable after the window has closed itself.
class LaunchForm : private SessionHost {
  public:
    // Without the install's claim the application starts without an update check, and a start
    // that fails is reported but not undone: the files are the claim holder's.
    LaunchForm(HINSTANCE instance, Win32Services& services, bool holdsInstall);
    LaunchForm(const LaunchForm&) = delete;
    LaunchForm& operator=(const LaunchForm&) = delete;
    ~LaunchForm();

    // Creates the window, lays it out and shows it centred. False when it cannot be created.
    bool show();

    // Gives the changes dialog the keyboard messages meant for it; true when it took one.
    bool preTranslateMessage(MSG& message) {
        return changesDialog_ && changesDialog_->isDialogMessage(message);
    }

  private:
    std::int64_t nowMs() override { return static_cast<std::int64_t>(::GetTickCount64()); }
    bool windowOpen() override { return window_ != nullptr; }
    void showWindow() override { show(); }
    void closeWindow() override;
    void startTimer(SessionTimer timer) override;
    void stopTimer(SessionTimer timer) override;
    void pulse(std::uint8_t red) override;
    void showProgress(std::optional<double> progress) override { progressShown_ = progress; }
    void comeBackOnTop() override;
    bool showChangesDialog(const std::wstring& changes, const std::wstring& localJar,
                           const std::wstring& remoteJar) override;
    bool startWorker(std::function<void(Services&)> work) override {
        return velmoor::startWorker(std::move(work));
    }
    bool startTrialWatch() override;
    void pauseTrialWatch() override { ::KillTimer(nullptr, trialTimer_); }
    void endTrialWatch() override;
    std::wstring outOfMemoryText() override { return describeError(ERROR_NOT_ENOUGH_MEMORY); }

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void Form_Load();
    void layOut(int dotsPerInch);
    void onDpiChanged(int dotsPerInch, const RECT& suggested);
    void onPaint();
    void onNcDestroy();
    static void CALLBACK onTrialTimer(HWND, UINT, UINT_PTR, DWORD);
    RECT toPixels(const TwipRect& rect) const;

    HINSTANCE instance_;
    Win32Services& services_;
    LaunchSession session_;
    HWND window_ = nullptr;
    COLORREF progressBarColour_ = RGB(0, 0, 0);
    // How much of the copy the strip shows, once it has run a while.
    std::optional<double> progressShown_;
    int dotsPerInch_ = 96;
    SplashLayout layout_;
    std::wstring versionCaption_;
    SplashLogo logo_;
    FontHandle versionFont_;
    std::unique_ptr<ChangesDialog> changesDialog_;
    // The thread's timer that watches a trial once the splash has gone. It counts as an open
    // window, so that the launcher runs on, but there is none: a launcher started meanwhile
    // finds nothing to bring to the front, and starts the application at once.
    UINT_PTR trialTimer_ = 0;
};

}  // namespace velmoor
