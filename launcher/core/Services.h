#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "JarCheck.h"
#include "signature/Crypto.h"

namespace velmoor {

// One entry of a directory listing, with the attributes that decide whether it counts as an
// ordinary file.
struct DirEntry {
    std::wstring name;
    bool hidden = false;
    bool system = false;
    bool directory = false;
};

struct TextFile {
    std::wstring text;
    bool cut = false;
};

// One file being copied to another by the caller's own loop, so that the caller can tell how
// far it has come and stop between chunks. Failures are thrown as PlatformError.
class FileCopy {
  public:
    virtual ~FileCopy() = default;
    // The source's length in bytes when the copy began.
    virtual std::uint64_t size() = 0;
    // Reads the source's next bytes into `into`; 0 at its end.
    virtual std::size_t read(void* into, std::size_t count) = 0;
    // Appends all count bytes to the target.
    virtual void write(const void* from, std::size_t count) = 0;
    // Gives the target the source's last-modified time, as a copy by the system would, and
    // closes both files.
    virtual void finish() = 0;
};

// A process the launcher has started, watched while the splash window is open.
class StartedProcess {
  public:
    virtual ~StartedProcess() = default;
    // Its exit code once it has ended; nothing while it runs.
    virtual std::optional<std::uint32_t> exitCode() = 0;
    // The start of what it has written to its standard error so far, decoded.
    virtual std::wstring errorOutput() = 0;
};

// How to spread work over the machine's cores: a runner and how many workers suit the machine.
// Empty, the work runs on the calling thread alone.
struct ParallelWork {
    ParallelRun run;
    std::size_t workers = 1;
};

// What the launcher needs from the platform, by role. The Win32 implementation lives in the ui
// folder; the unit tests supply an in-memory one. Failures that the caller does not expect are
// thrown as PlatformError.
class Services {
  public:
    virtual ~Services() = default;

    // The directory that holds the running executable, as the platform reports it.
    virtual std::wstring applicationDirectory() = 0;

    virtual void setCurrentDirectory(const std::wstring& directory) = 0;

    // Calls visit for each entry that a listing of the path or wildcard pattern returns, in the
    // file system's own order, until visit returns false. A pattern that matches nothing, or a
    // folder that does not exist, is an empty listing rather than a failure.
    virtual void listDirectory(const std::wstring& pattern,
                               const std::function<bool(const DirEntry&)>& visit) = 0;

    // A modal message box with an OK button only, titled with the application title.
    virtual void showMessage(const std::wstring& text) = 0;

    // A modal message box with Yes (the default) and No; true when the answer is Yes.
    virtual bool askYesNo(const std::wstring& text) = 0;

    // A file's last-modified date and time in whole seconds since 1601-01-01 UTC, or nothing
    // when it cannot be read for any reason (no drive, no folder, no file, no access).
    virtual std::optional<std::int64_t> lastModified(const std::wstring& path) = 0;

    // A file's length in bytes, or nothing when it cannot be read.
    virtual std::optional<std::uint64_t> fileSize(const std::wstring& path) = 0;

    // The clock, as lastModified counts: whole seconds since 1601-01-01 UTC.
    virtual std::int64_t currentTime() {
        constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count() +
               kSecondsFrom1601To1970;
    }

    // The bytes of a file, read where they lie, for the jar check.
    virtual std::unique_ptr<ByteSource> openBytes(const std::wstring& path) = 0;

    // The workers the jar check of a copied update may spread over.
    virtual ParallelWork parallelWork() { return {}; }

    // SHA-256 and the check of signature blocks, for the signatures of jars.
    virtual CryptoService& crypto() = 0;

    // The text of a file, decoded: its first maxBytes bytes at most, cut after the last whole
    // character, with cut set when the file holds more.
    virtual TextFile readTextFile(const std::wstring& path, std::size_t maxBytes) = 0;

    // Opens source for reading and creates or empties target, for a copy made chunk by chunk.
    virtual std::unique_ptr<FileCopy> startCopy(const std::wstring& source,
                                                const std::wstring& target) = 0;

    // Whether a file can be created at the path (it is created and removed again): an install
    // folder that takes no new file cannot take an update either.
    virtual bool canCreateFile(const std::wstring& path) = 0;

    // Puts source in the place of target in one step, on the same volume.
    virtual void moveReplacing(const std::wstring& source, const std::wstring& target) = 0;

    // Gives an existing file a second name on the same volume (a hard link) or, where the volume
    // takes none, makes a copy of it there; either way on disk before it returns. Nothing may
    // be at the target.
    virtual void linkOrCopy(const std::wstring& existing, const std::wstring& target) = 0;

    // Writes a small file whole: into a file beside it, flushed, then renamed over the path in
    // one step, so that a cut leaves either the old contents or the new.
    virtual void writeFileReplacing(const std::wstring& path, std::string_view bytes) = 0;

    // Removes a file if it is there; a failure is of no interest to the caller.
    virtual void removeFile(const std::wstring& path) noexcept = 0;

    // Removes what an earlier run left at the path, a read-only file or an empty folder too;
    // throws when something stays there.
    virtual void removeLeftover(const std::wstring& path) = 0;

    // Gives a file the hidden attribute, or takes it away.
    virtual void setHidden(const std::wstring& path, bool hidden) = 0;

    // Whether a file could be replaced now: no other process holds it open against that, as a
    // running Java application holds its jar.
    virtual bool canReplace(const std::wstring& path) = 0;

    // Whether a Java runtime reads the text back unchanged from its command line, which it reads
    // in the ANSI code page: characters outside it arrive as '?' or as look-alikes.
    virtual bool fitsJavaCommandLine(std::wstring_view text) = 0;

    // The 8.3 form of an existing file's path, where its volume keeps short names.
    virtual std::optional<std::wstring> shortPath(const std::wstring& path) = 0;

    // Starts the program with the command line, its window hidden, without waiting for it. The
    // process inherits the current directory and no handle but its standard ones. A start that
    // fails throws, with the system's reason.
    virtual std::unique_ptr<StartedProcess> startHidden(const std::wstring& program,
                                                        const std::wstring& commandLine) = 0;
};

}  // namespace velmoor
