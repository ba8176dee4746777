#pragma once

#include <optional>

namespace velmoor {

struct Version {
    unsigned major = 0;
    unsigned minor = 0;
};

// The major and minor file version of the running executable, read from the fixed part of its
// version resource (the string table can drift from it).
std::optional<Version> ownFileVersion();

}  // namespace velmoor
