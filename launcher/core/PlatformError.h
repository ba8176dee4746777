#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velmoor {

// A platform call that failed. The code is the system's error number captured where the call
// failed, and the description is the system's own text for it, so that a message box can show
// the user what went wrong without going back to the platform.
class PlatformError : public std::runtime_error {
  public:
    PlatformError(std::uint32_t code, std::wstring description)
        : std::runtime_error("platform call failed"),
          code_(code),
          description_(std::move(description)) {}

    std::uint32_t code() const { return code_; }
    const std::wstring& description() const { return description_; }

  private:
    std::uint32_t code_;
    std::wstring description_;
};

}  // namespace velmoor
