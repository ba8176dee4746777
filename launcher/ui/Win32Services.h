#pragma once

#include <windows.h>

#include <memory>

#include "Win32Crypto.h"
#include "core/Services.h"

namespace velmoor {

// The launcher's services on the Win32 API.
class Win32Services : public Services {
  public:
    std::wstring applicationDirectory() override;
    void setCurrentDirectory(const std::wstring& directory) override;
    void listDirectory(const std::wstring& pattern,
                       const std::function<bool(const DirEntry&)>& visit) override;
    void showMessage(const std::wstring& text) override;
    std::unique_ptr<StartedProcess> startHidden(const std::wstring& program,
                                                const std::wstring& commandLine) override;
    bool askYesNo(const std::wstring& text) override;
    std::optional<std::int64_t> lastModified(const std::wstring& path) override;
    std::optional<std::uint64_t> fileSize(const std::wstring& path) override;
    void linkOrCopy(const std::wstring& existing, const std::wstring& target) override;
    void writeFileReplacing(const std::wstring& path, std::string_view bytes) override;
    std::unique_ptr<ByteSource> openBytes(const std::wstring& path) override;
    ParallelWork parallelWork() override;
    CryptoService& crypto() override;
    TextFile readTextFile(const std::wstring& path, std::size_t maxBytes) override;
    std::unique_ptr<FileCopy> startCopy(const std::wstring& source,
                                        const std::wstring& target) override;
    bool canCreateFile(const std::wstring& path) override;
    void moveReplacing(const std::wstring& source, const std::wstring& target) override;
    void removeFile(const std::wstring& path) noexcept override;
    void removeLeftover(const std::wstring& path) override;
    void setHidden(const std::wstring& path, bool hidden) override;
    bool canReplace(const std::wstring& path) override;
    bool fitsJavaCommandLine(std::wstring_view text) override;
    std::optional<std::wstring> shortPath(const std::wstring& path) override;

    // The window the message boxes belong to, or none. An owned window stays above its owner,
    // and a window manager under Wine keeps it so too, so the splash never covers a question.
    void setMessageOwner(HWND window) { messageOwner_ = window; }

  private:
    HWND messageOwner_ = nullptr;
    // Made on first use: most starts check no signature.
    std::unique_ptr<Win32Crypto> crypto_;
};

// The full path of the running executable.
std::wstring executablePath();

}  // namespace velmoor
