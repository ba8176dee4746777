#include "core/zip/CentralDirectory.h"

#include <algorithm>
#include <limits>

#include "core/TextEncoding.h"
#include "core/zip/Records.h"

namespace velmoor::zip {

namespace {

// The tail is read in steps of this size, so that a reader that counts its reads sees them
// come in steady steps over a slow share.
constexpr std::size_t kReadStep = 256 * 1024;
constexpr std::uint64_t kMaxTail = 0x7fffffff;

// Parses one whole central directory record, its offset still relative to the archive's start.
JarVerdict parseCentralRecord(const unsigned char* record, Entry& entry,
                              std::uint64_t& localOffset) {
    entry.flags = le16(record + 8);
    // Its data could not be checked, and java cannot read it either.
    if ((entry.flags & kEncryptedFlag) != 0) return JarVerdict::damaged;
    entry.method = le16(record + 10);
    entry.crc = le32(record + 16);
    entry.compressedSize = le32(record + 20);
    entry.uncompressedSize = le32(record + 24);
    entry.nameLength = le16(record + 28);
    localOffset = le32(record + 42);
    const JarVerdict zip64 =
        readZip64Extra(record + kCentralDirHeaderSize + entry.nameLength, le16(record + 30),
                       {ifSaturated(le32(record + 24), entry.uncompressedSize),
                        ifSaturated(le32(record + 20), entry.compressedSize),
                        ifSaturated(le32(record + 42), localOffset)});
    if (zip64 != JarVerdict::complete) return zip64;
    // java refuses the whole jar ("invalid CEN header") for a name or comment that is not UTF-8,
    // or a record longer than 64 KiB.
    const std::size_t extraLength = le16(record + 30), commentLength = le16(record + 32);
    const auto text = [&](std::size_t at, std::size_t length) {
        return std::string_view(reinterpret_cast<const char*>(record) + at, length);
    };
    const std::string_view name = text(kCentralDirHeaderSize, entry.nameLength);
    if (kCentralDirHeaderSize + entry.nameLength + extraLength + commentLength > 0xffff ||
        !isStrictUtf8(name) ||
        !isStrictUtf8(text(kCentralDirHeaderSize + entry.nameLength + extraLength, commentLength)))
        return JarVerdict::damaged;
    // java finds "a/B.class/" when asked for "a/B.class" and the jar has none, and jarsigner
    // neither signs nor checks a name that ends in '/': such an entry must be an empty folder
    // (no jar tool writes another), or a stranger's bytes would be loaded unchecked. jarsigner
    // writes META-INF/ deflated, as the 2 bytes of an empty stream, which the pass holds to
    // inflating to nothing.
    if (name.ends_with('/') && entry.uncompressedSize != 0) return JarVerdict::damaged;
    // java reads these two methods only; stored data is its own uncompressed contents.
    if (entry.method == kMethodStored) {
        return entry.compressedSize == entry.uncompressedSize ? JarVerdict::complete
                                                              : JarVerdict::damaged;
    }
    return entry.method == kMethodDeflated ? JarVerdict::complete : JarVerdict::damaged;
}

}  // namespace

JarVerdict CentralDirectory::read(ByteSource& jar) {
    JarVerdict verdict = readJarEnd(jar, end);
    if (verdict == JarVerdict::complete) verdict = readTail(jar);
    if (verdict == JarVerdict::complete) verdict = walkDirectory();
    if (verdict == JarVerdict::complete) verdict = checkEntries();
    return verdict;
}

JarVerdict CentralDirectory::readTail(ByteSource& jar) {
    const std::uint64_t size = end.fileSize - end.dirStart;
    // java holds the directory in one byte array, of at most 2 GiB, and refuses a larger one; the
    // launcher's 32-bit address space could not hold it either. The same limit on a 64-bit build.
    if (size > kMaxTail) return JarVerdict::damaged;
    tailSize = static_cast<std::size_t>(size);
    tail = std::make_unique_for_overwrite<unsigned char[]>(tailSize);
    for (std::size_t at = 0; at < tailSize; at += kReadStep) {
        if (!jar.read(end.dirStart + at, tail.get() + at, std::min(kReadStep, tailSize - at)))
            return JarVerdict::unreadable;
    }
    return JarVerdict::complete;
}

// The records must fill the directory and match the end records' count, and each entry must
// fit, with its local header and name, in front of the directory.
JarVerdict CentralDirectory::walkDirectory() {
    const std::uint64_t archiveDirOffset = end.dirStart - end.prefix;
    std::uint64_t count = 0;
    for (std::size_t at = 0; at < end.dirSize; ++count) {
        const std::size_t available = static_cast<std::size_t>(end.dirSize) - at;
        const unsigned char* record = tail.get() + at;
        if (available < kCentralDirHeaderSize || le32(record) != kCentralDirHeaderSignature)
            return JarVerdict::damaged;
        const std::size_t length =
            kCentralDirHeaderSize + le16(record + 28) + le16(record + 30) + le16(record + 32);
        if (length > available) return JarVerdict::damaged;
        Entry& entry = entries.emplace_back();
        std::uint64_t localOffset = 0;
        JarVerdict verdict = parseCentralRecord(record, entry, localOffset);
        if (verdict == JarVerdict::complete) {
            verdict = placeWithin(localOffset,
                                  kLocalFileHeaderSize + entry.nameLength + entry.compressedSize,
                                  archiveDirOffset, end.fileSize - end.prefix);
        }
        if (verdict != JarVerdict::complete) return verdict;
        entry.start = end.prefix + localOffset;
        entry.nameAt = at + kCentralDirHeaderSize;
        // Each size fits before the directory, but entries sharing bytes could still add up
        // past 64 bits.
        if (__builtin_add_overflow(dataTotal, entry.compressedSize, &dataTotal))
            return JarVerdict::damaged;
        at += length;
    }
    // Exactly, but for a plain end record, whose count of more than 65,535 entries wraps (java
    // reads such jars, which tools that write no ZIP64 records make).
    const bool wrapped =
        !end.zip64 && count >= kPlainCountModulus && count % kPlainCountModulus == end.entries;
    return count == end.entries || wrapped ? JarVerdict::complete : JarVerdict::damaged;
}

// What a hostile archive would hide: names given twice, entries sharing bytes, a total that
// inflates without end.
JarVerdict CentralDirectory::checkEntries() {
    std::uint64_t inflated = 0;
    for (const Entry& entry : entries) {
        if (__builtin_add_overflow(inflated, entry.uncompressedSize, &inflated))
            return JarVerdict::damaged;
    }
    if (end.fileSize <= std::numeric_limits<std::uint64_t>::max() / kMaxInflatedPerJarByte &&
        inflated > end.fileSize * kMaxInflatedPerJarByte)
        return JarVerdict::damaged;

    std::vector<const Entry*> byName(entries.size());
    std::transform(entries.begin(), entries.end(), byName.begin(),
                   [](const Entry& e) { return &e; });
    std::sort(byName.begin(), byName.end(),
              [this](const Entry* a, const Entry* b) { return name(*a) < name(*b); });
    const auto twice =
        std::adjacent_find(byName.begin(), byName.end(),
                           [this](const Entry* a, const Entry* b) { return name(*a) == name(*b); });
    if (twice != byName.end()) return JarVerdict::damaged;

    // Each entry's local header, name and data (the local extra field is checked as it comes)
    // end before the next entry starts.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.start < b.start; });
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        if (!fitsWithin(entry.start, kLocalFileHeaderSize + entry.nameLength + entry.compressedSize,
                        limitOf(i)))
            return JarVerdict::damaged;
    }
    return JarVerdict::complete;
}

}  // namespace velmoor::zip
