#include "SignatureNames.h"

#include <algorithm>

#include "core/TextEncoding.h"

namespace velmoor {

namespace {

constexpr std::string_view kMetaInf = "META-INF/";
// The blocks java verifies (a "SIG-*" file is signature-related, but java verifies none).
constexpr std::string_view kBlockSuffixes[] = {".RSA", ".EC", ".DSA"};

}  // namespace

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = upperAscii(c);
    }
    return result;
}

// The signature file or block's name in upper case, when the entry is one; else empty.
std::string signaturePart(std::string_view name) {
    std::string key = upper(name);
    if (!key.starts_with(kMetaInf) || key.find('/', kMetaInf.size()) != std::string::npos)
        return {};
    const std::string_view file = std::string_view(key).substr(kMetaInf.size());
    if (key == kManifestName || file.ends_with(kSignatureFileSuffix) || file.starts_with("SIG-") ||
        std::ranges::any_of(kBlockSuffixes, [&](auto suffix) { return file.ends_with(suffix); }))
        return key;
    return {};
}

bool isBlock(std::string_view key) {
    return std::ranges::any_of(kBlockSuffixes, [&](auto suffix) { return key.ends_with(suffix); });
}

bool isKept(std::string_view key) {
    return key == kManifestName || key.ends_with(kSignatureFileSuffix) || isBlock(key);
}

bool isUnsignedByNature(std::string_view name) {
    return name.ends_with('/') || !signaturePart(name).empty();
}

}  // namespace velmoor
