#include "JarCheck.h"

#include <cstring>

namespace velmoor {

bool MemorySource::read(std::uint64_t offset, void* into, std::size_t count) {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    if (count != 0) std::memcpy(into, bytes_.data() + offset, count);
    return true;
}

// Placeholder until the archive reader lands: accepts every jar, as the launcher did before.
JarVerdict checkJarEnd(ByteSource&) {
    return JarVerdict::complete;
}

JarVerdict verifyJar(ByteSource&, const JarProgress&) {
    return JarVerdict::complete;
}

}  // namespace velmoor
