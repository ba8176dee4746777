#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Launch.h"
#include "Services.h"
#include "SplashCounter.h"
#include "Update.h"
#include "UpdateCheckRun.h"
#include "UpdateCopy.h"

namespace velmoor {

// The timers the session runs on the splash window; each tick comes back as an event.
enum class SessionTimer { splash, updateCheck, changesRead, copy };

// What the launch session asks of the launcher's windows. Message boxes and the start of java
// go through the platform services; everything here is about the windows and their timers.
class SessionHost {
  public:
    // The clock, in milliseconds, that the session measures its waits by.
    virtual std::int64_t nowMs() = 0;
    virtual bool windowOpen() = 0;
    // The splash window again, after it has closed itself, to show a copy or a restored start.
    virtual void showWindow() = 0;
    virtual void closeWindow() = 0;
    // A timer of a window that is gone starts and stops nothing.
    virtual void startTimer(SessionTimer timer) = 0;
    virtual void stopTimer(SessionTimer timer) = 0;
    // The strip's red level after a tick, which repaints it.
    virtual void pulse(std::uint8_t red) = 0;
    // How far the copy has come, shown by the strip from its next paint; nothing: no bar.
    virtual void showProgress(std::optional<double> progress) = 0;
    virtual void comeBackOnTop() = 0;
    virtual bool showChangesDialog(const std::wstring& changes, const std::wstring& localJar,
                                   const std::wstring& remoteJar) = 0;
    // Runs the work on a thread of its own, with services of its own; false when none started.
    virtual bool startWorker(std::function<void(Services&)> work) = 0;
    // Watches a trial on after the splash has gone: trialTick events until endTrialWatch; it
    // counts as an open window, so that the launcher runs on. False when it cannot.
    virtual bool startTrialWatch() = 0;
    // Stops the trial's ticks but still counts as a window, while a box reports the trial.
    virtual void pauseTrialWatch() = 0;
    virtual void endTrialWatch() = 0;
    // The system's own text for running out of memory.
    virtual std::wstring outOfMemoryText() = 0;

  protected:
    ~SessionHost() = default;
};

// One run of the launcher from the splash window's first tick to its end: the jar lookup, the
// update check on a worker, the offer, the copy, the start of java and its watch, a close and
// the end of the user's session. The window turns its timers and messages into the events
// below, and the session answers with commands to the host and to the services. It owns the
// splash counter, and so when the window closes. The changes dialog's buttons reach it as its
// UpdateHost.
class LaunchSession : public UpdateHost {
  public:
    // A new version has proved itself once it has run this long: java reports what keeps it
    // from starting within seconds, and an application that fails its own start up (its
    // configuration, its database) within a minute.
    static constexpr std::int64_t kTrialMs = 60000;
    // A copy that ends within a second leaves the strip pulsing as before; a longer one shows
    // how far it has come.
    static constexpr std::int64_t kProgressAfterMs = 1000;

    // Without the install's claim the application starts without an update check, and a start
    // that fails is reported but not undone: the files are the claim holder's.
    LaunchSession(Services& services, SessionHost& host, bool holdsInstall)
        : services_(services), host_(host), holdsInstall_(holdsInstall) {}

    // The window has been made (again): its count starts afresh.
    void windowCreated() { counter_ = SplashCounter(); }
    // The window is shown, or comes back: 51 ticks from now it closes.
    void activated();
    void tick();
    // The update check's result, the changes file's, or the copy's progress and end.
    void poll(SessionTimer timer);
    void splashClicked();
    // A close request: nothing declined, the installed jar starts and the window goes.
    void closeRequested();
    // The user's session ends: whatever runs is given up, and nothing more starts.
    void sessionEnded();
    // The java watch's result once the splash has gone.
    void trialTick();

    // The offer's answers and the changes dialog's buttons.
    void launchApplication() override;
    void skipLaunch() override;
    void installUpdate(const std::wstring& remoteJar, const std::wstring& localJar) override;
    bool showChangesDialog(const std::wstring& changes, const std::wstring& localJar,
                           const std::wstring& remoteJar) override;
    void changesDialogClosed() override;

  private:
    void firstTickWork();
    template <typename Work>
    void reportingFailures(Work work);
    void checkForUpdate(const std::wstring& jarName);
    void onUpdateCheck();
    void onChangesRead();
    void offer(const std::optional<UpdateFindings>& findings);
    void onCopy();
    void endCopy();
    void giveUpWork();
    void watchStart();
    std::wstring failureMessage(const Launch& ended, std::uint32_t exitCode);
    void endWatch();
    void handOverWatch();
    void endTrial();
    void closeWindow();
    // No tick runs while a box of the work is open; the count goes on once it is answered.
    template <typename Work>
    void withTimerStopped(Work work);

    Services& services_;
    SessionHost& host_;
    const bool holdsInstall_;
    bool launchStarted_ = false;
    SplashCounter counter_;
    // The session is ending: nothing more is copied or started.
    bool sessionEnding_ = false;
    // The update check under way on its worker, and when it started.
    std::shared_ptr<UpdateCheckRun> updateCheck_;
    std::int64_t updateCheckStarted_ = 0;
    // The changes file being read for the update found, and when the reading started.
    std::shared_ptr<ChangesReadRun> changesRead_;
    UpdateFindings changesFor_;
    std::int64_t changesReadStarted_ = 0;
    // The copy of the update under way, and when it started.
    std::shared_ptr<UpdateCopyRun> copy_;
    std::int64_t copyStarted_ = 0;
    // The user is being asked whether to stop the copy: its outcome waits for the answer.
    bool askingStop_ = false;
    // The application started last, watched for as long as the window is open: java reports a
    // jar it cannot open or run within a second or two, well inside the window's five. A new
    // version on trial is watched on, without a window, until kTrialMs from java's start.
    std::optional<Launch> watched_;
    std::int64_t watchedSince_ = 0;
    bool trial_ = false;
    bool trialWatched_ = false;
    // The watched start is the previous version, put back after the new one ended with this code.
    std::optional<std::uint32_t> undoneExitCode_;
};

}  // namespace velmoor
