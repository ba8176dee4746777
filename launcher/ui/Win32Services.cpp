#include "Win32Services.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "HiddenStart.h"
#include "Thread.h"
#include "Win32Error.h"
#include "WinHandles.h"
#include "core/AppDirectory.h"
#include "core/FileLookup.h"
#include "core/Messages.h"
#include "core/TextEncoding.h"

namespace velmoor {

namespace {

// Messages boxes are task-modal without an owner: every window of the launcher is disabled
// while one is open, so neither the splash window nor the changes dialog can be used meanwhile.
// Topmost, so that the splash window, which a window manager does not stack, never lies over
// a box that asks the user something.
constexpr UINT kMessageBoxStyle = MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST;

DirEntry toEntry(const WIN32_FIND_DATAW& data) {
    DirEntry entry;
    entry.name = data.cFileName;
    entry.hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    entry.system = (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
    entry.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return entry;
}

bool meansNothingMatched(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_NO_MORE_FILES;
}

}  // namespace

std::wstring executablePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) throw lastError();
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring Win32Services::applicationDirectory() {
    return applicationDirectoryOf(executablePath());
}

// With its trailing backslash: Windows drops blanks and dots from the end of a path's last name,
// so "D:\Apps\Tarvio " alone would name another folder, or none.
void Win32Services::setCurrentDirectory(const std::wstring& directory) {
    const std::wstring folder = directory.ends_with(L'\\') ? directory : directory + L'\\';
    if (!::SetCurrentDirectoryW(folder.c_str())) throw lastError(directory);
}

void Win32Services::listDirectory(const std::wstring& pattern,
                                  const std::function<bool(const DirEntry&)>& visit) {
    WIN32_FIND_DATAW data;
    const HANDLE first = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                            FindExSearchNameMatch, nullptr, 0);
    if (first == INVALID_HANDLE_VALUE) {
        const PlatformError error = lastError(listingSubject(pattern));
        if (meansNothingMatched(error.code())) return;
        throw error;
    }
    const FindHandle find(first);
    while (visit(toEntry(data))) {
        if (!::FindNextFileW(find.get(), &data)) {
            const PlatformError error = lastError(listingSubject(pattern));
            if (error.code() == ERROR_NO_MORE_FILES) return;
            throw error;
        }
    }
}

void Win32Services::showMessage(const std::wstring& text) {
    const std::wstring title(kApplicationTitle);
    ::MessageBoxW(messageOwner_, text.c_str(), title.c_str(), MB_OK | kMessageBoxStyle);
}

std::unique_ptr<StartedProcess> Win32Services::startHidden(const std::wstring& program,
                                                           const std::wstring& commandLine) {
    return startHiddenProcess(program, commandLine);
}

bool Win32Services::askYesNo(const std::wstring& text) {
    const std::wstring title(kApplicationTitle);
    return ::MessageBoxW(messageOwner_, text.c_str(), title.c_str(),
                         MB_YESNO | MB_DEFBUTTON1 | kMessageBoxStyle) == IDYES;
}

std::optional<std::int64_t> Win32Services::lastModified(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    // Date-time values have whole seconds: the fractions that one file system keeps and
    // another drops must not make a copied jar look older than its source.
    const std::uint64_t ticks = (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                                data.ftLastWriteTime.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10'000'000);
}

std::optional<std::uint64_t> Win32Services::fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return std::uint64_t{data.nFileSizeHigh} << 32 | data.nFileSizeLow;
}

namespace {

// Flushes a file's data to the disk, so that a name given to it later never names data that a
// power cut lost.
void flushFile(const std::wstring& path) {
    const HANDLE opened = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) throw lastError(path);
    const KernelHandle file(opened);
    if (!::FlushFileBuffers(file.get())) throw lastError(path);
}

void moveWritingThrough(const std::wstring& source, const std::wstring& target) {
    if (!::MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        throw lastError(target);
    }
}

}  // namespace

// A hard link costs no copy and no space; FAT volumes and some shares take none.
void Win32Services::linkOrCopy(const std::wstring& existing, const std::wstring& target) {
    if (::CreateHardLinkW(target.c_str(), existing.c_str(), nullptr)) return;
    if (!::CopyFileW(existing.c_str(), target.c_str(), TRUE)) throw lastError(target);
    flushFile(target);
}

void Win32Services::writeFileReplacing(const std::wstring& path, std::string_view bytes) {
    const std::wstring written = path + L".tmp";
    {
        const HANDLE created = ::CreateFileW(written.c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE) throw lastError(written);
        const KernelHandle file(created);
        DWORD count = 0;
        // A short write leaves a record that does not read: as good as none.
        if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &count,
                         nullptr) ||
            !::FlushFileBuffers(file.get()))
            throw lastError(written);
    }
    // A hidden file takes no replacement that is not hidden too; a first write finds none.
    if (!::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        const PlatformError error = lastError(path);
        if (!meansNothingMatched(error.code())) throw error;
    }
    moveWritingThrough(written, path);
}

namespace {

std::wstring fromCodePage(UINT codePage, const std::string& bytes) {
    if (bytes.empty()) return {};
    const int length = ::MultiByteToWideChar(codePage, 0, bytes.data(),
                                             static_cast<int>(bytes.size()), nullptr, 0);
    if (length == 0) throw lastError();
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(),
                          length);
    return text;
}

// A last odd byte, half a character, shows as U+FFFD.
std::wstring fromUtf16(const std::string& bytes, bool bigEndian) {
    std::wstring text;
    text.reserve(bytes.size() / 2 + 1);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        text += static_cast<wchar_t>(bigEndian ? first << 8 | second : second << 8 | first);
    }
    if (bytes.size() % 2 != 0) text += L'\uFFFD';
    return text;
}

}  // namespace

namespace {

// A file open for reading, shared with writers: the publisher may still be copying it, which
// is what the jar check is there to find out.
class FileSource final : public ByteSource {
  public:
    explicit FileSource(KernelHandle file) : file_(std::move(file)) {}
    std::uint64_t size() override {
        LARGE_INTEGER size{};
        return ::GetFileSizeEx(file_.get(), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
    }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        auto* bytes = static_cast<char*>(into);
        while (count > 0) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD chunk = count > (1u << 20) ? (1u << 20) : static_cast<DWORD>(count);
            DWORD read = 0;
            if (!::ReadFile(file_.get(), bytes, chunk, &read, &at) || read == 0) return false;
            bytes += read, offset += read, count -= read;
        }
        return true;
    }

  private:
    KernelHandle file_;
};

}  // namespace

std::unique_ptr<ByteSource> Win32Services::openBytes(const std::wstring& path) {
    const HANDLE opened =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) throw lastError(path);
    return std::make_unique<FileSource>(KernelHandle(opened));
}

namespace {

// The check is one step of an update the user waits for, not the machine's only work: it takes
// four cores at most.
constexpr std::size_t kMaxWorkers = 4;

}  // namespace

ParallelWork Win32Services::parallelWork() {
    const DWORD processors = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return {runOnThreads, std::clamp<std::size_t>(processors, 1, kMaxWorkers)};
}

CryptoService& Win32Services::crypto() {
    if (!crypto_) crypto_ = std::make_unique<Win32Crypto>();
    return *crypto_;
}

TextFile Win32Services::readTextFile(const std::wstring& path, std::size_t maxBytes) {
    const HANDLE opened = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) throw lastError(path);
    const KernelHandle file(opened);
    // One byte past the limit tells whether the file holds more.
    std::string bytes;
    char buffer[16384];
    while (bytes.size() <= maxBytes) {
        const DWORD wanted =
            static_cast<DWORD>(std::min(sizeof buffer, maxBytes + 1 - bytes.size()));
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer, wanted, &read, nullptr)) throw lastError(path);
        if (read == 0) break;
        bytes.append(buffer, read);
    }
    TextFile result;
    if (bytes.size() > maxBytes) {
        result.cut = true;
        bytes.resize(wholeCharactersEnd(std::string_view(bytes).substr(0, maxBytes)));
    }
    const DetectedEncoding detected = detectEncoding(bytes);
    bytes.erase(0, detected.markLength);
    switch (detected.encoding) {
        case TextEncoding::utf16le:
        case TextEncoding::utf16be:
            result.text = fromUtf16(bytes, detected.encoding == TextEncoding::utf16be);
            break;
        case TextEncoding::utf8:
            result.text = fromCodePage(CP_UTF8, bytes);
            break;
        case TextEncoding::ansi:
            result.text = fromCodePage(CP_ACP, bytes);
            break;
    }
    return result;
}

namespace {

class Win32FileCopy final : public FileCopy {
  public:
    Win32FileCopy(const std::wstring& sourcePath, KernelHandle source,
                  const std::wstring& targetPath, KernelHandle target, const FILETIME& written)
        : sourcePath_(sourcePath),
          targetPath_(targetPath),
          source_(std::move(source)),
          target_(std::move(target)),
          written_(written) {}
    std::uint64_t size() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(source_.get(), &size)) throw lastError(sourcePath_);
        return static_cast<std::uint64_t>(size.QuadPart);
    }
    std::size_t read(void* into, std::size_t count) override {
        DWORD read = 0;
        if (!::ReadFile(source_.get(), into, static_cast<DWORD>(count), &read, nullptr)) {
            throw lastError(sourcePath_);
        }
        return read;
    }
    void write(const void* from, std::size_t count) override {
        const auto* bytes = static_cast<const char*>(from);
        while (count > 0) {
            DWORD written = 0;
            if (!::WriteFile(target_.get(), bytes, static_cast<DWORD>(count), &written, nullptr)) {
                throw lastError(targetPath_);
            }
            bytes += written, count -= written;
        }
    }
    void finish() override {
        if (!::SetFileTime(target_.get(), nullptr, nullptr, &written_))
            throw lastError(targetPath_);
        target_.reset();
        source_.reset();
    }

  private:
    const std::wstring sourcePath_;
    const std::wstring targetPath_;
    KernelHandle source_;
    KernelHandle target_;
    FILETIME written_;
};

}  // namespace

std::unique_ptr<FileCopy> Win32Services::startCopy(const std::wstring& source,
                                                   const std::wstring& target) {
    const HANDLE reading = ::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (reading == INVALID_HANDLE_VALUE) throw lastError(source);
    KernelHandle from(reading);
    FILETIME written{};
    if (!::GetFileTime(from.get(), nullptr, nullptr, &written)) throw lastError(source);
    // Shared for deletion: a copy given up is removed while a worker stuck in a read still
    // holds it, and goes once that handle closes, at the latest with the process.
    const HANDLE writing = ::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writing == INVALID_HANDLE_VALUE) throw lastError(target);
    KernelHandle to(writing);
    return std::make_unique<Win32FileCopy>(source, std::move(from), target, std::move(to), written);
}

bool Win32Services::canCreateFile(const std::wstring& path) {
    const HANDLE created =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (created == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(created);
    return true;
}

void Win32Services::moveReplacing(const std::wstring& source, const std::wstring& target) {
    // The copy's data reaches the disk before its name replaces the jar's: after a power loss
    // the jar is the old one or the whole new one, never a name over data that was never written.
    flushFile(source);
    moveWritingThrough(source, target);
}

void Win32Services::removeFile(const std::wstring& path) noexcept {
    ::DeleteFileW(path.c_str());
}

void Win32Services::removeLeftover(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const PlatformError error = lastError(path);
        if (meansNothingMatched(error.code())) return;
        throw error;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (!::RemoveDirectoryW(path.c_str())) throw lastError(path);
        return;
    }
    // Read-only, it would stay: the launcher's own leftover is its to remove.
    if ((attributes & FILE_ATTRIBUTE_READONLY) &&
        !::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        throw lastError(path);
    }
    if (!::DeleteFileW(path.c_str())) throw lastError(path);
}

void Win32Services::setHidden(const std::wstring& path, bool hidden) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throw lastError(path);
    const DWORD wanted =
        hidden ? attributes | FILE_ATTRIBUTE_HIDDEN : attributes & ~FILE_ATTRIBUTE_HIDDEN;
    if (wanted != attributes && !::SetFileAttributesW(path.c_str(), wanted)) throw lastError(path);
}

// Replacing the file deletes it by its name: a handle opened without delete sharing, as java
// holds the jar it runs, is in the way.
bool Win32Services::canReplace(const std::wstring& path) {
    const HANDLE file =
        ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
        return true;
    }
    return ::GetLastError() != ERROR_SHARING_VIOLATION;
}

bool Win32Services::fitsJavaCommandLine(std::wstring_view text) {
    // UTF-8 as the ANSI code page holds every character (and takes no default character).
    if (text.empty() || ::GetACP() == CP_UTF8) return true;
    BOOL usedDefault = FALSE;
    const int length =
        ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                              static_cast<int>(text.size()), nullptr, 0, nullptr, &usedDefault);
    return length > 0 && !usedDefault;
}

std::optional<std::wstring> Win32Services::shortPath(const std::wstring& path) {
    const DWORD needed = ::GetShortPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0) return std::nullopt;
    std::wstring shortForm(needed, L'\0');
    const DWORD length = ::GetShortPathNameW(path.c_str(), shortForm.data(), needed);
    if (length == 0 || length >= needed) return std::nullopt;
    shortForm.resize(length);
    return shortForm;
}

}  // namespace velmoor
