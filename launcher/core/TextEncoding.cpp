#include "TextEncoding.h"

namespace velmoor {

namespace {

bool isContinuation(unsigned char byte) {
    return byte >= 0x80 && byte <= 0xBF;
}

// Well-formed UTF-8 as the Unicode standard defines it: no overlong forms, no surrogates,
// nothing above U+10FFFF, no sequence cut short.
bool isStrictUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        unsigned char secondLow = 0x80;
        unsigned char secondHigh = 0xBF;
        if (lead < 0x80) {
            length = 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) secondLow = 0xA0;
            if (lead == 0xED) secondHigh = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) secondLow = 0x90;
            if (lead == 0xF4) secondHigh = 0x8F;
        } else {
            return false;
        }
        if (bytes.size() - i < length) return false;
        if (length > 1) {
            const auto second = static_cast<unsigned char>(bytes[i + 1]);
            if (second < secondLow || second > secondHigh) return false;
            for (std::size_t k = 2; k < length; ++k) {
                if (!isContinuation(static_cast<unsigned char>(bytes[i + k]))) return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace

DetectedEncoding detectEncoding(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE")) return {TextEncoding::utf16le, 2};
    if (bytes.starts_with("\xFE\xFF")) return {TextEncoding::utf16be, 2};
    if (bytes.starts_with("\xEF\xBB\xBF")) return {TextEncoding::utf8, 3};
    if (isStrictUtf8(bytes)) return {TextEncoding::utf8, 0};
    return {TextEncoding::ansi, 0};
}

std::size_t wholeCharactersEnd(std::string_view bytes) {
    const TextEncoding encoding = detectEncoding(bytes.substr(0, 2)).encoding;
    if (encoding == TextEncoding::utf16le || encoding == TextEncoding::utf16be) {
        return bytes.size() & ~std::size_t{1};
    }
    // The last lead byte within a sequence's length of the end, and whether all its
    // sequence is there.
    for (std::size_t back = 1; back <= 4 && back <= bytes.size(); ++back) {
        const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((byte & 0xC0) == 0x80) continue;
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? bytes.size() - back : bytes.size();
    }
    return bytes.size();
}

}  // namespace velmoor
