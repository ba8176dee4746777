// Fuzz target: the jar check. Whatever the bytes, it stays inside them, a memory source never
// fails a read, and the full check passes only what the end-record reader passes. What that
// reader passes puts the central directory after the prefix and before the end records, with room
// for the records it counts; and the same archive behind a start script passes too, its prefix
// that much longer (but for a ZIP64 locator, whose offset counts the prefix as java reads it).
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "TestJar.h"
#include "core/JarCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmoor;
    MemorySource jar({data, size});
    JarEnd end;
    const JarVerdict verdict = readJarEnd(jar, end), full = verifyJar(jar);
    if (verdict == JarVerdict::unreadable || full == JarVerdict::unreadable) abort();
    if (verdict != JarVerdict::complete && full != verdict) abort();
    if (verdict != JarVerdict::complete) return 0;
    if (end.fileSize != size || end.prefix > end.dirStart || end.dirSize > size ||
        end.dirStart + end.dirSize + 22 > size || end.entries > end.dirSize / 46)
        abort();
    if (end.zip64) return 0;
    std::vector<unsigned char> prefixed(testjar::kStartScript.begin(), testjar::kStartScript.end());
    prefixed.insert(prefixed.end(), data, data + size);
    MemorySource behind(prefixed);
    JarEnd moved;
    if (readJarEnd(behind, moved) != JarVerdict::complete ||
        moved.prefix != end.prefix + testjar::kStartScript.size() ||
        moved.dirStart != end.dirStart + testjar::kStartScript.size() ||
        moved.entries != end.entries)
        abort();
    return 0;
}
