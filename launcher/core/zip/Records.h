// The ZIP records a jar is made of, named as the format names them, and the readers of their
// little-endian fields and of the ZIP64 extended-information field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "core/JarCheck.h"

namespace velmoor::zip {

constexpr std::uint32_t kLocalFileHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralDirHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndOfCentralDirSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndOfCentralDirSignature = 0x06064b50;
constexpr std::uint32_t kZip64EndOfCentralDirLocatorSignature = 0x07064b50;
constexpr std::size_t kLocalFileHeaderSize = 30;
constexpr std::size_t kCentralDirHeaderSize = 46;
constexpr std::size_t kEndOfCentralDirSize = 22;
constexpr std::size_t kZip64EndOfCentralDirSize = 56;
constexpr std::size_t kZip64EndOfCentralDirLocatorSize = 20;
constexpr std::size_t kMaxCommentLength = 0xffff;
constexpr std::uint16_t kZip64ExtendedInfoHeaderId = 0x0001;
constexpr std::uint16_t kEncryptedFlag = 1 << 0;
constexpr std::uint16_t kDataDescriptorFlag = 1 << 3;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
// A 16- or 32-bit field holding this says the real value is in a ZIP64 record.
constexpr std::uint16_t kZip64Marker16 = 0xffff;
constexpr std::uint32_t kZip64Marker32 = 0xffffffff;
// A plain end record counts the entries in 16 bits.
constexpr std::uint64_t kPlainCountModulus = 0x10000;

inline std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t le32(const unsigned char* p) {
    return le16(p) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}
inline std::uint64_t le64(const unsigned char* p) {
    return le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

// Whether [offset, offset + length) ends at or before limit, without overflowing.
inline bool fitsWithin(std::uint64_t offset, std::uint64_t length, std::uint64_t limit) {
    return offset <= limit && length <= limit - offset;
}

// A span that does not fit before `limit` is past the end of the file (the file ends early) or
// inside it but past where it may reach (the records contradict each other).
inline JarVerdict placeWithin(std::uint64_t offset, std::uint64_t length, std::uint64_t limit,
                              std::uint64_t fileSize) {
    if (fitsWithin(offset, length, limit)) return JarVerdict::complete;
    return fitsWithin(offset, length, fileSize) ? JarVerdict::damaged : JarVerdict::incomplete;
}

// The ZIP64 extended-information field holds, in this order, only the values whose 32-bit
// fields are saturated; `saturated` points at those values, with null for the others.
// Every block of the field must fit in it, as java's zip reader requires of a central record's.
JarVerdict readZip64Extra(const unsigned char* extra, std::size_t length,
                          std::initializer_list<std::uint64_t*> saturated);

inline std::uint64_t* ifSaturated(std::uint32_t field, std::uint64_t& value) {
    return field == kZip64Marker32 ? &value : nullptr;
}

}  // namespace velmoor::zip
