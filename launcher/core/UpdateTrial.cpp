#include "UpdateTrial.h"

#include <algorithm>

#include "FileLookup.h"
#include "Messages.h"
#include "PlatformError.h"
#include "Update.h"

namespace velmoor {

namespace {

constexpr std::wstring_view kPrevious = L".previous";
constexpr std::wstring_view kFailed = L".failed";
constexpr std::wstring_view kRefused = L".refused";
// The record names the publish as text, one line; anything longer is no record of ours.
constexpr std::string_view kRecordWord = "publish ";
constexpr std::uint64_t kRecordMaxBytes = 64;

bool exists(Services& services, const std::wstring& path) {
    return services.lastModified(path).has_value();
}

// The kept files are hidden so that nobody takes them for the application; one that stays
// visible harms nothing, since no jar lookup takes its name.
void hide(Services& services, const std::wstring& path) {
    try {
        services.setHidden(path, true);
    } catch (const PlatformError&) {
    }
}

// A kept file put back where the jar lookup must find it, visible, in one step.
void bringBack(Services& services, const std::wstring& from, const std::wstring& to) {
    services.setHidden(from, false);
    services.moveReplacing(from, to);
}

bool isWholeJar(Services& services, const std::wstring& path) {
    try {
        const std::unique_ptr<ByteSource> jar = services.openBytes(path);
        return checkJarEnd(*jar) == JarVerdict::complete;
    } catch (const PlatformError&) {
        return false;
    }
}

// By hand: the C library's number conversions would add kilobytes to the launcher.
std::optional<std::uint64_t> readNumber(std::string_view& text) {
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; digits < text.size() && digits < 19 && text[digits] >= '0' && text[digits] <= '9';
         ++digits)
        value = value * 10 + static_cast<std::uint64_t>(text[digits] - '0');
    if (digits == 0) return std::nullopt;
    text.remove_prefix(digits);
    return value;
}

// Writes the number's digits backwards, ending at end; returns where they start.
char* numberBefore(char* end, std::uint64_t value) {
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

std::optional<PublishStamp> parseRecord(std::string_view text) {
    if (!text.starts_with(kRecordWord)) return std::nullopt;
    text.remove_prefix(kRecordWord.size());
    const auto time = readNumber(text);
    if (!time || !text.starts_with(' ')) return std::nullopt;
    text.remove_prefix(1);
    const auto size = readNumber(text);
    if (!size) return std::nullopt;
    return PublishStamp{static_cast<std::int64_t>(*time), *size};
}

// The contents of a file of at most kRecordMaxBytes; nothing for a larger or unreadable one.
std::optional<std::string> smallFile(Services& services, const std::wstring& path) {
    try {
        const std::unique_ptr<ByteSource> file = services.openBytes(path);
        const std::uint64_t size = file->size();
        if (size > kRecordMaxBytes) return std::nullopt;
        std::string bytes(static_cast<std::size_t>(size), '\0');
        if (!file->read(0, bytes.data(), bytes.size())) return std::nullopt;
        return bytes;
    } catch (const PlatformError&) {
        return std::nullopt;
    }
}

void settleJar(Services& services, const std::wstring& localJar) {
    const std::wstring previous = previousJarPath(localJar), failed = failedJarPath(localJar);
    const std::wstring record = refusedRecordPath(localJar), copy = temporaryJarPath(localJar);
    if (!exists(services, localJar)) {
        // Cut between an install's two renames (as launchers before this one made it), or
        // between a rollback's: the whole jar nearest to what the run was doing takes the name.
        for (const std::wstring* from : {&copy, &previous, &failed, &record}) {
            if (exists(services, *from) && isWholeJar(services, *from)) {
                bringBack(services, *from, localJar);
                break;
            }
        }
    }
    // A refused jar kept whole by an earlier launcher: its record takes its place.
    if (exists(services, record) && !refusedPublish(services, localJar)) {
        if (const auto stamp = stampOf(services, record)) refusePublish(services, localJar, *stamp);
    }
    // The rollback had refused the new version when it was cut: it is finished.
    const auto installed = stampOf(services, localJar);
    if (exists(services, previous) && installed &&
        refusedPublish(services, localJar) == installed) {
        bringBack(services, previous, localJar);
    }
    // The previous version's verdict on the failure never came: the refusal stands.
    if (!exists(services, previous)) services.removeFile(failed);
}

}  // namespace

std::wstring previousJarPath(std::wstring_view localJar) {
    return std::wstring(localJar) + std::wstring(kPrevious);
}

std::wstring failedJarPath(std::wstring_view localJar) {
    return std::wstring(localJar) + std::wstring(kFailed);
}

std::wstring refusedRecordPath(std::wstring_view localJar) {
    return std::wstring(localJar) + std::wstring(kRefused);
}

std::optional<PublishStamp> stampOf(Services& services, const std::wstring& path) {
    const auto time = services.lastModified(path);
    const auto size = services.fileSize(path);
    if (!time || !size) return std::nullopt;
    return PublishStamp{*time, *size};
}

std::optional<PublishStamp> refusedPublish(Services& services, const std::wstring& localJar) {
    const auto text = smallFile(services, refusedRecordPath(localJar));
    return text ? parseRecord(*text) : std::nullopt;
}

void refusePublish(Services& services, const std::wstring& localJar, const PublishStamp& stamp) {
    char text[kRecordMaxBytes];
    char* const end = text + sizeof text;
    char* start = end - 2;
    start[0] = '\r', start[1] = '\n';
    start = numberBefore(start, stamp.size);
    *--start = ' ';
    start = numberBefore(start, static_cast<std::uint64_t>(stamp.time));
    start -= kRecordWord.size();
    std::copy(kRecordWord.begin(), kRecordWord.end(), start);
    services.writeFileReplacing(refusedRecordPath(localJar),
                                std::string_view(start, static_cast<std::size_t>(end - start)));
    hide(services, refusedRecordPath(localJar));
}

void settleInstall(Services& services, const std::wstring& localJar) {
    try {
        settleJar(services, localJar);
    } catch (const PlatformError&) {
        // Held by an application that runs: the next start settles it.
    }
}

void installCopy(Services& services, const std::wstring& copy, const std::wstring& localJar) {
    const std::wstring previous = previousJarPath(localJar);
    const bool keep = exists(services, localJar) && !exists(services, previous);
    if (keep) services.linkOrCopy(localJar, previous);
    try {
        services.moveReplacing(copy, localJar);
    } catch (const PlatformError&) {
        if (keep) services.removeFile(previous);
        throw;
    }
    if (keep) hide(services, previous);
}

bool onTrial(Services& services, const std::wstring& localJar) {
    return exists(services, previousJarPath(localJar));
}

FailedStart failedStart(Services& services, const std::wstring& localJar, std::uint32_t exitCode,
                        std::wstring_view errorOutput, bool holdsInstall) {
    const std::wstring previous = previousJarPath(localJar);
    const auto stamp = stampOf(services, localJar);
    if (!holdsInstall || !exists(services, previous) || !stamp) {
        return {applicationStoppedMessage(exitCode, errorOutput)};
    }
    const std::wstring failed = failedJarPath(localJar);
    try {
        // The refusal goes first: a start after a cut from here on finishes the rollback.
        refusePublish(services, localJar, *stamp);
        services.removeFile(failed);
        services.linkOrCopy(localJar, failed);
        bringBack(services, previous, localJar);
    } catch (const PlatformError& error) {
        services.removeFile(failed);
        return {updateNotUndoneMessage(exitCode, errorOutput, error.description())};
    }
    hide(services, failed);
    return {updateUndoneMessage(exitCode, errorOutput), true};
}

std::wstring previousFailedToo(Services& services, const std::wstring& localJar,
                               std::uint32_t undoneExitCode, std::uint32_t exitCode,
                               std::wstring_view errorOutput) {
    const std::wstring failed = failedJarPath(localJar);
    if (exitCode == undoneExitCode && exists(services, failed)) {
        try {
            bringBack(services, failed, localJar);
            services.removeFile(refusedRecordPath(localJar));
            return applicationCannotStartMessage(exitCode, errorOutput);
        } catch (const PlatformError&) {
            // The previous version stays, the update refused: as if it had been to blame.
        }
    }
    services.removeFile(failed);
    return applicationStoppedMessage(exitCode, errorOutput);
}

void passedStart(Services& services, const std::wstring& localJar) {
    services.removeFile(previousJarPath(localJar));
    services.removeFile(failedJarPath(localJar));
}

}  // namespace velmoor
