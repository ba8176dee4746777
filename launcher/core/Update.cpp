#include "Update.h"

#include <algorithm>

#include "FileLookup.h"
#include "Launch.h"
#include "Messages.h"
#include "PlatformError.h"
#include "UpdateTrial.h"

namespace velmoor {

bool isUpdateOffered(std::optional<std::int64_t> remoteTime, std::optional<std::int64_t> localTime,
                     std::int64_t now) {
    if (!remoteTime) return false;
    if (!localTime) return true;
    if (*localTime - now > kFutureSlackSeconds) return *remoteTime != *localTime;
    return *remoteTime > *localTime;
}

std::wstring changesText(std::wstring_view fileText) {
    std::wstring text;
    text.reserve(fileText.size() + 2);
    std::size_t start = 0;
    while (start < fileText.size()) {
        const std::size_t end = fileText.find_first_of(L"\r\n", start);
        text += L"\r\n";
        text += fileText.substr(start, end == std::wstring_view::npos ? end : end - start);
        if (end == std::wstring_view::npos) break;
        const bool crlf =
            fileText[end] == L'\r' && end + 1 < fileText.size() && fileText[end + 1] == L'\n';
        start = end + (crlf ? 2 : 1);
    }
    std::replace(text.begin(), text.end(), L'\0', L'\uFFFD');
    return text;
}

std::size_t changesPartEnd(std::wstring_view text, std::size_t start, std::size_t lineCount) {
    std::size_t end = start;
    for (std::size_t line = 0; line < lineCount; ++line) {
        end = text.find(L'\n', end);
        if (end == std::wstring_view::npos) return text.size();
        ++end;
    }
    return end;
}

std::wstring temporaryJarPath(std::wstring_view localJar) {
    return std::wstring(localJar) + L".update.tmp";
}

namespace {

// A changes file that cannot be searched for (the drive dropped after the time check) is
// as good as none: the user still gets the offer, without the changes.
bool changesFilePresent(Services& services, const std::wstring& path) {
    try {
        return existingFile(services, path).size() > 1;
    } catch (const PlatformError&) {
        return false;
    }
}

// The published jar is an update only as an ordinary file (a folder of its name is none, and
// a hidden or system one is passed over, as the jar lookup passes over such an installed jar)
// whose archive is complete: a publisher still copying it leaves a jar that ends early, and
// the next start looks again. Only its end records are read here, a bounded read however large
// the jar; its central directory is read with the copy.
bool isCompleteJar(Services& services, const std::wstring& path) {
    try {
        if (existingFile(services, path).empty()) return false;
        const std::unique_ptr<ByteSource> jar = services.openBytes(path);
        return checkJarEnd(*jar) == JarVerdict::complete;
    } catch (const PlatformError&) {
        return false;
    }
}

std::wstring changesFilePath() {
    return std::wstring(kUpdateFolder) + std::wstring(kChangesFileName);
}

}  // namespace

std::optional<std::wstring> readChanges(Services& services) {
    try {
        const TextFile file = services.readTextFile(changesFilePath(), kChangesCapBytes);
        std::wstring text = changesText(file.text);
        if (file.cut) text += L"\r\n" + std::wstring(kMoreChanges);
        return text;
    } catch (const PlatformError&) {
        return std::nullopt;
    }
}

UpdateFindings examineUpdateFolder(Services& services, std::wstring_view applicationDirectory,
                                   std::wstring_view jarName) {
    UpdateFindings findings;
    findings.remoteJar = std::wstring(kUpdateFolder) + std::wstring(jarName);
    findings.localJar = std::wstring(applicationDirectory) + L"\\" + std::wstring(jarName);
    const std::wstring temporary = temporaryJarPath(findings.localJar);
    try {
        services.removeLeftover(temporary);
    } catch (const PlatformError& error) {
        findings.leftover = error;
    }
    const auto remoteTime = services.lastModified(findings.remoteJar);
    if (!remoteTime) return findings;
    // A refusal holds for the publish that earned it only.
    const auto refused = refusedPublish(services, findings.localJar);
    const bool refusedNow = refused && refused == stampOf(services, findings.remoteJar);
    if (refused && !refusedNow) services.removeFile(refusedRecordPath(findings.localJar));
    findings.newer = !refusedNow &&
                     isUpdateOffered(remoteTime, services.lastModified(findings.localJar),
                                     services.currentTime()) &&
                     isCompleteJar(services, findings.remoteJar) &&
                     (findings.leftover || services.canCreateFile(temporary));
    findings.held = findings.newer && !services.canReplace(findings.localJar);
    findings.changesFile = findings.newer && !findings.held && !findings.leftover &&
                           changesFilePresent(services, changesFilePath());
    return findings;
}

void offerUpdate(Services& services, UpdateHost& host,
                 const std::optional<UpdateFindings>& findings) {
    if (!findings || !findings->newer) {
        host.launchApplication();
        return;
    }
    if (findings->held) {
        services.showMessage(updateWhileRunningMessage());
        host.skipLaunch();
        return;
    }
    if (findings->leftover) {
        services.showMessage(leftoverInTheWayMessage(findings->leftover->subject(),
                                                     findings->leftover->description()));
        host.launchApplication();
        return;
    }
    // A dialog that cannot be shown falls back to asking with a message box rather than
    // leave the application unstarted.
    if (findings->changes &&
        host.showChangesDialog(*findings->changes, findings->localJar, findings->remoteJar)) {
        return;
    }
    if (services.askYesNo(updatePrompt())) {
        host.installUpdate(findings->remoteJar, findings->localJar);
    } else {
        host.launchApplication();
    }
}

}  // namespace velmoor
