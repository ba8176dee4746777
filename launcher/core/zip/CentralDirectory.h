// The central directory, read whole before any entry's bytes and held to the rules that keep a
// hostile archive from hiding anything: records that fill the directory and agree with the end
// records, no name twice, no two entries on the same bytes, a bounded total to inflate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "core/JarCheck.h"

namespace velmoor::zip {

// What the central directory says of one entry.
struct Entry {
    std::uint64_t start = 0;  // its local header, in the file
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint32_t crc = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::size_t nameAt = 0;  // in the tail
    std::uint16_t nameLength = 0;
    // Where its contents are kept, or -1.
    std::int32_t keptSlot = -1;
};

struct CentralDirectory {
    JarEnd end;
    // The file from the central directory on.
    std::unique_ptr<unsigned char[]> tail;
    std::size_t tailSize = 0;
    // In file order.
    std::vector<Entry> entries;
    // The entries' compressed data, all told.
    std::uint64_t dataTotal = 0;

    // Reads the end records and the tail from `jar`, in reads of at most 256 KiB, and checks the
    // directory's records and what they say of the entries.
    JarVerdict read(ByteSource& jar);

    std::string_view name(const Entry& entry) const {
        return {reinterpret_cast<const char*>(tail.get()) + entry.nameAt, entry.nameLength};
    }
    // Where an entry's bytes must end: where the next one starts, or the directory.
    std::uint64_t limitOf(std::size_t index) const {
        return index + 1 < entries.size() ? entries[index + 1].start : end.dirStart;
    }

  private:
    JarVerdict readTail(ByteSource& jar);
    JarVerdict walkDirectory();
    JarVerdict checkEntries();
};

}  // namespace velmoor::zip
