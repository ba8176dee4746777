#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "PlatformError.h"
#include "Services.h"

namespace velmoor {

// Where newer copies of the application are published, on a mapped network drive.
inline constexpr std::wstring_view kUpdateFolder =
    L"I:\\Brantholm\\Kelvanor\\DevKit\\lastest update\\";
inline constexpr std::wstring_view kChangesFileName = L"TarvioChanges.txt";

// An installed jar dated more than this far ahead of the clock was dated in the future: farther
// than clocks of a network drift apart or a time zone shifts a file's time.
inline constexpr std::int64_t kFutureSlackSeconds = 24 * 60 * 60;

// Whether the published jar is offered: only when it is strictly newer than the installed one.
// A remote time that cannot be read means no update folder (launch at once, in silence); a
// local time that cannot be read counts as out of date. An installed jar dated in the future
// counts as older than any publish of another time: the copy keeps the published jar's time,
// so a publish dated 2100 would otherwise hold back every later release for good, while the
// same publish, its time equal, is still not offered again.
bool isUpdateOffered(std::optional<std::int64_t> remoteTime, std::optional<std::int64_t> localTime,
                     std::int64_t now);

// The changes text for the dialog: every line of the file preceded by "\r\n", the first one
// included. Lines end at CR LF, LF or CR. A NUL shows as U+FFFD, as undecodable bytes do: the
// text box would take the text only up to it.
std::wstring changesText(std::wstring_view fileText);

// Where a part of the changes text that starts at start and holds at most lineCount lines ends:
// just after its last line break, or at the end of the text. The text box takes a long text in
// such parts, so that the dialog shows without waiting for all of it.
std::size_t changesPartEnd(std::wstring_view text, std::size_t start, std::size_t lineCount);

// Where the published jar is copied before it replaces the installed one: beside it, so that
// the replace is a rename on one volume, and under a name that no jar lookup picks up. The name
// is fixed, so that a copy left behind by a launcher that could not remove it is found and
// removed by the next start.
std::wstring temporaryJarPath(std::wstring_view localJar);

// A changes file is shown up to this size. Its text is meant to be read in a dialog, and a
// file many times as long comes from a publisher's mistake, whose reading over a slow share
// must not hold up the offer: 256 KiB is some 4,000 lines of changes.
inline constexpr std::size_t kChangesCapBytes = 256 * 1024;

// The changes text of the changes file, with a last line saying that more exists when the
// file was longer than the cap; nothing when it cannot be read.
std::optional<std::wstring> readChanges(Services& services);

// What the update check and the changes dialog's buttons need from the launcher.
class UpdateHost {
  public:
    virtual ~UpdateHost() = default;
    // Starts the application (loadApplication) and watches its start.
    virtual void launchApplication() = 0;
    // Starts nothing, the application being already running; the window closes soon.
    virtual void skipLaunch() = 0;
    // Copies the published jar over the installed one without holding up the windows, tells the
    // user how it went and then launches the application.
    virtual void installUpdate(const std::wstring& remoteJar, const std::wstring& localJar) = 0;
    // Shows the changes dialog with the text and the two jars, modeless; the dialog's buttons
    // then do the update and the launch. False when the dialog could not be shown.
    virtual bool showChangesDialog(const std::wstring& changes, const std::wstring& localJar,
                                   const std::wstring& remoteJar) = 0;
    // The changes dialog's window has gone, whichever way it was closed.
    virtual void changesDialogClosed() = 0;
};

// What the update folder holds for the installed jar.
struct UpdateFindings {
    std::wstring localJar;
    std::wstring remoteJar;
    bool newer = false;        // the published jar is to be offered
    bool changesFile = false;  // the update folder lists the changes file
    // The installed jar is held by the running application: it cannot be replaced now.
    bool held = false;
    // Why a file that an earlier update left in the copy's way could not be removed.
    std::optional<PlatformError> leftover;
    // The changes text for the dialog, once the changes file has been read.
    std::optional<std::wstring> changes;
};

// The file-system half of the update check: removes a copy that an earlier start left behind,
// reads the two jars' times and, for a newer jar, looks for the changes file; the file is read
// apart, under a bound of its own. A newer jar is offered only to an install folder that takes
// a new file: there the copy could not even begin, and an offer that fails on every start is
// worse than none. A publish that was installed once and failed to start is not offered again.
// It shows nothing, so it may run on a worker thread that the launcher stops waiting for. A
// changes file that cannot be searched for counts as none.
UpdateFindings examineUpdateFolder(Services& services, std::wstring_view applicationDirectory,
                                   std::wstring_view jarName);

// The user-facing half: offers a newer jar with the changes dialog, else with a yes/no box,
// and has it installed if the user wants it, or launches the application, or leaves that to
// the dialog. No findings (the update folder did not answer) means a launch in silence. A newer
// jar that cannot be installed now is not offered: the user is told why, and the application
// starts, unless it is running already.
void offerUpdate(Services& services, UpdateHost& host,
                 const std::optional<UpdateFindings>& findings);

}  // namespace velmoor
