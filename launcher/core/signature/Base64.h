#pragma once

#include <span>
#include <string>

namespace velmoor {

// The standard Base64 of bytes, with padding, as the manifest and signature files hold digests.
std::string base64(std::span<const unsigned char> bytes);

}  // namespace velmoor
