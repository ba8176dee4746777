#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "ChangesDialog.h"
#include "Win32Services.h"
#include "WinHandles.h"
#include "core/Launch.h"
#include "core/Services.h"
#include "core/SplashCounter.h"
#include "core/SplashLayout.h"
#include "core/Update.h"
#include "core/UpdateCheckRun.h"
#include "core/UpdateCopy.h"

namespace velmoor {

// The splash window: the logo, the version label and the pulsing strip. Its first timer tick
// does the launcher's work; later ticks pulse the strip and count down to closing the window.
// The object lives for the whole run and outlives its window, so the launch stays reachable
// after the window has closed itself.
class LaunchForm : private UpdateHost {
  public:
    // Without the install's claim the application starts without an update check, and a start
    // that fails is reported but not undone: the files are the claim holder's.
    LaunchForm(HINSTANCE instance, Win32Services& services, bool holdsInstall);
    LaunchForm(const LaunchForm&) = delete;
    LaunchForm& operator=(const LaunchForm&) = delete;
    ~LaunchForm();

    // Creates the window, lays it out and shows it centred. False when it cannot be created.
    bool show();

    // Starts the application, or tells the user why it cannot and lets the window close soon.
    void loadApplication() override;

    // Gives the changes dialog the keyboard messages meant for it; true when it took one.
    bool preTranslateMessage(MSG& message);

  private:
    bool showChangesDialog(const std::wstring& changes, const std::wstring& localJar,
                           const std::wstring& remoteJar) override;
    void changesDialogClosed() override;
    void installUpdate(const std::wstring& remoteJar, const std::wstring& localJar) override;
    void skipLaunch() override;

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void Form_Load();
    void Form_Activate();
    void Timer1_Timer();
    void Form_Close();
    void layOut(int dotsPerInch);
    void onDpiChanged(int dotsPerInch, const RECT& suggested);
    void onPaint();
    void drawLogo(HDC dc) const;
    void onNcDestroy();

    void doFirstTickWork();
    void checkForUpdate(const std::wstring& jarName);
    void onUpdateCheckPoll();
    void offer(const std::optional<UpdateFindings>& findings);
    void onChangesReadPoll();
    void onCopyPoll();
    void onSplashClick();
    void endCopy();
    void onEndSession();
    void giveUpWork();
    template <typename Work>
    void reportingFailures(Work work);
    void watchStart();
    std::wstring failureMessage(const Launch& ended, std::uint32_t exitCode);
    void endWatch();
    void handOverWatch();
    static void CALLBACK onTrialTimer(HWND, UINT, UINT_PTR, DWORD);
    void onTrialTick();
    void endTrial();
    void comeBackOnTop();
    void closeWindow();
    void startTimer1();
    void stopTimer1();
    RECT toPixels(const TwipRect& rect) const;

    HINSTANCE instance_;
    Win32Services& services_;
    const bool holdsInstall_;
    HWND window_ = nullptr;
    bool launchStarted_ = false;
    SplashCounter counter_;
    COLORREF progressBarColour_ = RGB(0, 0, 0);
    int dotsPerInch_ = 96;
    SplashLayout layout_;
    std::wstring versionCaption_;
    BitmapHandle logoImage_;
    SIZE logoSize_{};
    BitmapHandle largeLogoImage_;
    SIZE largeLogoSize_{};
    FontHandle versionFont_;
    std::unique_ptr<ChangesDialog> changesDialog_;
    // The update check under way on its worker thread, and when it started.
    std::shared_ptr<UpdateCheckRun> updateCheck_;
    ULONGLONG updateCheckStarted_ = 0;
    // The changes file being read for the update found, and when the reading started.
    std::shared_ptr<ChangesReadRun> changesRead_;
    UpdateFindings changesFor_;
    ULONGLONG changesReadStarted_ = 0;
    // The copy of the update under way, when it started, and how much of it the strip shows.
    std::shared_ptr<UpdateCopyRun> copy_;
    ULONGLONG copyStarted_ = 0;
    std::optional<double> progressShown_;
    // The user is being asked whether to stop the copy: its outcome waits for the answer.
    bool askingStop_ = false;
    // The session is ending: nothing more is copied or started.
    bool sessionEnding_ = false;
    // The application started last, watched for as long as the window is open: java reports a
    // jar it cannot open or run within a second or two, well inside the window's five. A new
    // version on trial is watched on, without a window, until kTrialMs from java's start.
    std::optional<Launch> watched_;
    ULONGLONG watchedSince_ = 0;
    bool trial_ = false;
    // The watched start is the previous version, put back after the new one ended with this code.
    std::optional<std::uint32_t> undoneExitCode_;
    // The thread's timer that watches a trial once the splash has gone. It counts as an open
    // window, so that the launcher runs on, but there is none: a launcher started meanwhile finds
    // nothing to bring to the front, and starts the application at once.
    UINT_PTR trialTimer_ = 0;
};

}  // namespace velmoor
