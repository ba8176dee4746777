// The bytes of a jar already in memory, as a byte source for the jar check; a read that takes in
// the byte at `failAt` fails, as a drive's would.
#pragma once

#include <cstring>
#include <limits>
#include <span>

#include "core/JarCheck.h"

namespace velmoor {

struct MemorySource final : ByteSource {
    explicit MemorySource(std::span<const unsigned char> jar,
                          std::uint64_t failAt = std::numeric_limits<std::uint64_t>::max())
        : bytes(jar), bad(failAt) {}
    std::span<const unsigned char> bytes;
    std::uint64_t bad;
    std::uint64_t size() override { return bytes.size(); }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        if (offset > bytes.size() || count > bytes.size() - offset) return false;
        if (bad >= offset && bad - offset < count) return false;
        if (count != 0) std::memcpy(into, bytes.data() + offset, count);
        return true;
    }
};

}  // namespace velmoor
