#include "Base64.h"

#include <algorithm>
#include <cstdint>

namespace velmoor {

std::string base64(std::span<const unsigned char> bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) group = group << 8 | (k < left ? bytes[i + k] : 0);
        for (std::size_t k = 0; k < 4; ++k)
            text += k <= left ? kAlphabet[(group >> (18 - 6 * k)) & 0x3f] : '=';
    }
    return text;
}

}  // namespace velmoor
