#include "TextEncoding.h"

#include <algorithm>

namespace velmoor {

namespace {

bool isContinuation(unsigned char byte) {
    return byte >= 0x80 && byte <= 0xBF;
}

// The length of the sequence at bytes[i] when it is well-formed UTF-8 as the Unicode standard
// defines it (no overlong form, no surrogate, nothing above U+10FFFF, not cut short); else 0.
std::size_t sequenceLength(std::string_view bytes, std::size_t i) {
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
        return 0;
    }
    if (bytes.size() - i < length) return 0;
    if (length > 1) {
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        if (second < secondLow || second > secondHigh) return 0;
        for (std::size_t k = 2; k < length; ++k) {
            if (!isContinuation(static_cast<unsigned char>(bytes[i + k]))) return 0;
        }
    }
    return length;
}

}  // namespace

bool isStrictUtf8(std::string_view bytes) {
    for (std::size_t i = 0, length; i < bytes.size(); i += length) {
        if ((length = sequenceLength(bytes, i)) == 0) return false;
    }
    return true;
}

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

namespace {

template <typename Text>
Text decodeUtf8(std::string_view bytes) {
    using Unit = typename Text::value_type;
    Text text;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = sequenceLength(bytes, i);
        if (length == 0) {
            text += Unit{0xFFFD};
            ++i;
            continue;
        }
        char32_t point =
            static_cast<unsigned char>(bytes[i]) & (length == 1 ? 0x7f : 0x3f >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) point = point << 6 | (bytes[i + k] & 0x3f);
        // Where the units are UTF-16, a point beyond them takes two.
        if (sizeof(Unit) == 2 && point > 0xffff) {
            text += static_cast<Unit>(0xd800 + ((point - 0x10000) >> 10));
            point = 0xdc00 + ((point - 0x10000) & 0x3ff);
        }
        text += static_cast<Unit>(point);
        i += length;
    }
    return text;
}

}  // namespace

std::wstring fromUtf8(std::string_view bytes) {
    return decodeUtf8<std::wstring>(bytes);
}

std::u16string utf16FromUtf8(std::string_view bytes) {
    return decodeUtf8<std::u16string>(bytes);
}

namespace {

template <typename Char>
bool sameIgnoringCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    return std::ranges::equal(a, b, [](Char x, Char y) { return lowerAscii(x) == lowerAscii(y); });
}

}  // namespace

bool sameIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
    return sameIgnoringCase(a, b);
}
bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return sameIgnoringCase(a, b);
}

}  // namespace velmoor
