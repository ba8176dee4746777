#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Services.h"

namespace velmoor {

// The files an update keeps beside the installed jar. Every step that changes them leaves the
// jar's own name naming a whole jar, old or new, so that a start after a cut anywhere (power,
// a killed process, the session's end) still has an application to start:
//   <jar>.previous  the jar an update replaced, kept (hidden) while the new version is on trial;
//   <jar>.failed    the new version that failed its trial, kept (hidden) while the previous one,
//                   put back, shows whether the failure was the update's;
//   <jar>.refused   a small record of the publish that was refused: its time and size, so that
//                   the same publish is not copied again; no copy of the jar is kept for it.
std::wstring previousJarPath(std::wstring_view localJar);
std::wstring failedJarPath(std::wstring_view localJar);
std::wstring refusedRecordPath(std::wstring_view localJar);

// What tells one publish from another: its last-modified time and its size.
struct PublishStamp {
    std::int64_t time = 0;
    std::uint64_t size = 0;
    bool operator==(const PublishStamp&) const = default;
};
std::optional<PublishStamp> stampOf(Services& services, const std::wstring& path);

// The publish refused for the jar, if any, and the record of a new refusal, written whole.
std::optional<PublishStamp> refusedPublish(Services& services, const std::wstring& localJar);
void refusePublish(Services& services, const std::wstring& localJar, const PublishStamp& stamp);

// At start, before anything else, by the launcher that holds the install, for "Tarvio.jar" and
// again for the jar the lookup finds: finishes or undoes what a run that was cut off left half
// done. A jar name without its jar gets the whole jar that lies beside it (a checked copy, else
// the previous version, else a failed one); a rollback that had recorded its refusal is
// finished; a failed version whose verdict never came goes; a refused jar that an earlier
// launcher kept whole becomes a record. What cannot be settled now (a jar held by a running
// application) is left for the next start.
void settleInstall(Services& services, const std::wstring& localJar);

// Puts the checked copy in place of the installed jar in one step, the installed jar kept as
// the previous version (a second name for it, made before the replace), unless a version
// still on trial is replaced: then the previous version stays the one to go back to.
void installCopy(Services& services, const std::wstring& copy, const std::wstring& localJar);

// Whether a start of the jar is a new version's trial: its previous version is kept.
bool onTrial(Services& services, const std::wstring& localJar);

// A start that ended with an error while it was watched.
struct FailedStart {
    std::wstring message;   // what the user is told, before anything else starts
    bool restored = false;  // the previous version is back in place, to be started and watched
};

// The new version on trial, where the launcher holds the install, gives way to the previous one
// and its publish is refused; any other start is only reported.
FailedStart failedStart(Services& services, const std::wstring& localJar, std::uint32_t exitCode,
                        std::wstring_view errorOutput, bool holdsInstall);

// The previous version, put back after the new one ended with undoneExitCode, ended with an
// error too. The same exit code is no fault of the update's: the new version comes back, its
// refusal goes, and the box says that the application cannot start. Otherwise the refusal stands.
std::wstring previousFailedToo(Services& services, const std::wstring& localJar,
                               std::uint32_t undoneExitCode, std::uint32_t exitCode,
                               std::wstring_view errorOutput);

// A start that passed its watch, or ended well: what was kept for going back goes.
void passedStart(Services& services, const std::wstring& localJar);

}  // namespace velmoor
