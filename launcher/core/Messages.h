#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmoor {

// The caption of every message box: none of them passes a title of its own.
inline constexpr std::wstring_view kApplicationTitle = L"Ostrel Tarvio Launcher";

std::wstring noJarFoundMessage(std::wstring_view applicationDirectory);
std::wstring noJavaFoundMessage(const std::array<std::wstring, 3>& candidates);
std::wstring jarPathUnreadableMessage(std::wstring_view jarPath);

// What java wrote to its standard error, as a box can show five lines of it: the lines that name
// an error or an exception (and their causes) first, then the last lines, in their own order;
// blank lines and the frames of a stack trace left out, each line cut to a readable length.
std::wstring javaErrorLines(std::wstring_view output);

// The application ended with an error while the splash window was open: its exit code and
// java's own first lines. The same for a new version, whose previous one has been put back.
std::wstring applicationStoppedMessage(std::uint32_t exitCode, std::wstring_view errorOutput);
std::wstring updateUndoneMessage(std::uint32_t exitCode, std::wstring_view errorOutput);

// --- Failed starts and their undoing -------------------------------------------------------------

// java.exe could not be started: the runtime's path and the system's reason.
std::wstring launchFailedMessage(std::wstring_view javaPath, std::wstring_view reason);

// java.exe's path has characters outside the ANSI code page and no short form: java would not
// find its own runtime from it.
std::wstring javaPathUnreadableMessage(std::wstring_view javaFolder);

// The new version failed, and the previous one could not be put back now (the jar is held): the
// next start puts it back.
std::wstring updateNotUndoneMessage(std::uint32_t exitCode, std::wstring_view errorOutput,
                                    std::wstring_view reason);

// The previous version, put back, failed the same way: the new version is kept.
std::wstring applicationCannotStartMessage(std::uint32_t exitCode, std::wstring_view errorOutput);

// What a crash's exit code (an NTSTATUS) means, in words; empty for a code that is no crash.
std::wstring_view crashName(std::uint32_t exitCode);

// -------------------------------------------------------------------------------------------------

inline constexpr std::wstring_view kUpdateAvailable =
    L"An update is available for this application";
inline constexpr std::wstring_view kInstallNow = L"Do you want to install this update now ?";
inline constexpr std::wstring_view kLookBelow = L"Look below for the changes/enhancements:";
inline constexpr std::wstring_view kApplicationUpdated = L"Application Updated !";

// A failure that no message of the launcher's own covers: the file or folder it concerns, if
// known, over the system's text for it.
std::wstring unexpectedFailureMessage(std::wstring_view description, std::wstring_view subject);

// The last line of a changes text too long to show whole.
inline constexpr std::wstring_view kMoreChanges =
    L"... and more changes: see TarvioChanges.txt in the update folder";

// What follows the update failure line when the copy of the published jar is not a whole jar,
// and when the update folder stopped answering during the copy.
inline constexpr std::wstring_view kJarIncompleteOrDamaged =
    L"The new version's JAR File is incomplete or damaged.";
inline constexpr std::wstring_view kCopyStalled =
    L"The update folder stopped answering while the new version was being copied.";

// Asked when the user clicks the splash window while an update is copied and checked.
inline constexpr std::wstring_view kStopUpdatePrompt =
    L"Stop installing the update?\r\nThe installed version starts, unchanged.";

// What follows the update failure line when an update of a signed install is refused: the
// signers found in it (the subjects of their certificates), and the entry that the publisher's
// signatures do not cover when that is why.
inline constexpr std::wstring_view kNotFromPublisher =
    L"The new version is not signed by the publisher of the installed version.";
std::wstring notFromPublisherText(const std::vector<std::wstring>& signers,
                                  std::wstring_view entry);

std::wstring updatePrompt();
std::wstring updateFailedMessage(std::wstring_view failureDescription);

// A newer jar that cannot be installed now: the installed one is held by the running
// application, or a file left by an earlier update is in the copy's way.
std::wstring updateWhileRunningMessage();
std::wstring leftoverInTheWayMessage(std::wstring_view path, std::wstring_view reason);

// The signature rules' texts, each after the update failure line.
// A signer: the subject of its certificate, which the signer chooses, and the first 16 hex digits
// of its key's SHA-256, which only the key's holder can sign for.
std::wstring signerText(std::wstring_view subject, std::wstring_view keyDigits);
// A signer besides the publisher whose key the publisher has not named.
inline constexpr std::wstring_view kStrangerKey =
    L"The new version is also signed with a key that is not one of the publisher's: ";
// An update signed before the installed jar was.
inline constexpr std::wstring_view kOlderRelease =
    L"The new version is an older release than the installed one.";
// What names the algorithm when the installed jar's signatures could not be read at all.
inline constexpr std::wstring_view kUnreadableSignature = L"a signature that could not be read";
// An installed jar signed only by blocks of algorithms read here that do not verify.
inline constexpr std::wstring_view kInstalledSignatureFails =
    L"The installed version's signature does not verify, so it takes no update.";
// A signature the launcher cannot check, on the installed jar (no update is taken) or the update.
std::wstring unreadSignatureText(std::wstring_view algorithm, bool installed);
// A signature file that contradicts the manifest, or a block that does not verify: java refuses
// to load the jar's classes.
std::wstring javaRefusesSignatureText(std::wstring_view entry);

}  // namespace velmoor
