#pragma once

#include <span>
#include <string>
#include <string_view>

#include "core/JarCheck.h"

namespace velmoor {

// The names that jarsigner's signatures are made of: the files in META-INF that hold them, and
// the attributes of the manifest and the signature files.

// The digests' attribute names, by DigestAlgorithm (in the order of kDigestAlgorithms): of an
// entry or a section, of the whole manifest, of its main attributes; and an entry's in upper case
// with its colon, as found in a manifest's text.
inline constexpr std::string_view kDigest[] = {"SHA-256-Digest", "SHA-384-Digest",
                                               "SHA-512-Digest"};
inline constexpr std::string_view kDigestManifest[] = {
    "SHA-256-Digest-Manifest", "SHA-384-Digest-Manifest", "SHA-512-Digest-Manifest"};
inline constexpr std::string_view kDigestMainAttributes[] = {
    "SHA-256-Digest-Manifest-Main-Attributes", "SHA-384-Digest-Manifest-Main-Attributes",
    "SHA-512-Digest-Manifest-Main-Attributes"};
inline constexpr std::string_view kDigestInText[] = {
    "SHA-256-DIGEST:", "SHA-384-DIGEST:", "SHA-512-DIGEST:"};
inline constexpr std::string_view kSignatureFileSuffix = ".SF";
inline constexpr std::string_view kSignatureVersion = "Signature-Version";
// The main attribute by which a release names keys of its publisher's: a new key is named by a
// release that the current key signs, and signs for the publisher from then on.
inline constexpr std::string_view kNamedKeysAttribute = "Velmoor-Publisher-Keys";

// ASCII letters in upper case, as java compares the names of signature files.
std::string upper(std::string_view text);

// The signature file or block's name in upper case, when the entry is one; else empty.
std::string signaturePart(std::string_view name);
// Of a name in upper case: whether it is a block (.RSA, .EC, .DSA); whether the jar's pass keeps
// it whole (the manifest, the signature files and the blocks).
bool isBlock(std::string_view key);
bool isKept(std::string_view key);

// Whether an entry is one that signatures do not cover: a directory, or one of the files that
// make up the signatures themselves (the manifest, and the signature files and blocks directly
// in META-INF), its name compared without regard to case, as java compares it. Every other
// entry, META-INF's own included (java loads a multi-release jar's classes from
// META-INF/versions/), must be signed.
bool isUnsignedByNature(std::string_view name);

inline std::span<const unsigned char> bytesOf(std::string_view text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

}  // namespace velmoor
