#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "JarCheck.h"

namespace velmoor {

// One entry of a directory listing, with the attributes that decide whether it counts as an
// ordinary file.
struct DirEntry {
    std::wstring name;
    bool hidden = false;
    bool system = false;
    bool directory = false;
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

    // A file's last-modified date and time in whole seconds, or nothing when it cannot be
    // read for any reason (no drive, no folder, no file, no access).
    virtual std::optional<std::int64_t> lastModified(const std::wstring& path) = 0;

    // The bytes of a file, read where they lie, for the jar check.
    virtual std::unique_ptr<ByteSource> openBytes(const std::wstring& path) = 0;

    // The whole text of a file, decoded.
    virtual std::wstring readTextFile(const std::wstring& path) = 0;

    // Copies a file, overwriting the target and keeping the source's last-modified time.
    virtual void copyFile(const std::wstring& source, const std::wstring& target) = 0;

    // Puts source in the place of target in one step, on the same volume.
    virtual void moveReplacing(const std::wstring& source, const std::wstring& target) = 0;

    // Removes a file if it is there; a failure is of no interest to the caller.
    virtual void removeFile(const std::wstring& path) noexcept = 0;

    // Starts the program with the command line, its window hidden, without waiting for it and
    // without keeping a handle to it. Returns false when the start failed.
    virtual bool startHidden(const std::wstring& program, const std::wstring& commandLine) = 0;
};

}  // namespace velmoor
