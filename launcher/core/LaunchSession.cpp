#include "LaunchSession.h"

#include <new>
#include <utility>

#include "FileLookup.h"
#include "Messages.h"
#include "PlatformError.h"
#include "UpdateTrial.h"

namespace velmoor {

template <typename Work>
void LaunchSession::withTimerStopped(Work work) {
    host_.stopTimer(SessionTimer::splash);
    work();
    host_.comeBackOnTop();
    host_.startTimer(SessionTimer::splash);
}

void LaunchSession::activated() {
    counter_.restart();
    host_.startTimer(SessionTimer::splash);
}

void LaunchSession::tick() {
    // The timer stays off while the first tick's work shows its message boxes, so no tick runs
    // meanwhile and the work runs once.
    if (!launchStarted_) {
        launchStarted_ = true;
        withTimerStopped([this] { firstTickWork(); });
    }
    if (watched_) watchStart();
    // While the changes file is read or the update copied, the count stays at its start: the
    // window must not close before it has shown what comes of them.
    if (changesRead_ || copy_) counter_.restart();
    const SplashCounter::Tick tick = counter_.tick();
    host_.pulse(tick.red);
    if (tick.close) {
        handOverWatch();
        closeWindow();
    }
}

void LaunchSession::poll(SessionTimer timer) {
    switch (timer) {
        case SessionTimer::updateCheck:
            return onUpdateCheck();
        case SessionTimer::changesRead:
            return onChangesRead();
        case SessionTimer::copy:
            return onCopy();
        case SessionTimer::splash:
            return tick();
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
void LaunchSession::closeRequested() {
    if (!std::exchange(launchStarted_, true) || updateCheck_ || changesRead_ || copy_) {
        host_.stopTimer(SessionTimer::splash);
        giveUpWork();
        launchApplication();
    }
    closeWindow();
}

// The session ends after this returns: a copy is given up so that its temporary file goes, and
// no application is started in a session that is going away.
void LaunchSession::sessionEnded() {
    sessionEnding_ = true;
    launchStarted_ = true;
    host_.stopTimer(SessionTimer::splash);
    giveUpWork();
}

// Whatever the workers still do is dropped; the copy writes nothing more and is removed.
void LaunchSession::giveUpWork() {
    for (const auto timer :
         {SessionTimer::updateCheck, SessionTimer::changesRead, SessionTimer::copy}) {
        host_.stopTimer(timer);
    }
    updateCheck_.reset();
    changesRead_.reset();
    if (copy_) copy_->abandon(services_);
    copy_.reset();
    host_.showProgress(std::nullopt);
}

// Before anything looks at the jar, what a cut-off run left half done is settled: for
// Tarvio.jar, and for the lookup's own jar when it is another.
void LaunchSession::firstTickWork() {
    reportingFailures([this] {
        const std::wstring directory = services_.applicationDirectory();
        if (holdsInstall_) settleInstall(services_, directory + L"\\Tarvio.jar");
        const std::wstring jarName = findJarFile(services_);
        if (holdsInstall_ && !jarName.empty() && !sameFileName(jarName, L"Tarvio.jar"))
            settleInstall(services_, directory + L"\\" + jarName);
        if (jarName.empty()) {
            counter_.shortenAfterNoJar();
        } else if (holdsInstall_) {
            checkForUpdate(jarName);
        } else {
            launchApplication();
        }
    });
}

// Whatever fails here, the caller starts the timer again, or the launcher would never end.
template <typename Work>
void LaunchSession::reportingFailures(Work work) {
    try {
        work();
    } catch (const PlatformError& error) {
        services_.showMessage(unexpectedFailureMessage(error.description(), error.subject()));
        counter_.shortenAfterLaunchFailure();
    } catch (const std::bad_alloc&) {
        services_.showMessage(host_.outOfMemoryText());
        counter_.shortenAfterLaunchFailure();
    }
}

// The update folder is looked into on a worker, so that a drive that does not answer leaves the
// splash window pulsing; the offer and the launch follow once the answer is in, or once the wait
// for it has run out. Without a thread the check runs here, at the risk of the wait it is meant
// to avoid.
void LaunchSession::checkForUpdate(const std::wstring& jarName) {
    auto run = std::make_shared<UpdateCheckRun>(services_.applicationDirectory(), jarName);
    updateCheckStarted_ = host_.nowMs();
    if (!host_.startWorker([run](Services& services) { run->run(services); })) run->run(services_);
    updateCheck_ = std::move(run);
    host_.startTimer(SessionTimer::updateCheck);
}

// The changes file is read on a worker of its own and awaited a bounded time: its size is the
// publisher's, and a large one over a slow share must not cost the offer.
void LaunchSession::onUpdateCheck() {
    if (!updateCheck_) return;
    const WorkerRun::Outcome outcome = updateCheck_->poll(host_.nowMs() - updateCheckStarted_);
    if (outcome == WorkerRun::Outcome::pending) return;
    host_.stopTimer(SessionTimer::updateCheck);
    const std::shared_ptr<UpdateCheckRun> run = std::move(updateCheck_);
    const std::optional<UpdateFindings> none;
    const auto& findings = outcome == WorkerRun::Outcome::answered ? run->findings() : none;
    if (!findings || !findings->changesFile) return offer(findings);
    auto read = std::make_shared<ChangesReadRun>();
    changesFor_ = *findings;
    changesReadStarted_ = host_.nowMs();
    if (!host_.startWorker([read](Services& services) { read->run(services); }))
        read->run(services_);
    changesRead_ = std::move(read);
    host_.startTimer(SessionTimer::changesRead);
}

// Changes not read in time are none: the yes/no box asks instead.
void LaunchSession::onChangesRead() {
    if (!changesRead_) return;
    const WorkerRun::Outcome outcome = changesRead_->poll(host_.nowMs() - changesReadStarted_);
    if (outcome == WorkerRun::Outcome::pending) return;
    host_.stopTimer(SessionTimer::changesRead);
    const std::shared_ptr<ChangesReadRun> read = std::move(changesRead_);
    std::optional<UpdateFindings> findings = std::move(changesFor_);
    if (outcome == WorkerRun::Outcome::answered) findings->changes = read->changes();
    offer(findings);
}

void LaunchSession::offer(const std::optional<UpdateFindings>& findings) {
    withTimerStopped([&] { reportingFailures([&] { offerUpdate(services_, *this, findings); }); });
}

// The copy runs on a worker while the splash window shows its progress; the splash comes back
// for it when the dialog's Upgrade is pressed after the window has closed itself. Without a
// window or a thread the copy runs here, as it did before it had either.
void LaunchSession::installUpdate(const std::wstring& remoteJar, const std::wstring& localJar) {
    if (sessionEnding_) return;
    if (!host_.windowOpen()) host_.showWindow();
    auto run = std::make_shared<UpdateCopyRun>(remoteJar, localJar);
    copy_ = run;
    copyStarted_ = host_.nowMs();
    if (!host_.windowOpen() ||
        !host_.startWorker([run](Services& services) { run->run(services); })) {
        run->run(services_);
        return endCopy();
    }
    host_.startTimer(SessionTimer::copy);
}

void LaunchSession::onCopy() {
    if (!copy_ || askingStop_) return;
    const std::int64_t elapsed = host_.nowMs() - copyStarted_;
    if (copy_->poll(elapsed) != WorkerRun::Outcome::pending) return endCopy();
    if (elapsed >= kProgressAfterMs) host_.showProgress(copy_->progress());
}

// The splash takes neither the focus nor keys, so a click on it is how the user stops a copy
// that runs long (a slow share, a large jar): a question first, since a click can be a slip.
// Meanwhile the copy goes on, and what comes of it waits for the answer; yes gives the copy up
// as a close would, whether or not it has ended meanwhile, and the installed jar starts.
void LaunchSession::splashClicked() {
    if (!copy_ || askingStop_) return;
    askingStop_ = true;
    const bool stop = services_.askYesNo(std::wstring(kStopUpdatePrompt));
    askingStop_ = false;
    host_.comeBackOnTop();
    // A close or the session's end, while the question was open, has given the copy up.
    if (!stop || !copy_) return;
    withTimerStopped([this] {
        giveUpWork();
        launchApplication();
    });
}

void LaunchSession::endCopy() {
    host_.stopTimer(SessionTimer::copy);
    const std::shared_ptr<UpdateCopyRun> run = std::move(copy_);
    host_.showProgress(std::nullopt);
    withTimerStopped([&] {
        services_.showMessage(copyReportMessage(run->conclude(services_)));
        launchApplication();
    });
}

bool LaunchSession::showChangesDialog(const std::wstring& changes, const std::wstring& localJar,
                                      const std::wstring& remoteJar) {
    return host_.showChangesDialog(changes, localJar, remoteJar);
}

// The splash window becomes active again as the dialog closes. Restarting its count here
// rather than on activation also covers the case that another program takes the focus, so the
// splash window is never left stopped with the launcher running.
void LaunchSession::changesDialogClosed() {
    if (!host_.windowOpen()) return;
    host_.comeBackOnTop();
    activated();
}

void LaunchSession::launchApplication() {
    if (sessionEnding_) return;
    Launch launch = loadApplication(services_);
    // The user has been told why: the window closes soon.
    if (!launch.process) return skipLaunch();
    trial_ = holdsInstall_ && onTrial(services_, launch.localJar);
    watchedSince_ = host_.nowMs();
    watched_ = std::move(launch);
    // Started from the changes dialog after the splash has gone: only a trial is watched.
    if (!host_.windowOpen()) handOverWatch();
}

// The timer needs no stop here: every caller runs it again for the shortened count (the work of
// a box, the dialog's end) or closes the window.
void LaunchSession::skipLaunch() {
    counter_.shortenAfterLaunchFailure();
}

// A start that ends with an error while it is watched is reported, with java's reasons; a new
// version that does so gives way to the previous one, which starts once the user has read why,
// watched in turn. A start that ends well is the user's to see.
void LaunchSession::watchStart() {
    const std::optional<std::uint32_t> exitCode = watched_->process->exitCode();
    if (!exitCode) return;
    if (*exitCode == 0) return endWatch();
    const Launch ended = std::move(*watched_);
    watched_.reset();
    withTimerStopped([&] {
        const std::wstring message = failureMessage(ended, *exitCode);
        if (!message.empty()) services_.showMessage(message);
        if (watched_) {
            counter_.restart();
        } else {
            counter_.shortenAfterLaunchFailure();
        }
    });
}

// What the user is told of a start that ended with an error; a trial failed puts the previous
// version back and starts it, with the splash window to watch it.
std::wstring LaunchSession::failureMessage(const Launch& ended, std::uint32_t exitCode) {
    const std::wstring output = ended.process->errorOutput();
    if (const auto undone = std::exchange(undoneExitCode_, std::nullopt); undone && holdsInstall_) {
        return previousFailedToo(services_, ended.localJar, *undone, exitCode, output);
    }
    const FailedStart failed = failedStart(services_, ended.localJar, exitCode, output, trial_);
    if (!failed.restored) return failed.message;
    // The box comes first, above every window: the previous version's own window must not
    // cover it. It starts once the box is answered.
    services_.showMessage(failed.message);
    if (!host_.windowOpen()) host_.showWindow();
    launchApplication();
    if (watched_) undoneExitCode_ = exitCode;
    return {};
}

// The start has ended well, or outlived its watch: a new version on trial has passed, and a
// failed one kept beside the previous version is no longer needed.
void LaunchSession::endWatch() {
    // Checked access: a slip in the test above fails loudly instead of reading a launch gone.
    if (watched_ && holdsInstall_) passedStart(services_, watched_.value().localJar);
    watched_.reset();
    undoneExitCode_.reset();
}

// The splash goes: a new version on trial is watched on without a window; any other start has
// outlived its watch. Without the trial's own watch it ends here, unjudged: the next start
// watches again.
void LaunchSession::handOverWatch() {
    if (!watched_ || !trial_ || trialWatched_) return endWatch();
    trialWatched_ = host_.startTrialWatch();
    if (!trialWatched_) watched_.reset();
}

void LaunchSession::trialTick() {
    if (!watched_) return endTrial();
    const std::optional<std::uint32_t> exitCode = watched_->process->exitCode();
    if (!exitCode) {
        if (host_.nowMs() - watchedSince_ >= kTrialMs) endTrial();
        return;
    }
    if (*exitCode == 0) return endTrial();
    // The trial counts as a window until the splash is back, or the launcher would end under the
    // box.
    host_.pauseTrialWatch();
    const Launch ended = std::move(*watched_);
    watched_.reset();
    // The splash that the previous version's start brings back comes back on top of the boxes
    // that follow (its own failure, no java), and pulses on to close.
    withTimerStopped([&] {
        const std::wstring message = failureMessage(ended, *exitCode);
        if (!message.empty()) services_.showMessage(message);
    });
    trialWatched_ = false;
    host_.endTrialWatch();
}

// The trial has passed: the new version has run its time, or ended well.
void LaunchSession::endTrial() {
    endWatch();
    trialWatched_ = false;
    host_.endTrialWatch();
}

// A watch that the window's end cuts short is not a trial passed: the next start watches again.
void LaunchSession::closeWindow() {
    if (!trialWatched_) watched_.reset();
    host_.closeWindow();
}

}  // namespace velmoor
