#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Services.h"

namespace velmoor {

// Where newer copies of the application are published, on a mapped network drive.
inline constexpr std::wstring_view kUpdateFolder =
    L"I:\\Brantholm\\Kelvanor\\DevKit\\lastest update\\";
inline constexpr std::wstring_view kChangesFileName = L"TarvioChanges.txt";

// Whether the published jar is offered: only when it is strictly newer than the installed one.
// A remote time that cannot be read means no update folder (launch at once, in silence); a
// local time that cannot be read counts as out of date.
bool isUpdateOffered(std::optional<std::int64_t> remoteTime, std::optional<std::int64_t> localTime);

// The changes text for the dialog: every line of the file preceded by "\r\n", the first one
// included. Lines end at CR LF, LF or CR. A NUL shows as U+FFFD, as undecodable bytes do: the
// text box would take the text only up to it.
std::wstring changesText(std::wstring_view fileText);

// Where a part of the changes text that starts at start and holds at most lineCount lines ends:
// just after its last line break, or at the end of the text. The text box takes a long text in
// such parts, so that the dialog shows without waiting for all of it.
std::size_t changesPartEnd(std::wstring_view text, std::size_t start, std::size_t lineCount);

// Replaces the installed jar by the published one. The copy goes to a temporary file beside
// the installed jar first, named so that no jar lookup picks it up, and then takes the jar's
// place in one step: on any failure the installed jar is as it was, and the failure is thrown.
void installUpdate(Services& services, const std::wstring& remoteJar, const std::wstring& localJar);

// installUpdate, then tells the user how it went. Never throws.
void updateApplication(Services& services, const std::wstring& remoteJar,
                       const std::wstring& localJar);

// What the update check needs from the launcher's windows.
class UpdateHost {
  public:
    virtual ~UpdateHost() = default;
    virtual void loadApplication() = 0;
    // Shows the changes dialog with the text and the two jars, modeless; the dialog's buttons
    // then do the update and the launch. False when the dialog could not be shown.
    virtual bool showChangesDialog(const std::wstring& changes, const std::wstring& localJar,
                                   const std::wstring& remoteJar) = 0;
};

// What the update folder holds for the installed jar.
struct UpdateFindings {
    std::wstring localJar;
    std::wstring remoteJar;
    bool newer = false;  // the published jar is to be offered
    // The changes text for the dialog, when the changes file is there and could be read.
    std::optional<std::wstring> changes;
};

// The file-system half of the update check: reads the two jars' times and, for a newer jar,
// the changes file. It only reads and shows nothing, so it may run on a worker thread that the
// launcher stops waiting for. A changes file that cannot be searched for or read (the drive
// dropped after the time check) counts as none.
UpdateFindings examineUpdateFolder(Services& services, std::wstring_view applicationDirectory,
                                   std::wstring_view jarName);

// The user-facing half: offers a newer jar with the changes dialog, else with a yes/no box,
// installs it if the user wants it and launches the application, or leaves that to the
// dialog. No findings (the update folder did not answer) means a launch in silence.
void offerUpdate(Services& services, UpdateHost& host,
                 const std::optional<UpdateFindings>& findings);

}  // namespace velmoor
