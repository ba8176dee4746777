#include "JarCheck.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <thread>
#include <vector>

namespace velmoor {

bool MemorySource::read(std::uint64_t offset, void* into, std::size_t count) {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    if (count != 0) std::memcpy(into, bytes_.data() + offset, count);
    return true;
}

namespace {

// The ZIP records a jar is made of, named as the format names them.
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

// One window of file bytes: large enough for the biggest central directory record (46 bytes
// and three 64 KiB fields), and the size of each read of entry data.
constexpr std::size_t kWindowSize = 256 * 1024;
// How much entry data passes between two progress calls.
constexpr std::uint64_t kProgressStep = 4 * 1024 * 1024;
// How much entry data a worker claims at a time: few claims, and little left for the last.
constexpr std::uint64_t kBatchBytes = 2 * 1024 * 1024;
// How often the reporting worker, out of work, reports how far the others have come, and how
// often it looks whether they are done.
constexpr std::chrono::milliseconds kWaitReportStep{100};
constexpr std::chrono::milliseconds kPollStep{5};

std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t le32(const unsigned char* p) {
    return le16(p) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}
std::uint64_t le64(const unsigned char* p) {
    return le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

// Whether [offset, offset + length) ends at or before limit, without overflowing.
bool fitsWithin(std::uint64_t offset, std::uint64_t length, std::uint64_t limit) {
    return offset <= limit && length <= limit - offset;
}

// A span that does not fit before `limit` is past the end of the file (the file ends early) or
// inside it but past where it may reach (the records contradict each other).
JarVerdict placeWithin(std::uint64_t offset, std::uint64_t length, std::uint64_t limit,
                       std::uint64_t fileSize) {
    if (fitsWithin(offset, length, limit)) return JarVerdict::complete;
    return fitsWithin(offset, length, fileSize) ? JarVerdict::damaged : JarVerdict::incomplete;
}

// Reads the file through one buffer, so the small records and entries packed one after another
// cost one read per window rather than one or two each.
class WindowReader {
  public:
    WindowReader(ByteSource& source, std::uint64_t limit) : source_(source), limit_(limit) {}

    // `count` bytes (at most kWindowSize) at `offset`, all before the limit; null on a failed
    // read.
    const unsigned char* at(std::uint64_t offset, std::size_t count) {
        if (offset < start_ || !fitsWithin(offset - start_, count, size_)) {
            if (!load(offset) || count > size_) return nullptr;
        }
        return buffer_.get() + (offset - start_);
    }

    // Up to `wanted` bytes from `offset` (at least one, given offset is before the limit).
    std::span<const unsigned char> some(std::uint64_t offset, std::uint64_t wanted) {
        if (offset < start_ || offset >= start_ + size_) {
            if (!load(offset)) return {};
        }
        const std::size_t there = static_cast<std::size_t>(start_ + size_ - offset);
        return {buffer_.get() + (offset - start_),
                static_cast<std::size_t>(std::min<std::uint64_t>(there, wanted))};
    }

  private:
    bool load(std::uint64_t offset) {
        size_ = static_cast<std::size_t>(
            std::min<std::uint64_t>(kWindowSize, offset < limit_ ? limit_ - offset : 0));
        start_ = offset;
        if (source_.read(offset, buffer_.get(), size_)) return true;
        size_ = 0;
        return false;
    }

    ByteSource& source_;
    std::uint64_t limit_;
    std::uint64_t start_ = 0;
    std::size_t size_ = 0;
    // Filled by each read, so never cleared first.
    std::unique_ptr<unsigned char[]> buffer_ =
        std::make_unique_for_overwrite<unsigned char[]>(kWindowSize);
};

// Where the central directory lies, from the end records.
struct ArchiveEnd {
    std::uint64_t fileSize = 0;
    std::uint64_t entries = 0;
    std::uint64_t dirOffset = 0;
    std::uint64_t dirSize = 0;
};

// What the central directory says of one entry.
struct CentralEntry {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t localOffset = 0;
    std::uint16_t nameLength = 0;
};

// The ZIP64 extended-information field holds, in this order, only the values whose 32-bit
// fields are saturated; `saturated` points at those values, with null for the others.
JarVerdict readZip64Extra(const unsigned char* extra, std::size_t length,
                          std::initializer_list<std::uint64_t*> saturated) {
    for (std::size_t at = 0; at + 4 <= length;) {
        const std::uint16_t id = le16(extra + at);
        const std::size_t size = le16(extra + at + 2);
        if (size > length - at - 4) return JarVerdict::damaged;
        if (id == kZip64ExtendedInfoHeaderId) {
            std::size_t field = at + 4;
            for (std::uint64_t* value : saturated) {
                if (value == nullptr) continue;
                if (field + 8 > at + 4 + size) return JarVerdict::damaged;
                *value = le64(extra + field);
                field += 8;
            }
            return JarVerdict::complete;
        }
        at += 4 + size;
    }
    return std::all_of(saturated.begin(), saturated.end(), [](auto* v) { return v == nullptr; })
               ? JarVerdict::complete
               : JarVerdict::damaged;
}

std::uint64_t* ifSaturated(std::uint32_t field, std::uint64_t& value) {
    return field == kZip64Marker32 ? &value : nullptr;
}

// Scans back from the end for the end-of-central-directory record whose comment reaches exactly
// to the end of the file: the signature can also turn up inside the comment, or in a stored
// jar inside a jar cut off before its own end record.
bool findEndRecord(const std::vector<unsigned char>& tail, std::size_t& found) {
    for (std::size_t at = tail.size() - kEndOfCentralDirSize + 1; at-- > 0;) {
        if (le32(tail.data() + at) == kEndOfCentralDirSignature &&
            at + kEndOfCentralDirSize + le16(tail.data() + at + 20) == tail.size()) {
            found = at;
            return true;
        }
    }
    return false;
}

// Reads the ZIP64 end record the locator points at; it must lie before the locator.
JarVerdict readZip64End(ByteSource& jar, const unsigned char* locator, std::uint64_t locatorOffset,
                        ArchiveEnd& end, std::uint64_t& recordOffset) {
    recordOffset = le64(locator + 8);
    const JarVerdict placed =
        placeWithin(recordOffset, kZip64EndOfCentralDirSize, locatorOffset, end.fileSize);
    if (placed != JarVerdict::complete) return placed;
    unsigned char record[kZip64EndOfCentralDirSize];
    if (!jar.read(recordOffset, record, sizeof record)) return JarVerdict::unreadable;
    if (le32(record) != kZip64EndOfCentralDirSignature ||
        le64(record + 4) < kZip64EndOfCentralDirSize - 12 || le64(record + 24) != le64(record + 32))
        return JarVerdict::damaged;
    end.entries = le64(record + 32);
    end.dirSize = le64(record + 40);
    end.dirOffset = le64(record + 48);
    return JarVerdict::complete;
}

// Finds the end records and from them where the central directory lies: it must end exactly
// where the end records begin.
JarVerdict readArchiveEnd(ByteSource& jar, ArchiveEnd& end) {
    end.fileSize = jar.size();
    if (end.fileSize < kEndOfCentralDirSize) return JarVerdict::incomplete;
    // The locator, when there is one, sits right before the end record: one read takes both.
    const std::uint64_t tailSize = std::min<std::uint64_t>(
        end.fileSize, kZip64EndOfCentralDirLocatorSize + kEndOfCentralDirSize + kMaxCommentLength);
    const std::uint64_t tailOffset = end.fileSize - tailSize;
    std::vector<unsigned char> tail(static_cast<std::size_t>(tailSize));
    if (!jar.read(tailOffset, tail.data(), tail.size())) return JarVerdict::unreadable;
    std::size_t at = 0;
    if (!findEndRecord(tail, at)) return JarVerdict::incomplete;

    const unsigned char* record = tail.data() + at;
    // A jar is one disk: the entries on this disk are all the entries.
    if (le16(record + 8) != le16(record + 10)) return JarVerdict::damaged;
    end.entries = le16(record + 10);
    end.dirSize = le32(record + 12);
    end.dirOffset = le32(record + 16);
    std::uint64_t dirEnd = tailOffset + at;
    if (at >= kZip64EndOfCentralDirLocatorSize &&
        le32(record - kZip64EndOfCentralDirLocatorSize) == kZip64EndOfCentralDirLocatorSignature) {
        const ArchiveEnd classic = end;
        const std::uint64_t locatorOffset = dirEnd - kZip64EndOfCentralDirLocatorSize;
        const JarVerdict zip64 = readZip64End(jar, record - kZip64EndOfCentralDirLocatorSize,
                                              locatorOffset, end, dirEnd);
        if (zip64 != JarVerdict::complete) return zip64;
        // A field the end record could hold must say what the ZIP64 record says.
        if ((classic.entries != kZip64Marker16 && classic.entries != end.entries) ||
            (classic.dirSize != kZip64Marker32 && classic.dirSize != end.dirSize) ||
            (classic.dirOffset != kZip64Marker32 && classic.dirOffset != end.dirOffset))
            return JarVerdict::damaged;
    }
    const JarVerdict placed = placeWithin(end.dirOffset, end.dirSize, dirEnd, end.fileSize);
    if (placed != JarVerdict::complete) return placed;
    return end.dirOffset + end.dirSize == dirEnd ? JarVerdict::complete : JarVerdict::damaged;
}

// The length of the central directory record starting with `header`, name, extra field and
// comment included.
std::size_t centralRecordLength(const unsigned char* header) {
    return kCentralDirHeaderSize + le16(header + 28) + le16(header + 30) + le16(header + 32);
}

// Parses one whole central directory record.
JarVerdict parseCentralEntry(const unsigned char* record, CentralEntry& entry) {
    entry.nameLength = le16(record + 28);
    const std::size_t extraLength = le16(record + 30);
    entry.flags = le16(record + 8);
    // Its data could not be checked, and java cannot read it either.
    if ((entry.flags & kEncryptedFlag) != 0) return JarVerdict::damaged;
    entry.method = le16(record + 10);
    entry.crc = le32(record + 16);
    entry.compressedSize = le32(record + 20);
    entry.uncompressedSize = le32(record + 24);
    entry.localOffset = le32(record + 42);
    return readZip64Extra(record + kCentralDirHeaderSize + entry.nameLength, extraLength,
                          {ifSaturated(le32(record + 24), entry.uncompressedSize),
                           ifSaturated(le32(record + 20), entry.compressedSize),
                           ifSaturated(le32(record + 42), entry.localOffset)});
}

// Its local header and data must fit before the central directory; the local header's extra
// field is not known yet, so this places the name and data alone.
JarVerdict placeEntry(const CentralEntry& entry, const ArchiveEnd& end) {
    const JarVerdict header =
        placeWithin(entry.localOffset, kLocalFileHeaderSize, end.dirOffset, end.fileSize);
    if (header != JarVerdict::complete) return header;
    const std::uint64_t nameOffset = entry.localOffset + kLocalFileHeaderSize;
    if (!fitsWithin(nameOffset, entry.nameLength, end.dirOffset)) return JarVerdict::damaged;
    return placeWithin(nameOffset + entry.nameLength, entry.compressedSize, end.dirOffset,
                       end.fileSize);
}

// Reads the central directory window by window and calls visit(entry) for each record, which
// returns complete to go on. The records must fill the directory and match the entry count.
template <typename Visit>
JarVerdict forEachCentralEntry(ByteSource& jar, const ArchiveEnd& end, Visit&& visit) {
    WindowReader directory(jar, end.dirOffset + end.dirSize);
    const std::uint64_t dirEnd = end.dirOffset + end.dirSize;
    std::uint64_t count = 0;
    for (std::uint64_t at = end.dirOffset; at < dirEnd; ++count) {
        const std::uint64_t available = dirEnd - at;
        if (available < kCentralDirHeaderSize) return JarVerdict::damaged;
        const unsigned char* header = directory.at(at, kCentralDirHeaderSize);
        if (header == nullptr) return JarVerdict::unreadable;
        if (le32(header) != kCentralDirHeaderSignature) return JarVerdict::damaged;
        const std::size_t length = centralRecordLength(header);
        if (length > available) return JarVerdict::damaged;
        const unsigned char* record = directory.at(at, length);
        if (record == nullptr) return JarVerdict::unreadable;
        CentralEntry entry;
        JarVerdict verdict = parseCentralEntry(record, entry);
        if (verdict == JarVerdict::complete) verdict = placeEntry(entry, end);
        if (verdict == JarVerdict::complete) verdict = visit(entry);
        if (verdict != JarVerdict::complete) return verdict;
        at += length;
    }
    return count == end.entries ? JarVerdict::complete : JarVerdict::damaged;
}

// The zlib raw-deflate stream, set up once per check and reset for each entry.
class Inflater {
  public:
    Inflater() { ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ready_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    bool ready() const { return ready_; }
    z_stream& stream() { return stream_; }

  private:
    z_stream stream_{};
    bool ready_ = false;
};

// What the workers of one check share: the entries, cut into batches of a few megabytes of
// data (or one bigger entry) that each worker claims in turn, so that none is left with a long
// tail of work while the others idle; the bytes done; and the first verdict other than
// complete, which stops every worker at its next chunk.
struct SharedCheck {
    SharedCheck(const ArchiveEnd& archive, std::uint64_t bytes, const JarProgress& callback,
                std::vector<CentralEntry> all, std::vector<std::size_t> cuts)
        : end(archive),
          total(bytes),
          progress(callback),
          entries(std::move(all)),
          batches(std::move(cuts)) {}

    const ArchiveEnd& end;
    std::uint64_t total;
    const JarProgress& progress;
    const std::vector<CentralEntry> entries;
    // Batch i is entries[batches[i]] up to entries[batches[i + 1]].
    const std::vector<std::size_t> batches;
    std::atomic<std::size_t> claimed{0};
    std::atomic<std::size_t> finished{0};
    std::atomic<std::uint64_t> done{0};
    std::atomic<JarVerdict> verdict{JarVerdict::complete};

    std::size_t batchCount() const { return batches.size() - 1; }
    bool going() const { return verdict.load(std::memory_order_relaxed) == JarVerdict::complete; }
    void fail(JarVerdict failed) {
        JarVerdict expected = JarVerdict::complete;
        verdict.compare_exchange_strong(expected, failed, std::memory_order_relaxed);
    }
};

// Checks each entry's local header against its central record and its data against its CRC-32
// and sizes, counting progress by the compressed bytes read. One per worker, each with its own
// buffers and zlib stream; only the reporting one calls the progress callback.
class EntryVerifier {
  public:
    EntryVerifier(ByteSource& jar, SharedCheck& shared, bool reports)
        : shared_(shared), end_(shared.end), data_(jar, shared.end.dirOffset), reports_(reports) {}

    // Claims batches until none is left or the check has failed; the reporting worker then
    // goes on reporting the others' progress until they are done too.
    void work() {
        for (std::size_t batch;
             shared_.going() && (batch = shared_.claimed.fetch_add(1)) < shared_.batchCount();) {
            for (std::size_t i = shared_.batches[batch]; i < shared_.batches[batch + 1]; ++i) {
                const JarVerdict verdict = verify(shared_.entries[i]);
                if (verdict != JarVerdict::complete) {
                    shared_.fail(verdict);
                    break;
                }
            }
            shared_.finished.fetch_add(1, std::memory_order_release);
        }
        if (!reports_ || !shared_.progress) return;
        // A silence here would look like a stalled check to whoever watches the progress, but
        // an unchanged count is reported as the silence it is. The short polls spare a check
        // that is all but done the wait for a whole report step.
        auto reportedAt = std::chrono::steady_clock::now();
        while (shared_.finished.load(std::memory_order_acquire) <
               std::min(shared_.claimed.load(), shared_.batchCount())) {
            std::this_thread::sleep_for(kPollStep);
            const std::uint64_t done = shared_.done.load(std::memory_order_relaxed);
            const auto now = std::chrono::steady_clock::now();
            if (done != reported_ && now - reportedAt >= kWaitReportStep) {
                reportedAt = now;
                report(done);
            }
        }
    }

  private:
    JarVerdict verify(const CentralEntry& entry) {
        std::uint64_t dataOffset = 0;
        JarVerdict verdict = checkLocalHeader(entry, dataOffset);
        if (verdict != JarVerdict::complete) return verdict;
        if (entry.method == kMethodStored) return checkStored(entry, dataOffset);
        if (entry.method == kMethodDeflated) return checkDeflated(entry, dataOffset);
        return JarVerdict::damaged;
    }

    JarVerdict checkLocalHeader(const CentralEntry& entry, std::uint64_t& dataOffset) {
        const unsigned char* header = data_.at(entry.localOffset, kLocalFileHeaderSize);
        if (header == nullptr) return JarVerdict::unreadable;
        if (le32(header) != kLocalFileHeaderSignature || le16(header + 26) != entry.nameLength ||
            le16(header + 8) != entry.method)
            return JarVerdict::damaged;
        const std::uint32_t crc = le32(header + 14);
        std::uint64_t compressedSize = le32(header + 18);
        std::uint64_t uncompressedSize = le32(header + 22);
        const std::size_t extraLength = le16(header + 28);
        dataOffset = entry.localOffset + kLocalFileHeaderSize + entry.nameLength + extraLength;
        const JarVerdict placed =
            placeWithin(dataOffset, entry.compressedSize, end_.dirOffset, end_.fileSize);
        if (placed != JarVerdict::complete) return placed;
        // With a data descriptor the local header's CRC and sizes are written after the data.
        if ((entry.flags & kDataDescriptorFlag) != 0) return JarVerdict::complete;
        const unsigned char* extra = header;
        if (extraLength != 0 &&
            (extra = data_.at(dataOffset - extraLength, extraLength)) == nullptr)
            return JarVerdict::unreadable;
        const JarVerdict zip64 = readZip64Extra(
            extra, extraLength,
            {ifSaturated(static_cast<std::uint32_t>(uncompressedSize), uncompressedSize),
             ifSaturated(static_cast<std::uint32_t>(compressedSize), compressedSize)});
        if (zip64 != JarVerdict::complete) return zip64;
        return crc == entry.crc && compressedSize == entry.compressedSize &&
                       uncompressedSize == entry.uncompressedSize
                   ? JarVerdict::complete
                   : JarVerdict::damaged;
    }

    JarVerdict checkStored(const CentralEntry& entry, std::uint64_t offset) {
        if (entry.compressedSize != entry.uncompressedSize) return JarVerdict::damaged;
        uLong crc = crc32(0, nullptr, 0);
        for (std::uint64_t left = entry.compressedSize; left > 0;) {
            const auto chunk = data_.some(offset, left);
            if (chunk.empty()) return JarVerdict::unreadable;
            crc = crc32(crc, chunk.data(), static_cast<uInt>(chunk.size()));
            offset += chunk.size();
            left -= chunk.size();
            if (!advance(chunk.size())) return JarVerdict::stopped;
        }
        return crc == entry.crc ? JarVerdict::complete : JarVerdict::damaged;
    }

    JarVerdict checkDeflated(const CentralEntry& entry, std::uint64_t offset) {
        // zlib had no memory for its state: the jar is not at fault, but it could not be read.
        if (!inflater_.ready()) return JarVerdict::unreadable;
        z_stream& z = inflater_.stream();
        inflateReset(&z);
        uLong crc = crc32(0, nullptr, 0);
        std::uint64_t produced = 0;
        std::uint64_t left = entry.compressedSize;
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            if (z.avail_in == 0 && left > 0) {
                const auto chunk = data_.some(offset, left);
                if (chunk.empty()) return JarVerdict::unreadable;
                z.next_in = const_cast<Bytef*>(chunk.data());
                z.avail_in = static_cast<uInt>(chunk.size());
                offset += chunk.size();
                left -= chunk.size();
                if (!advance(chunk.size())) return JarVerdict::stopped;
            }
            z.next_out = output_.get();
            z.avail_out = static_cast<uInt>(kWindowSize);
            const uInt inBefore = z.avail_in;
            // Z_FINISH spares inflate copying into its window an entry that ends in this call;
            // one that does not goes on as with Z_NO_FLUSH, but returns Z_BUF_ERROR.
            status = inflate(&z, Z_FINISH);
            const std::size_t out = kWindowSize - z.avail_out;
            const bool stuck = out == 0 && z.avail_in == inBefore;
            if (status == Z_BUF_ERROR && !stuck) status = Z_OK;
            // Stuck means the stream wants more than the compressed size holds.
            if (status != Z_OK && status != Z_STREAM_END) return JarVerdict::damaged;
            produced += out;
            // Stop an entry that inflates to more than it says as soon as it does.
            if (produced > entry.uncompressedSize) return JarVerdict::damaged;
            crc = crc32(crc, output_.get(), static_cast<uInt>(out));
        }
        const bool consumedAll = left == 0 && z.avail_in == 0;
        z.avail_in = 0;
        return consumedAll && produced == entry.uncompressedSize && crc == entry.crc
                   ? JarVerdict::complete
                   : JarVerdict::damaged;
    }

    // Counts `bytes` of entry data read; false once the check has failed or been stopped.
    bool advance(std::uint64_t bytes) {
        const std::uint64_t done = shared_.done.fetch_add(bytes, std::memory_order_relaxed) + bytes;
        if (reports_ && shared_.progress && done - reported_ >= kProgressStep) report(done);
        return shared_.going();
    }

    // Once the check has failed or been stopped the callback has nothing more to hear.
    void report(std::uint64_t done) {
        if (!shared_.going()) return;
        reported_ = done;
        if (!shared_.progress(done, shared_.total)) shared_.fail(JarVerdict::stopped);
    }

    SharedCheck& shared_;
    const ArchiveEnd& end_;
    WindowReader data_;
    const bool reports_;
    std::uint64_t reported_ = 0;
    Inflater inflater_;
    std::unique_ptr<unsigned char[]> output_ =
        std::make_unique_for_overwrite<unsigned char[]>(kWindowSize);
};

// checkJarEnd's work, also summing the entries' compressed sizes for verifyJar's progress and
// handing each entry on to `also`.
template <typename Also>
JarVerdict checkArchive(ByteSource& jar, ArchiveEnd& end, std::uint64_t& compressedTotal,
                        Also&& also) {
    const JarVerdict verdict = readArchiveEnd(jar, end);
    if (verdict != JarVerdict::complete) return verdict;
    compressedTotal = 0;
    return forEachCentralEntry(jar, end, [&](const CentralEntry& entry) {
        // Each size fits before the directory, but entries overlapping one another could
        // still add up past 64 bits.
        if (__builtin_add_overflow(compressedTotal, entry.compressedSize, &compressedTotal))
            return JarVerdict::damaged;
        also(entry);
        return JarVerdict::complete;
    });
}

}  // namespace

JarVerdict checkJarEnd(ByteSource& jar) {
    ArchiveEnd end;
    std::uint64_t compressedTotal = 0;
    return checkArchive(jar, end, compressedTotal, [](const CentralEntry&) {});
}

JarVerdict verifyJar(ByteSource& jar, const JarProgress& progress, const ParallelRun& run,
                     std::size_t workers) {
    ArchiveEnd end;
    std::uint64_t total = 0;
    std::vector<CentralEntry> entries;
    std::vector<std::size_t> batches{0};
    std::uint64_t batchBytes = 0;
    JarVerdict verdict = checkArchive(jar, end, total, [&](const CentralEntry& entry) {
        // The local header is read too; counting it keeps a batch of empty entries short.
        const std::uint64_t bytes = kLocalFileHeaderSize + entry.nameLength + entry.compressedSize;
        if (batchBytes != 0 && bytes > kBatchBytes - std::min(batchBytes, kBatchBytes)) {
            batches.push_back(entries.size());
            batchBytes = 0;
        }
        entries.push_back(entry);
        batchBytes += bytes;
    });
    if (verdict != JarVerdict::complete) return verdict;
    if (batchBytes != 0) batches.push_back(entries.size());
    SharedCheck shared(end, total, progress, std::move(entries), std::move(batches));
    if (!run || workers == 0) workers = 1;
    // Made here rather than in each worker, so that running out of memory throws to the caller.
    std::vector<std::unique_ptr<EntryVerifier>> verifiers;
    for (std::size_t w = 0; w < workers; ++w)
        verifiers.push_back(std::make_unique<EntryVerifier>(jar, shared, w == 0));
    if (workers == 1) {
        verifiers[0]->work();
    } else {
        run(workers, [&](std::size_t worker) { verifiers[worker]->work(); });
    }
    verdict = shared.verdict.load();
    if (verdict != JarVerdict::complete) return verdict;
    return !progress || progress(shared.done.load(), total) ? JarVerdict::complete
                                                            : JarVerdict::stopped;
}

}  // namespace velmoor
