#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velmoor {

// A platform call that failed. The code is the system's error number captured where the call
// failed, and the description is the system's own text for it, so that a message box can show
// the user what went wrong without going back to the platform. The subject is the file or
// folder the call was about, when there was one: the system's text does not name it.
class PlatformError : public std::runtime_error {
  public:
    PlatformError(std::uint32_t code, std::wstring description, std::wstring subject = {})
        : std::runtime_error("platform call failed"),
          code_(code),
          description_(std::move(description)),
          subject_(std::move(subject)) {}

    std::uint32_t code() const { return code_; }
    const std::wstring& description() const { return description_; }
    const std::wstring& subject() const { return subject_; }

  private:
    std::uint32_t code_;
    std::wstring description_;
    std::wstring subject_;
};

}  // namespace velmoor
