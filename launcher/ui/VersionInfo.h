#pragma once

#include <optional>
#include <string>

namespace velmoor {

struct Version {
    unsigned major = 0;
    unsigned minor = 0;
};

// The major and minor file version of the running executable, read from the fixed part of its
// version resource (the string table can drift from it).
std::optional<Version> ownFileVersion();

// The splash label's caption for the running executable's version; the designed one when its
// version resource cannot be read.
std::wstring ownVersionCaption();

}  // namespace velmoor
