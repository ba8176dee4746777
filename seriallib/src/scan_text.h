// Reading numbers and words out of the kernel's /proc text the way scanf's %d, %x and %s read
// them, but never beyond the text and never into a buffer too small for the word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pellusk {

class TextScanner {
  public:
    explicit TextScanner(std::string_view text) : rest_(text) {}

    // %d: blanks, an optional sign and decimal digits. False when there are no digits or the
    // number does not fit an int.
    bool decimal(std::int32_t& value) {
        bool negative = false;
        std::uint64_t magnitude = 0;
        if (!digits(10, negative, magnitude)) return false;
        const std::uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
        if (magnitude > limit) return false;
        value = negative ? static_cast<std::int32_t>(0 - magnitude)
                         : static_cast<std::int32_t>(magnitude);
        return true;
    }

    // %x: blanks, an optional sign, an optional 0x and hexadecimal digits. False when there are
    // no digits or the number does not fit 32 bits. A minus sign negates, as strtoul does.
    bool hex(std::uint32_t& value) {
        bool negative = false;
        std::uint64_t magnitude = 0;
        if (!digits(16, negative, magnitude) || magnitude > 0xFFFFFFFFu) return false;
        value = static_cast<std::uint32_t>(negative ? 0 - magnitude : magnitude);
        return true;
    }

    // %s: blanks, then the run of non-blank bytes. False when there is none or it is longer
    // than maxLength, since the word would not fit the buffer it is meant for.
    bool word(std::string_view& out, std::size_t maxLength) {
        skipBlanks();
        std::size_t length = 0;
        while (length < rest_.size() && !isBlank(rest_[length])) ++length;
        if (length == 0 || length > maxLength) return false;
        out = std::string_view(rest_.data(), length);
        rest_.remove_prefix(length);
        return true;
    }

  private:
    static bool isBlank(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }

    void skipBlanks() {
        while (!rest_.empty() && isBlank(rest_.front())) rest_.remove_prefix(1);
    }

    static int digitValue(char c, int base) {
        int v = -1;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        return v < base ? v : -1;
    }

    // Reads sign and digits; the magnitude saturates just above 32 bits so any overflow shows.
    bool digits(int base, bool& negative, std::uint64_t& magnitude) {
        skipBlanks();
        std::string_view s = rest_;
        if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
            negative = s.front() == '-';
            s.remove_prefix(1);
        }
        if (base == 16 && s.size() >= 3 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') &&
            digitValue(s[2], 16) >= 0) {
            s.remove_prefix(2);
        }
        std::size_t count = 0;
        magnitude = 0;
        for (; count < s.size() && digitValue(s[count], base) >= 0; ++count) {
            if (magnitude <= 0xFFFFFFFFu) {
                magnitude = magnitude * static_cast<unsigned>(base) +
                            static_cast<unsigned>(digitValue(s[count], base));
            }
        }
        if (count == 0) return false;
        s.remove_prefix(count);
        rest_ = s;
        return true;
    }

    std::string_view rest_;
};

}  // namespace pellusk
