#include "Messages.h"

#include <algorithm>

#include "TextEncoding.h"

namespace velmoor {

std::wstring noJarFoundMessage(std::wstring_view applicationDirectory) {
    std::wstring text = L"Error: No Java Application File (JAR File) Found in Directory\r\n";
    text += applicationDirectory;
    return text;
}

std::wstring noJavaFoundMessage(const std::array<std::wstring, 3>& candidates) {
    std::wstring text = L"Error: No Java Executable File Found at:";
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        text += i == 0 ? L"\r\n" : L"\r\nor\r\n";
        text += candidates[i];
    }
    return text;
}

std::wstring jarPathUnreadableMessage(std::wstring_view jarPath) {
    std::wstring text =
        L"Error: Java cannot open the JAR File, as its path has characters outside the "
        L"system's code page:\r\n";
    text += jarPath;
    return text;
}

namespace {

// Enough for java's own reasons ("Error: ...", the exception and its cause), not a stack trace.
constexpr std::size_t kErrorLines = 5;
constexpr std::size_t kErrorLineLength = 300;

bool isBlank(std::wstring_view line) {
    return line.find_first_not_of(L" \t") == std::wstring_view::npos;
}

// Exit codes of a crash are status values, which read as such only in hexadecimal. By hand:
// the C library's wide formatting would add tens of kilobytes to the launcher.
std::wstring exitCodeText(std::uint32_t exitCode) {
    const bool status = exitCode >= 0x10000;
    const std::uint32_t base = status ? 16 : 10;
    std::wstring digits;
    do {
        digits.insert(digits.begin(), L"0123456789ABCDEF"[exitCode % base]);
        exitCode /= base;
    } while (exitCode != 0);
    return status ? L"0x" + std::wstring(8 - digits.size(), L'0') + digits : digits;
}

std::wstring startFailure(std::wstring_view what, std::uint32_t exitCode,
                          std::wstring_view errorOutput) {
    std::wstring text(what);
    text += L" (exit code " + exitCodeText(exitCode);
    if (const std::wstring_view name = crashName(exitCode); !name.empty()) {
        text += L", ";
        text += name;
    }
    text += L")";
    const std::wstring lines = javaErrorLines(errorOutput);
    text += lines.empty() ? L"." : L":\r\n" + lines;
    return text;
}

// java's own reasons ("Error: ...", "Exception in thread", "Caused by: ..."), in any case, and
// not the log lines of an application that got as far as logging.
bool namesAnError(std::wstring_view line) {
    const auto has = [&](std::wstring_view word) {
        for (std::size_t at = 0; at + word.size() <= line.size(); ++at) {
            if (sameIgnoringAsciiCase(line.substr(at, word.size()), word)) return true;
        }
        return false;
    };
    return has(L"error") || has(L"exception") || has(L"caused by");
}

}  // namespace

std::wstring javaErrorLines(std::wstring_view output) {
    // Calls visit with each line worth showing and its number, in order.
    const auto eachLine = [&](auto visit) {
        std::size_t number = 0;
        for (std::size_t start = 0; start < output.size();) {
            std::size_t end = output.find_first_of(L"\r\n", start);
            if (end == std::wstring_view::npos) end = output.size();
            std::wstring_view line = output.substr(start, end - start);
            start = end + 1;
            if (isBlank(line)) continue;
            line.remove_prefix(line.find_first_not_of(L" \t"));
            if (!line.starts_with(L"at ")) visit(line, number++);
        }
        return number;
    };
    std::size_t shown[kErrorLines], kept = 0;
    const auto isShown = [&](std::size_t number) {
        return std::find(shown, shown + kept, number) != shown + kept;
    };
    const std::size_t lines = eachLine([&](std::wstring_view line, std::size_t number) {
        if (kept < kErrorLines && namesAnError(line)) shown[kept++] = number;
    });
    for (std::size_t number = lines; number-- > 0 && kept < kErrorLines;) {
        if (!isShown(number)) shown[kept++] = number;
    }
    std::wstring text;
    eachLine([&](std::wstring_view line, std::size_t number) {
        if (!isShown(number)) return;
        if (!text.empty()) text += L"\r\n";
        text += line.substr(0, kErrorLineLength);
        if (line.size() > kErrorLineLength) text += L"...";
    });
    return text;
}

std::wstring applicationStoppedMessage(std::uint32_t exitCode, std::wstring_view errorOutput) {
    return startFailure(L"The application stopped while starting", exitCode, errorOutput);
}

std::wstring updateUndoneMessage(std::uint32_t exitCode, std::wstring_view errorOutput) {
    return startFailure(L"The new version of the application could not start", exitCode,
                        errorOutput) +
           L"\r\nThe previous version was put back and started.";
}

// --- Failed starts and their undoing -------------------------------------------------------------

std::wstring launchFailedMessage(std::wstring_view javaPath, std::wstring_view reason) {
    std::wstring text = L"Error launching application: ";
    text += javaPath;
    text += L"\r\n";
    text += reason;
    return text;
}

std::wstring javaPathUnreadableMessage(std::wstring_view javaFolder) {
    std::wstring text =
        L"Error: Java cannot start from its folder, as the folder's path has characters outside "
        L"the system's code page and no short form:\r\n";
    text += javaFolder;
    return text;
}

std::wstring updateNotUndoneMessage(std::uint32_t exitCode, std::wstring_view errorOutput,
                                    std::wstring_view reason) {
    std::wstring text =
        startFailure(L"The new version of the application could not start", exitCode, errorOutput);
    text += L"\r\nThe previous version could not be put back now; the next start puts it back:\r\n";
    text += reason;
    return text;
}

std::wstring applicationCannotStartMessage(std::uint32_t exitCode, std::wstring_view errorOutput) {
    return startFailure(L"The application cannot start", exitCode, errorOutput) +
           L"\r\nThe previous version failed the same way, so the new version was kept.";
}

std::wstring_view crashName(std::uint32_t exitCode) {
    static constexpr struct {
        std::uint32_t code;
        std::wstring_view name;
    } kCrashes[] = {
        {0xC0000005, L"access violation"},    {0xC00000FD, L"stack overflow"},
        {0xC0000374, L"heap corruption"},     {0xC0000409, L"stack buffer overrun"},
        {0xC000001D, L"illegal instruction"}, {0xC0000094, L"integer division by zero"},
        {0xC0000135, L"a DLL was not found"}, {0xC0000142, L"a DLL failed to initialise"},
        {0xC000013A, L"stopped by Ctrl+C"},
    };
    for (const auto& crash : kCrashes) {
        if (crash.code == exitCode) return crash.name;
    }
    return {};
}

// -------------------------------------------------------------------------------------------------

std::wstring unexpectedFailureMessage(std::wstring_view description, std::wstring_view subject) {
    std::wstring text(subject);
    if (!text.empty()) text += L"\r\n";
    text += description;
    return text;
}

std::wstring updatePrompt() {
    std::wstring text(kUpdateAvailable);
    text += L"\r\n";
    text += kInstallNow;
    return text;
}

std::wstring updateFailedMessage(std::wstring_view failureDescription) {
    std::wstring text = L"An error occured trying to update the application\r\n";
    text += failureDescription;
    return text;
}

std::wstring updateWhileRunningMessage() {
    std::wstring text(kUpdateAvailable);
    text += L"\r\nThe application is running: close it, then start it again to install the update.";
    return text;
}

std::wstring leftoverInTheWayMessage(std::wstring_view path, std::wstring_view reason) {
    std::wstring text(kUpdateAvailable);
    text += L"\r\nIt cannot be installed while this file, left by an earlier update, is there:\r\n";
    text += path;
    text += L"\r\n";
    text += reason;
    return text;
}

std::wstring notFromPublisherText(const std::vector<std::wstring>& signers,
                                  std::wstring_view entry) {
    std::wstring text(kNotFromPublisher);
    text += signers.size() > 1 ? L"\r\nSigners found: " : L"\r\nSigner found: ";
    if (signers.empty()) text += L"none";
    for (std::size_t i = 0; i < signers.size(); ++i) text += (i ? L"; " : L"") + signers[i];
    if (!entry.empty()) {
        text += L"\r\nUnsigned or changed entry: ";
        text += entry;
    }
    return text;
}

// The signature rules' texts.

std::wstring signerText(std::wstring_view subject, std::wstring_view keyDigits) {
    std::wstring text(subject);
    text += L" (key ";
    text += keyDigits;
    text += L")";
    return text;
}

std::wstring unreadSignatureText(std::wstring_view algorithm, bool installed) {
    std::wstring text(installed ? L"The installed version is signed only with "
                                : L"The new version is signed with ");
    text += algorithm;
    text += installed ? L", which this launcher cannot check, so it takes no update."
                      : L", which this launcher cannot check.";
    return text;
}

std::wstring javaRefusesSignatureText(std::wstring_view entry) {
    std::wstring text(L"The new version's signature does not match its contents at ");
    text += entry;
    text += L": java would not start it.";
    return text;
}

}  // namespace velmoor
