#pragma once

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
    bool startHidden(const std::wstring& program, const std::wstring& commandLine) override;
};

// The full path of the running executable.
std::wstring executablePath();

}  // namespace velmoor
