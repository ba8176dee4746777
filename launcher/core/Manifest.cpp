#include "Manifest.h"

#include <algorithm>
#include <utility>

#include "TextEncoding.h"

namespace velmoor {

namespace {

// java reads a manifest line into a buffer of this many bytes, its line end included.
constexpr std::size_t kLineBuffer = 512;
constexpr std::size_t kMaxAttributeNameLength = 70;

bool isAttributeName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxAttributeNameLength &&
           std::ranges::all_of(name, [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
           });
}

// Reads the file line by line as java does.
class Lines {
  public:
    explicit Lines(std::string_view bytes) : bytes_(bytes) {}

    enum class Next { line, end, tooLong };

    // The line at the current place. `end` where no line end follows: java drops such a last
    // line, unless it fills its whole buffer.
    Next next(std::string_view& text) {
        const std::size_t lineEnd = bytes_.find_first_of("\r\n", at_);
        if (lineEnd == std::string_view::npos) {
            return bytes_.size() - at_ >= kLineBuffer ? Next::tooLong : Next::end;
        }
        if (lineEnd - at_ + 1 > kLineBuffer) return Next::tooLong;
        text = bytes_.substr(at_, lineEnd - at_);
        // A CR LF whose LF no longer fits in the buffer is read as a line end followed by an
        // empty line, as java reads it.
        const bool crlf = bytes_[lineEnd] == '\r' && lineEnd + 1 < bytes_.size() &&
                          bytes_[lineEnd + 1] == '\n' && lineEnd - at_ + 2 <= kLineBuffer;
        at_ = lineEnd + (crlf ? 2 : 1);
        return Next::line;
    }

    // Whether the next line continues the one just read.
    bool continues() const { return at_ < bytes_.size() && bytes_[at_] == ' '; }

    std::size_t at() const { return at_; }

  private:
    std::string_view bytes_;
    std::size_t at_ = 0;
};

// A name given again takes the later value, in the place of the first.
void put(ManifestSection& section, ManifestAttribute attribute) {
    for (ManifestAttribute& present : section.attributes) {
        if (sameIgnoringAsciiCase(present.name, attribute.name)) {
            present.value = std::move(attribute.value);
            return;
        }
    }
    section.attributes.push_back(std::move(attribute));
}

// Reads a section's attributes up to and including the blank line that ends it, or to the end of
// the file. An attribute whose last continuation line has no line end is dropped with it.
bool readAttributes(Lines& lines, ManifestSection& section) {
    std::optional<ManifestAttribute> pending;
    for (;;) {
        std::string_view text;
        const Lines::Next next = lines.next(text);
        if (next == Lines::Next::tooLong) return false;
        if (next == Lines::Next::end || text.empty()) return true;
        if (text.front() == ' ') {
            if (!pending) return false;
            pending->value += text.substr(1);
        } else {
            const std::size_t colon = text.find(':');
            if (colon == std::string_view::npos || colon + 1 >= text.size() ||
                text[colon + 1] != ' ' || !isAttributeName(text.substr(0, colon)))
                return false;
            pending = ManifestAttribute{std::string(text.substr(0, colon)),
                                        std::string(text.substr(colon + 2))};
        }
        if (!lines.continues()) {
            put(section, std::move(*pending));
            pending.reset();
        }
    }
}

}  // namespace

const std::string* ManifestSection::find(std::string_view attribute) const {
    for (const ManifestAttribute& candidate : attributes) {
        if (sameIgnoringAsciiCase(candidate.name, attribute)) return &candidate.value;
    }
    return nullptr;
}

std::optional<Manifest> parseManifest(std::string_view bytes) {
    Manifest manifest;
    Lines lines(bytes);
    if (!readAttributes(lines, manifest.main)) return std::nullopt;
    manifest.main.raw = bytes.substr(0, lines.at());
    for (;;) {
        const std::size_t start = lines.at();
        std::string_view text;
        const Lines::Next next = lines.next(text);
        if (next == Lines::Next::tooLong) return std::nullopt;
        if (next == Lines::Next::end) return manifest;
        if (text.empty()) continue;
        constexpr std::string_view kName = "name: ";
        if (text.size() < kName.size() ||
            !sameIgnoringAsciiCase(text.substr(0, kName.size()), kName))
            return std::nullopt;
        ManifestSection section;
        section.name = text.substr(kName.size());
        bool whole = true;
        while (whole && lines.continues()) {
            const Lines::Next more = lines.next(text);
            if (more == Lines::Next::tooLong) return std::nullopt;
            whole = more == Lines::Next::line;
            if (whole) section.name += text.substr(1);
        }
        // A name cut off by the end of the file names no section.
        if (!whole) return manifest;
        if (!readAttributes(lines, section)) return std::nullopt;
        section.raw = bytes.substr(start, lines.at() - start);
        manifest.entries.push_back(std::move(section));
    }
}

}  // namespace velmoor
