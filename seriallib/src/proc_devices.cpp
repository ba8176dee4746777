#include "proc_devices.h"

#include <cerrno>
#include <cstdint>

#include "scan_text.h"

namespace pellusk {

namespace {

// A piece yields a major only as "<number> <word>"; section titles such as "Character
// devices:" have no number and are passed over.
bool pieceNames(std::string_view piece, std::string_view name, std::int32_t& number) {
    // A zero byte ends the text that the piece-by-piece reader would look at.
    piece = piece.substr(0, piece.find('\0'));
    TextScanner scan(piece);
    std::string_view word;
    return scan.decimal(number) && scan.word(word, kDevicesPieceLength) && word == name;
}

}  // namespace

int findMajor(std::string_view devicesText, std::string_view name) {
    while (!devicesText.empty()) {
        std::size_t length = devicesText.find('\n');
        length = length == std::string_view::npos ? devicesText.size() : length + 1;
        if (length > kDevicesPieceLength) length = kDevicesPieceLength;
        std::int32_t number = 0;
        if (pieceNames(devicesText.substr(0, length), name, number)) return number;
        devicesText.remove_prefix(length);
    }
    return -ENODEV;
}

}  // namespace pellusk
