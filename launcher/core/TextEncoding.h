#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmoor {

enum class TextEncoding { ansi, utf8, utf16le, utf16be };

struct DetectedEncoding {
    TextEncoding encoding;
    std::size_t markLength;  // bytes of the byte-order mark to skip, 0 without one
};

// How a text file's bytes are to be read: a UTF-16 (little or big endian) or UTF-8 byte-order
// mark decides; without one, bytes that are well-formed UTF-8 throughout are UTF-8 (what
// Notepad writes by default), and anything else is in the ANSI code page.
DetectedEncoding detectEncoding(std::string_view bytes);

// Where the first part of a text that was cut at an arbitrary byte ends in whole characters:
// without half a UTF-16 unit when the part starts with a UTF-16 mark, else without a UTF-8
// sequence cut short, which would make the whole part read as ANSI.
std::size_t wholeCharactersEnd(std::string_view bytes);

// Whether the bytes are well-formed UTF-8 throughout, as java's decoder of jar entry names
// takes them.
bool isStrictUtf8(std::string_view bytes);

// The character in lower (upper) case when it is an ASCII letter, else as it is: the only case
// java and Windows fold in the names the launcher compares.
template <typename Char>
constexpr Char lowerAscii(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}
template <typename Char>
constexpr Char upperAscii(Char c) {
    return c >= 'a' && c <= 'z' ? static_cast<Char>(c - 'a' + 'A') : c;
}

// Whether two texts are the same but for the case of ASCII letters (file names as Windows
// compares them for our purposes; java's error words; manifest attribute names).
bool sameIgnoringAsciiCase(std::wstring_view a, std::wstring_view b);
bool sameIgnoringAsciiCase(std::string_view a, std::string_view b);

// UTF-8 text (a jar entry's name) as wide characters; what is not well-formed shows as U+FFFD.
std::wstring fromUtf8(std::string_view bytes);
// The same as UTF-16 units, which Windows' wide characters are: a point past U+FFFF takes two
// (fromUtf8 is this where wchar_t is 2 bytes; the host's is 4, so its tests read this one).
std::u16string utf16FromUtf8(std::string_view bytes);

}  // namespace velmoor
