#include "UpdateTrial.h"

#include "Messages.h"
#include "PlatformError.h"

namespace velmoor {

namespace {

bool exists(Services& services, const std::wstring& path) {
    return services.lastModified(path).has_value();
}

// A hidden file put back where a jar lookup must find it.
void bringBack(Services& services, const std::wstring& from, const std::wstring& to) {
    services.setHidden(from, false);
    services.moveReplacing(from, to);
}

// The kept files are hidden so that nobody takes them for the application; one that stays
// visible harms nothing, since no jar lookup takes its name.
void hide(Services& services, const std::wstring& path) {
    try {
        services.setHidden(path, true);
    } catch (const PlatformError&) {
    }
}

}  // namespace

std::wstring previousJarPath(std::wstring_view localJar) {
    return std::wstring(localJar) + L".previous";
}

std::wstring refusedJarPath(std::wstring_view localJar) {
    return std::wstring(localJar) + L".refused";
}

void installCopy(Services& services, const std::wstring& copy, const std::wstring& localJar) {
    const std::wstring previous = previousJarPath(localJar);
    if (!exists(services, localJar)) {
        services.moveReplacing(copy, localJar);
        return;
    }
    services.moveReplacing(localJar, previous);
    try {
        services.moveReplacing(copy, localJar);
    } catch (const PlatformError&) {
        services.moveReplacing(previous, localJar);
        throw;
    }
    hide(services, previous);
}

FailedStart failedStart(Services& services, const std::wstring& localJar, std::uint32_t exitCode,
                        std::wstring_view errorOutput, bool holdsInstall) {
    const std::wstring previous = previousJarPath(localJar);
    if (!holdsInstall || !exists(services, previous)) {
        return {applicationStoppedMessage(exitCode, errorOutput)};
    }
    const std::wstring refused = refusedJarPath(localJar);
    try {
        services.moveReplacing(localJar, refused);
        try {
            bringBack(services, previous, localJar);
        } catch (const PlatformError&) {
            services.moveReplacing(refused, localJar);
            throw;
        }
    } catch (const PlatformError& error) {
        return {applicationStoppedMessage(exitCode, errorOutput) + L"\r\n" +
                unexpectedFailureMessage(error.description(), error.subject())};
    }
    hide(services, refused);
    return {updateUndoneMessage(exitCode, errorOutput), true};
}

void passedStart(Services& services, const std::wstring& localJar) {
    services.removeFile(previousJarPath(localJar));
}

}  // namespace velmoor
