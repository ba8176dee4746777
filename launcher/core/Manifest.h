#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmoor {

// One header of a manifest section, "Name: value", its continuation lines joined.
struct ManifestAttribute {
    std::string name;
    std::string value;
};

// The main section of a manifest or signature file, or one of the sections that name an entry.
struct ManifestSection {
    // The entry it names ("Name: "); empty in the main section.
    std::string name;
    // In file order. A name that a section repeats has its last value, as java reads it.
    std::vector<ManifestAttribute> attributes;
    // The section's bytes as the file holds them, from its first line through the blank line
    // that ends it (or through the last line end of the file): what a signature file's digests
    // cover. It points into the parsed bytes.
    std::string_view raw;

    // The value of an attribute, its name compared without regard to case; null when absent.
    const std::string* find(std::string_view attribute) const;
};

struct Manifest {
    ManifestSection main;
    // In file order. One entry may be named by more than one section, which java reads as one.
    std::vector<ManifestSection> entries;
};

// Reads META-INF/MANIFEST.MF, or a signature file (.SF), which has the same form, as java's own
// reader does: lines end in CR LF, LF or CR, and are at most 512 bytes with their end; a line
// that starts with a blank continues the one before; an attribute name is 1 to 70 letters,
// digits, '-' or '_'; blank lines end a section and may stand between sections; every section
// after the main one starts with "Name: ". A last line without a line end is dropped, as java
// drops it. Nothing when java would refuse the file. The result points into `bytes`.
std::optional<Manifest> parseManifest(std::string_view bytes);

}  // namespace velmoor
