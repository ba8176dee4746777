// The look before an offer: the end-of-central-directory record and, when a ZIP64 locator
// precedes it, the ZIP64 end record, checked against one another and against the file's size.
#include <algorithm>
#include <vector>

#include "core/JarCheck.h"
#include "core/zip/Records.h"

namespace velmoor {

using namespace zip;

namespace {

// Scans back from the end for the end-of-central-directory record, as java's zip reader does.
// java takes the first signature it meets whose comment reaches the end of the file, or whose
// comment does not fit but whose directory and first entry start with their signatures; so the
// record checked here, whose comment reaches exactly to the end, must be the first signature met.
// One in its comment could be the end of a second archive that java would run instead: damaged.
// None that reaches the end: the file's end is not there yet (a stored jar inside a jar cut
// short holds one further in).
JarVerdict findEndRecord(const std::vector<unsigned char>& tail, std::size_t& found) {
    bool metLater = false;
    for (std::size_t at = tail.size() - kEndOfCentralDirSize + 1; at-- > 0;) {
        if (le32(tail.data() + at) != kEndOfCentralDirSignature) continue;
        if (at + kEndOfCentralDirSize + le16(tail.data() + at + 20) == tail.size()) {
            found = at;
            return metLater ? JarVerdict::damaged : JarVerdict::complete;
        }
        metLater = true;
    }
    return JarVerdict::incomplete;
}

// The directory's place and count as the end records give them, before the prefix is known.
struct EndFields {
    std::uint64_t entries = 0;
    std::uint64_t dirSize = 0;
    std::uint64_t dirOffset = 0;
};

// Reads the ZIP64 end record that the locator points at, which must lie before the locator
// (the tail read holds it in any ordinary jar); a field the plain end record could hold must
// say what the ZIP64 record says.
JarVerdict readZip64End(ByteSource& jar, const std::vector<unsigned char>& tail,
                        std::uint64_t tailOffset, std::uint64_t locatorOffset, EndFields& fields,
                        std::uint64_t& recordOffset) {
    recordOffset = le64(tail.data() + (locatorOffset - tailOffset) + 8);
    if (!fitsWithin(recordOffset, kZip64EndOfCentralDirSize, locatorOffset))
        return JarVerdict::damaged;
    unsigned char copy[kZip64EndOfCentralDirSize];
    const unsigned char* record = copy;
    if (recordOffset >= tailOffset) {
        record = tail.data() + (recordOffset - tailOffset);
    } else if (!jar.read(recordOffset, copy, sizeof copy)) {
        return JarVerdict::unreadable;
    }
    if (le32(record) != kZip64EndOfCentralDirSignature ||
        le64(record + 4) < kZip64EndOfCentralDirSize - 12 || le64(record + 24) != le64(record + 32))
        return JarVerdict::damaged;
    const EndFields plain = fields;
    fields = {le64(record + 32), le64(record + 40), le64(record + 48)};
    return (plain.entries == kZip64Marker16 || plain.entries == fields.entries) &&
                   (plain.dirSize == kZip64Marker32 || plain.dirSize == fields.dirSize) &&
                   (plain.dirOffset == kZip64Marker32 || plain.dirOffset == fields.dirOffset)
               ? JarVerdict::complete
               : JarVerdict::damaged;
}

}  // namespace

JarVerdict readJarEnd(ByteSource& jar, JarEnd& end) {
    end = JarEnd{};
    end.fileSize = jar.size();
    if (end.fileSize < kEndOfCentralDirSize) return JarVerdict::incomplete;
    // The ZIP64 record and locator, when there are any, sit right before the end record: one
    // read takes all three, and the longest comment.
    const std::uint64_t tailSize = std::min<std::uint64_t>(
        end.fileSize, kZip64EndOfCentralDirSize + kZip64EndOfCentralDirLocatorSize +
                          kEndOfCentralDirSize + kMaxCommentLength);
    const std::uint64_t tailOffset = end.fileSize - tailSize;
    std::vector<unsigned char> tail(static_cast<std::size_t>(tailSize));
    if (!jar.read(tailOffset, tail.data(), tail.size())) return JarVerdict::unreadable;
    std::size_t at = 0;
    if (const JarVerdict found = findEndRecord(tail, at); found != JarVerdict::complete)
        return found;

    const unsigned char* record = tail.data() + at;
    // A jar is one disk: the entries on this disk are all the entries.
    if (le16(record + 8) != le16(record + 10)) return JarVerdict::damaged;
    EndFields fields{le16(record + 10), le32(record + 12), le32(record + 16)};
    // Where the central directory really ends: where the end records begin.
    std::uint64_t dirEnd = tailOffset + at;
    if (at >= kZip64EndOfCentralDirLocatorSize &&
        le32(record - kZip64EndOfCentralDirLocatorSize) == kZip64EndOfCentralDirLocatorSignature) {
        const JarVerdict zip64 = readZip64End(
            jar, tail, tailOffset, dirEnd - kZip64EndOfCentralDirLocatorSize, fields, dirEnd);
        if (zip64 != JarVerdict::complete) return zip64;
        end.zip64 = true;
    }
    end.entries = fields.entries;
    end.dirSize = fields.dirSize;
    if (end.dirSize > dirEnd) return JarVerdict::damaged;
    end.dirStart = dirEnd - end.dirSize;
    // As java reads it: whatever lies between the file's start and where the directory's
    // offset says the archive starts is a prefix, and the entries' offsets count from its end.
    if (fields.dirOffset > end.dirStart) return JarVerdict::damaged;
    end.prefix = end.dirStart - fields.dirOffset;
    // Each record takes its fixed part at least (a count past 65,535 that a plain end record
    // holds modulo 65,536 is smaller still).
    if (end.entries > end.dirSize / kCentralDirHeaderSize) return JarVerdict::damaged;
    unsigned char signature[4];
    if (end.dirSize != 0) {
        if (!jar.read(end.dirStart, signature, sizeof signature)) return JarVerdict::unreadable;
        if (le32(signature) != kCentralDirHeaderSignature) return JarVerdict::damaged;
    }
    // A file that starts with a local header has its archive start there: end records that put
    // it further in are those of a jar stored inside, and the file was cut right after them.
    if (end.prefix != 0) {
        if (!jar.read(0, signature, sizeof signature)) return JarVerdict::unreadable;
        if (le32(signature) == kLocalFileHeaderSignature) return JarVerdict::incomplete;
    }
    return JarVerdict::complete;
}

JarVerdict checkJarEnd(ByteSource& jar) {
    JarEnd end;
    return readJarEnd(jar, end);
}

}  // namespace velmoor
