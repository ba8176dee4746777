// Fuzz target: the jar check. Whatever the bytes, both checks stay inside them, a memory source
// never fails a read, and the full check passes only what the cheap look passes.
#include <cstdint>
#include <cstdlib>

#include "MemorySource.h"
#include "core/JarCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmoor;
    MemorySource jar({data, size});
    const JarVerdict end = checkJarEnd(jar);
    const JarVerdict full = verifyJar(jar);
    if (end == JarVerdict::unreadable || full == JarVerdict::unreadable) abort();
    if (end != JarVerdict::complete && full != end) abort();
    return 0;
}
