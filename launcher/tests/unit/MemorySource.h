// The bytes of a jar already in memory, as a byte source for the jar check.
#pragma once

#include <cstring>
#include <span>

#include "core/JarCheck.h"

namespace velmoor {

class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const unsigned char> bytes) : bytes_(bytes) {}
    std::uint64_t size() override { return bytes_.size(); }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
        if (count != 0) std::memcpy(into, bytes_.data() + offset, count);
        return true;
    }

  private:
    std::span<const unsigned char> bytes_;
};

}  // namespace velmoor
