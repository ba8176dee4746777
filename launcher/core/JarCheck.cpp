#include "JarCheck.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include "Manifest.h"
#include "TextEncoding.h"

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
// A plain end record counts the entries in 16 bits.
constexpr std::uint64_t kPlainCountModulus = 0x10000;

// The tail is read in steps of this size, so that a reader that counts its reads sees them
// come in steady steps over a slow share.
constexpr std::size_t kReadStep = 256 * 1024;
// The ring of chunks (JarPass::kChunkBytes) that the bytes in front of the central directory pass
// through: enough for the reader to run ahead of the workers by several reads, little for memory.
constexpr std::size_t kRingChunks = 8;
// Each inflate call writes up to this much.
constexpr std::size_t kOutputBytes = 256 * 1024;
// Progress is reported after this much more entry data, or after this long with any more.
constexpr std::uint64_t kProgressStep = 4 * 1024 * 1024;
constexpr std::chrono::milliseconds kReportStep{100};
// A worker waiting for bytes, or for the others, first gives way this many times, since the wait
// is mostly short (a chunk on its way, another worker's entry), then sleeps this long between
// looks, since over a slow share it is long.
constexpr int kYieldsBeforeSleep = 100;
constexpr std::chrono::milliseconds kIdleStep{1};

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

// The ZIP64 extended-information field holds, in this order, only the values whose 32-bit
// fields are saturated; `saturated` points at those values, with null for the others.
// Every block of the field must fit in it, as java's zip reader requires of a central record's.
JarVerdict readZip64Extra(const unsigned char* extra, std::size_t length,
                          std::initializer_list<std::uint64_t*> saturated) {
    bool read = false;
    for (std::size_t at = 0; at + 4 <= length;) {
        const std::uint16_t id = le16(extra + at);
        const std::size_t size = le16(extra + at + 2);
        if (size > length - at - 4) return JarVerdict::damaged;
        if (id == kZip64ExtendedInfoHeaderId && !read) {
            std::size_t field = at + 4;
            for (std::uint64_t* value : saturated) {
                if (value == nullptr) continue;
                if (field + 8 > at + 4 + size) return JarVerdict::damaged;
                *value = le64(extra + field);
                field += 8;
            }
            read = true;
        }
        at += 4 + size;
    }
    return read || std::all_of(saturated.begin(), saturated.end(),
                               [](auto* v) { return v == nullptr; })
               ? JarVerdict::complete
               : JarVerdict::damaged;
}

std::uint64_t* ifSaturated(std::uint32_t field, std::uint64_t& value) {
    return field == kZip64Marker32 ? &value : nullptr;
}

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

namespace {

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

// The zlib raw-deflate stream, set up once per worker and reset for each entry.
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

}  // namespace

struct JarPass::State {
    JarHooks hooks;
    bool opened = false;
    JarEnd end;
    std::unique_ptr<unsigned char[]> tail;
    std::size_t tailSize = 0;
    // In file order.
    std::vector<Entry> entries;
    std::uint64_t dataTotal = 0;
    std::int32_t manifestSlot = -1;
    std::vector<std::string> keptContents;
    KeptFiles kept;

    std::string_view name(const Entry& entry) const {
        return {reinterpret_cast<const char*>(tail.get()) + entry.nameAt, entry.nameLength};
    }
    // Where an entry's bytes must end: where the next one starts, or the directory.
    std::uint64_t limitOf(std::size_t index) const {
        return index + 1 < entries.size() ? entries[index + 1].start : end.dirStart;
    }

    JarVerdict readTail(ByteSource& jar);
    JarVerdict walkDirectory();
    JarVerdict checkEntries();
    JarVerdict checkManifest() const;
};

JarVerdict JarPass::State::readTail(ByteSource& jar) {
    const std::uint64_t size = end.fileSize - end.dirStart;
    // It would not fit in memory, and java, which holds the directory too, refuses it.
    if (size > std::numeric_limits<std::size_t>::max() / 2) return JarVerdict::damaged;
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
JarVerdict JarPass::State::walkDirectory() {
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
// inflates without end; then what java needs to start the jar.
JarVerdict JarPass::State::checkEntries() {
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

    for (Entry& entry : entries) {
        const bool manifest = name(entry) == kManifestName;
        if (!manifest && !(hooks.keep && hooks.keep(name(entry)))) continue;
        if (entry.uncompressedSize > kMaxKeptBytes) return JarVerdict::damaged;
        entry.keptSlot = static_cast<std::int32_t>(keptContents.size());
        keptContents.emplace_back().reserve(static_cast<std::size_t>(entry.uncompressedSize));
        if (manifest) manifestSlot = entry.keptSlot;
    }
    // java -jar finds the manifest by this name, in this case, or says the jar is corrupt.
    return manifestSlot >= 0 ? JarVerdict::complete : JarVerdict::unrunnable;
}

// java refuses a manifest its reader cannot read, and starts nothing without a main class.
JarVerdict JarPass::State::checkManifest() const {
    const std::optional<Manifest> manifest = parseManifest(keptContents[manifestSlot]);
    const std::string* mainClass = manifest ? manifest->main.find("Main-Class") : nullptr;
    const bool named = mainClass && mainClass->find_first_not_of(" \t") != std::string::npos;
    return named ? JarVerdict::complete : JarVerdict::unrunnable;
}

JarPass::JarPass(JarHooks hooks) : state_(std::make_unique<State>()) {
    state_->hooks = std::move(hooks);
}

JarPass::~JarPass() = default;

JarVerdict JarPass::open(ByteSource& jar) {
    State& s = *state_;
    JarVerdict verdict = readJarEnd(jar, s.end);
    if (verdict == JarVerdict::complete) verdict = s.readTail(jar);
    if (verdict == JarVerdict::complete) verdict = s.walkDirectory();
    if (verdict == JarVerdict::complete) verdict = s.checkEntries();
    s.opened = verdict == JarVerdict::complete;
    return verdict;
}

std::span<const unsigned char> JarPass::tail() const {
    return {state_->tail.get(), state_->tailSize};
}

const JarEnd& JarPass::end() const {
    return state_->end;
}

const KeptFiles& JarPass::kept() const {
    return state_->kept;
}

namespace {

// What the workers of one run share: the ring of chunks the bytes arrive in, the entries
// claimed and finished, and the first verdict other than complete, which stops every worker.
// A chunk's slot takes a later chunk only once no worker needs its bytes: each worker says
// below which offset it needs nothing more, and so does the next entry nobody has claimed.
struct Flow {
    Flow(const JarPass::State& pass, std::size_t workers);

    const JarPass::State& pass;
    const std::size_t slotCount;
    const std::size_t slotSize;
    std::vector<std::unique_ptr<unsigned char[]>> slots;
    std::atomic<std::uint64_t> arrived{0};
    std::atomic<std::size_t> claimed{0};
    std::atomic<std::size_t> finished{0};
    std::unique_ptr<std::atomic<std::uint64_t>[]> need;
    const std::size_t workers;
    std::atomic<std::uint64_t> checked{0};
    std::atomic<JarVerdict> verdict{JarVerdict::complete};
    std::atomic<bool> threw{false};
    std::exception_ptr error;

    bool going() const { return verdict.load(std::memory_order_relaxed) == JarVerdict::complete; }
    void fail(JarVerdict failed) {
        JarVerdict expected = JarVerdict::complete;
        verdict.compare_exchange_strong(expected, failed);
    }
    void fail(std::exception_ptr thrown) {
        if (!threw.exchange(true)) error = std::move(thrown);
        fail(JarVerdict::damaged);
    }
    // The offset below which no byte is needed any more. The claim count is read before what
    // the workers need, and a worker says what it needs before it claims, so an entry being
    // claimed is covered by one or the other.
    std::uint64_t freeBelow() const {
        const std::size_t next = claimed.load();
        std::uint64_t below =
            next < pass.entries.size() ? pass.entries[next].start : pass.end.dirStart;
        for (std::size_t w = 0; w < workers; ++w) below = std::min(below, need[w].load());
        return below;
    }
    std::span<const unsigned char> bytesAt(std::uint64_t offset, std::uint64_t until) const {
        const std::uint64_t chunk = offset / slotSize;
        const std::uint64_t chunkEnd = (chunk + 1) * slotSize;
        return {slots[chunk % slotCount].get() + (offset - chunk * slotSize),
                static_cast<std::size_t>(std::min(until, chunkEnd) - offset)};
    }
};

Flow::Flow(const JarPass::State& state, std::size_t workerCount)
    : pass(state),
      slotCount(static_cast<std::size_t>(std::clamp<std::uint64_t>(
          (state.end.dirStart + JarPass::kChunkBytes - 1) / JarPass::kChunkBytes, 1, kRingChunks))),
      slotSize(static_cast<std::size_t>(
          std::clamp<std::uint64_t>(state.end.dirStart, 1, JarPass::kChunkBytes))),
      need(std::make_unique<std::atomic<std::uint64_t>[]>(workerCount)),
      workers(workerCount) {
    for (std::size_t s = 0; s < slotCount; ++s)
        slots.push_back(std::make_unique_for_overwrite<unsigned char[]>(slotSize));
    for (std::size_t w = 0; w < workers; ++w) need[w] = std::numeric_limits<std::uint64_t>::max();
}

// One worker: checks the entries it claims, one at a time, as far as their bytes have arrived.
// An entry goes through its local header (fixed part, then name and extra field) and its data.
class Worker {
  public:
    Worker(Flow& flow, std::size_t index, std::unique_ptr<EntryConsumer> consumer,
           std::vector<std::string>& kept)
        : flow_(flow), index_(index), consumer_(std::move(consumer)), kept_(kept) {}

    // Checks what it can of the bytes that have arrived; false when there was nothing to do.
    bool step() {
        if (entry_ == nullptr && !claim()) return false;
        const std::uint64_t arrived = flow_.arrived.load();
        if (cursor_ >= arrived) return false;
        const auto bytes = flow_.bytesAt(cursor_, std::min(arrived, phaseEnd_));
        JarVerdict verdict = take(bytes);
        cursor_ += bytes.size();
        if (verdict == JarVerdict::complete && cursor_ == phaseEnd_) verdict = endPhase();
        flow_.need[index_].store(cursor_);
        if (verdict != JarVerdict::complete) {
            flow_.fail(verdict);
            return false;
        }
        return true;
    }
    // Nothing claimed and nothing left to claim.
    bool done() const { return done_; }

  private:
    enum class Phase { header, names, data };

    bool claim() {
        if (done_) return false;
        const auto& entries = flow_.pass.entries;
        const std::size_t lower = std::min(flow_.claimed.load(), entries.size());
        flow_.need[index_].store(lower < entries.size() ? entries[lower].start
                                                        : flow_.pass.end.dirStart);
        const std::size_t claimed = flow_.claimed.fetch_add(1);
        if (claimed >= entries.size()) {
            flow_.need[index_].store(std::numeric_limits<std::uint64_t>::max());
            done_ = true;
            return false;
        }
        entryIndex_ = claimed;
        entry_ = &entries[claimed];
        cursor_ = entry_->start;
        flow_.need[index_].store(cursor_);
        phase_ = Phase::header;
        phaseEnd_ = cursor_ + kLocalFileHeaderSize;
        header_.clear();
        return true;
    }

    JarVerdict take(std::span<const unsigned char> bytes) {
        if (phase_ != Phase::data) {
            header_.insert(header_.end(), bytes.begin(), bytes.end());
            return JarVerdict::complete;
        }
        flow_.checked.fetch_add(bytes.size(), std::memory_order_relaxed);
        if (entry_->method == kMethodStored) {
            crc_ = crc32(crc_, bytes.data(), static_cast<uInt>(bytes.size()));
            hand(bytes);
            return JarVerdict::complete;
        }
        return inflateSome(bytes);
    }

    JarVerdict endPhase() {
        switch (phase_) {
            case Phase::header:
                return checkLocalHeader();
            case Phase::names:
                return checkNamesAndExtra();
            case Phase::data:
                break;
        }
        return endEntry();
    }

    // The local header says of the entry what its central record says.
    JarVerdict checkLocalHeader() {
        const unsigned char* header = header_.data();
        if (le32(header) != kLocalFileHeaderSignature || le16(header + 6) != entry_->flags ||
            le16(header + 8) != entry_->method || le16(header + 26) != entry_->nameLength)
            return JarVerdict::damaged;
        phase_ = Phase::names;
        phaseEnd_ = cursor_ + entry_->nameLength + le16(header + 28);
        if (phaseEnd_ > flow_.pass.limitOf(entryIndex_)) return JarVerdict::damaged;
        return phaseEnd_ == cursor_ ? endPhase() : JarVerdict::complete;
    }

    JarVerdict checkNamesAndExtra() {
        const unsigned char* header = header_.data();
        const std::string_view name = flow_.pass.name(*entry_);
        if (std::memcmp(header + kLocalFileHeaderSize, name.data(), name.size()) != 0)
            return JarVerdict::damaged;
        // The entry's data, from where its local extra field ends, stays in its own range.
        if (!fitsWithin(cursor_, entry_->compressedSize, flow_.pass.limitOf(entryIndex_)))
            return JarVerdict::damaged;
        // With a data descriptor the local CRC and sizes come after the data, and java reads
        // neither.
        if ((entry_->flags & kDataDescriptorFlag) == 0) {
            std::uint64_t compressedSize = le32(header + 18);
            std::uint64_t uncompressedSize = le32(header + 22);
            const JarVerdict zip64 = readZip64Extra(
                header + kLocalFileHeaderSize + name.size(), le16(header + 28),
                {ifSaturated(static_cast<std::uint32_t>(uncompressedSize), uncompressedSize),
                 ifSaturated(static_cast<std::uint32_t>(compressedSize), compressedSize)});
            if (zip64 != JarVerdict::complete) return zip64;
            if (le32(header + 14) != entry_->crc || compressedSize != entry_->compressedSize ||
                uncompressedSize != entry_->uncompressedSize)
                return JarVerdict::damaged;
        }
        phase_ = Phase::data;
        phaseEnd_ = cursor_ + entry_->compressedSize;
        crc_ = crc32(0, nullptr, 0);
        produced_ = 0;
        ended_ = false;
        if (entry_->method == kMethodDeflated) {
            // zlib had no memory for its state: the jar is not at fault, but it was not read.
            if (!inflater_) inflater_.emplace(), output_.resize(kOutputBytes);
            if (!inflater_->ready()) return JarVerdict::unreadable;
            inflateReset(&inflater_->stream());
        }
        if (consumer_) consumer_->begin(name);
        return phaseEnd_ == cursor_ ? endPhase() : JarVerdict::complete;
    }

    // Inflates the next bytes of the entry's data, which end no later than the data does.
    JarVerdict inflateSome(std::span<const unsigned char> bytes) {
        if (ended_) return JarVerdict::damaged;  // data after the end of the stream
        z_stream& z = inflater_->stream();
        z.next_in = const_cast<Bytef*>(bytes.data());
        z.avail_in = static_cast<uInt>(bytes.size());
        for (;;) {
            z.next_out = output_.data();
            z.avail_out = static_cast<uInt>(output_.size());
            const uInt inBefore = z.avail_in;
            // Z_FINISH spares inflate copying into its window an entry that ends in this call;
            // one that does not goes on as with Z_NO_FLUSH, but returns Z_BUF_ERROR.
            const int status = inflate(&z, Z_FINISH);
            const std::size_t out = output_.size() - z.avail_out;
            // Stop an entry that inflates to more than it says as soon as it does.
            if (out > entry_->uncompressedSize - produced_) return JarVerdict::damaged;
            produced_ += out;
            crc_ = crc32(crc_, output_.data(), static_cast<uInt>(out));
            hand({output_.data(), out});
            if (status == Z_STREAM_END) {
                ended_ = true;
                return z.avail_in == 0 ? JarVerdict::complete : JarVerdict::damaged;
            }
            if (status != Z_OK && status != Z_BUF_ERROR) return JarVerdict::damaged;
            if (z.avail_out != 0 && z.avail_in == 0) return JarVerdict::complete;
            if (out == 0 && z.avail_in == inBefore) return JarVerdict::damaged;
        }
    }

    // Every byte of data is in: it must have been the whole stream, of the size and CRC given.
    JarVerdict endEntry() {
        const bool whole =
            entry_->method == kMethodStored || (ended_ && produced_ == entry_->uncompressedSize);
        if (!whole || crc_ != entry_->crc) return JarVerdict::damaged;
        if (consumer_) consumer_->end();
        entry_ = nullptr;
        flow_.finished.fetch_add(1);
        return JarVerdict::complete;
    }

    void hand(std::span<const unsigned char> bytes) {
        if (bytes.empty()) return;
        if (consumer_) consumer_->bytes(bytes);
        if (entry_->keptSlot >= 0) {
            kept_[entry_->keptSlot].append(reinterpret_cast<const char*>(bytes.data()),
                                           bytes.size());
        }
    }

    Flow& flow_;
    const std::size_t index_;
    std::unique_ptr<EntryConsumer> consumer_;
    std::vector<std::string>& kept_;
    bool done_ = false;
    const Entry* entry_ = nullptr;
    std::size_t entryIndex_ = 0;
    std::uint64_t cursor_ = 0;
    Phase phase_ = Phase::header;
    std::uint64_t phaseEnd_ = 0;
    std::vector<unsigned char> header_;
    uLong crc_ = 0;
    std::uint64_t produced_ = 0;
    bool ended_ = false;
    std::optional<Inflater> inflater_;
    std::vector<unsigned char> output_;
};

// Waits a little for a worker that found nothing to do.
class Idle {
  public:
    void operator()(bool worked) {
        if (worked) {
            waits_ = 0;
        } else if (++waits_ < kYieldsBeforeSleep) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(kIdleStep);
        }
    }

  private:
    int waits_ = 0;
};

// Reports the data checked to the progress callback, now and then, and stops the run when it
// says so.
class Reporter {
  public:
    Reporter(Flow& flow, const JarProgress& progress) : flow_(flow), progress_(progress) {}

    void now() {
        const std::uint64_t done = flow_.checked.load(std::memory_order_relaxed);
        const auto at = std::chrono::steady_clock::now();
        if (!progress_ || done == reported_ ||
            (done - reported_ < kProgressStep && at - reportedAt_ < kReportStep))
            return;
        reported_ = done, reportedAt_ = at;
        if (flow_.going() && !progress_(done, flow_.pass.dataTotal))
            flow_.fail(JarVerdict::stopped);
    }

  private:
    Flow& flow_;
    const JarProgress& progress_;
    std::uint64_t reported_ = 0;
    std::chrono::steady_clock::time_point reportedAt_ = std::chrono::steady_clock::now();
};

// Worker 0: reads the bytes into the ring, and checks entries itself whenever the ring is full,
// so that it never waits for workers that may not run; once everything has arrived it checks
// alongside the others, then waits for them.
void feedAndCheck(Flow& flow, Worker& self, const JarFeed& feed, Reporter& reporter) {
    const std::uint64_t total = flow.pass.end.dirStart;
    std::uint64_t fed = 0;
    Idle idle;
    while (flow.going() && fed < total) {
        const std::uint64_t chunk = fed / flow.slotSize;
        if (chunk >= flow.slotCount &&
            flow.freeBelow() < (chunk - flow.slotCount + 1) * flow.slotSize) {
            idle(self.step());
            reporter.now();
            continue;
        }
        unsigned char* slot = flow.slots[chunk % flow.slotCount].get();
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(flow.slotSize, total - fed));
        for (std::size_t got = 0; got < wanted;) {
            const std::size_t read = feed({slot + got, wanted - got});
            if (read == 0 || read > wanted - got) return flow.fail(JarVerdict::incomplete);
            got += read;
        }
        fed += wanted;
        flow.arrived.store(fed);
        reporter.now();
    }
    while (flow.going() && self.step()) reporter.now();
    while (flow.going() && flow.finished.load() < flow.pass.entries.size()) {
        idle(self.step());
        reporter.now();
    }
}

void checkAlong(Flow& flow, Worker& self) {
    Idle idle;
    while (flow.going()) {
        const bool worked = self.step();
        if (!worked && self.done()) return;
        idle(worked);
    }
}

}  // namespace

JarVerdict JarPass::run(const JarFeed& feed, const JarProgress& progress, const ParallelRun& runner,
                        std::size_t workers) {
    State& s = *state_;
    if (!s.opened) return JarVerdict::damaged;
    if (!runner || workers == 0) workers = 1;
    Flow flow(s, workers);
    // Made here rather than in each worker, so that running out of memory throws to the caller.
    std::vector<std::unique_ptr<Worker>> team;
    for (std::size_t w = 0; w < workers; ++w) {
        team.push_back(std::make_unique<Worker>(
            flow, w, s.hooks.consumer ? s.hooks.consumer(w) : nullptr, s.keptContents));
    }
    Reporter reporter(flow, progress);
    const auto task = [&](std::size_t w) {
        try {
            if (w == 0) {
                feedAndCheck(flow, *team[0], feed, reporter);
            } else {
                checkAlong(flow, *team[w]);
            }
        } catch (...) {
            flow.fail(std::current_exception());
        }
    };
    if (workers == 1) {
        task(0);
    } else {
        runner(workers, task);
    }
    if (flow.error) std::rethrow_exception(flow.error);
    JarVerdict verdict = flow.verdict.load();
    if (verdict != JarVerdict::complete) return verdict;
    if (progress && !progress(flow.checked.load(), s.dataTotal)) return JarVerdict::stopped;
    verdict = s.checkManifest();
    if (verdict != JarVerdict::complete) return verdict;
    for (const Entry& entry : s.entries) {
        if (entry.keptSlot >= 0)
            s.kept.emplace(s.name(entry), std::move(s.keptContents[entry.keptSlot]));
    }
    return JarVerdict::complete;
}

JarVerdict verifyJar(ByteSource& jar, const JarProgress& progress, const ParallelRun& runner,
                     std::size_t workers) {
    JarPass pass;
    return verifyJar(jar, pass, progress, runner, workers);
}

JarVerdict verifyJar(ByteSource& jar, JarPass& pass, const JarProgress& progress,
                     const ParallelRun& runner, std::size_t workers) {
    const JarVerdict verdict = pass.open(jar);
    if (verdict != JarVerdict::complete) return verdict;
    return runOnSource(pass, jar, progress, runner, workers);
}

JarVerdict runOnSource(JarPass& pass, ByteSource& jar, const JarProgress& progress,
                       const ParallelRun& runner, std::size_t workers) {
    std::uint64_t at = 0;
    bool failed = false;
    const JarVerdict verdict = pass.run(
        [&](std::span<unsigned char> into) -> std::size_t {
            if (!jar.read(at, into.data(), into.size())) return failed = true, 0;
            at += into.size();
            return into.size();
        },
        progress, runner, workers);
    return failed ? JarVerdict::unreadable : verdict;
}

}  // namespace velmoor
