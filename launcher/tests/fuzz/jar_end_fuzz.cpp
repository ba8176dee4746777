// Fuzz target: the end-record reader alone, which is all that looks at a publish before the
// offer. Whatever the bytes, it stays inside them and a memory source never fails a read; what it
// passes puts the central directory after the prefix and before the end records, with room for
// the records it counts; and the same archive behind a start script passes too, its prefix that
// much longer (but for a ZIP64 locator, whose offset counts the prefix as java reads it).
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "TestJar.h"
#include "core/JarCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velmoor;
    MemorySource jar({data, size});
    JarEnd end;
    const JarVerdict verdict = readJarEnd(jar, end);
    if (verdict == JarVerdict::unreadable) abort();
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
