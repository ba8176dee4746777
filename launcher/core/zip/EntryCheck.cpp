#include "core/zip/EntryCheck.h"

#include <cstring>
#include <string_view>

#include "core/zip/Records.h"

namespace velmoor::zip {

namespace {

// Each inflate call writes up to this much.
constexpr std::size_t kOutputBytes = 256 * 1024;

}  // namespace

void EntryCheck::start(std::size_t index) {
    entryIndex_ = index;
    entry_ = &directory_.entries[index];
    cursor_ = entry_->start;
    phase_ = Phase::header;
    phaseEnd_ = cursor_ + kLocalFileHeaderSize;
    header_.clear();
}

JarVerdict EntryCheck::take(std::span<const unsigned char> bytes) {
    JarVerdict verdict = JarVerdict::complete;
    if (phase_ != Phase::data) {
        header_.insert(header_.end(), bytes.begin(), bytes.end());
    } else if (entry_->method == kMethodStored) {
        crc_ = crc32(crc_, bytes.data(), static_cast<uInt>(bytes.size()));
        hand(bytes);
    } else {
        verdict = inflateSome(bytes);
    }
    cursor_ += bytes.size();
    return verdict == JarVerdict::complete && cursor_ == phaseEnd_ ? endPhase() : verdict;
}

JarVerdict EntryCheck::endPhase() {
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
JarVerdict EntryCheck::checkLocalHeader() {
    const unsigned char* header = header_.data();
    if (le32(header) != kLocalFileHeaderSignature || le16(header + 6) != entry_->flags ||
        le16(header + 8) != entry_->method || le16(header + 26) != entry_->nameLength)
        return JarVerdict::damaged;
    phase_ = Phase::names;
    phaseEnd_ = cursor_ + entry_->nameLength + le16(header + 28);
    if (phaseEnd_ > directory_.limitOf(entryIndex_)) return JarVerdict::damaged;
    return phaseEnd_ == cursor_ ? endPhase() : JarVerdict::complete;
}

JarVerdict EntryCheck::checkNamesAndExtra() {
    const unsigned char* header = header_.data();
    const std::string_view name = directory_.name(*entry_);
    if (std::memcmp(header + kLocalFileHeaderSize, name.data(), name.size()) != 0)
        return JarVerdict::damaged;
    // The entry's data, from where its local extra field ends, stays in its own range.
    if (!fitsWithin(cursor_, entry_->compressedSize, directory_.limitOf(entryIndex_)))
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
JarVerdict EntryCheck::inflateSome(std::span<const unsigned char> bytes) {
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
JarVerdict EntryCheck::endEntry() {
    const bool whole =
        entry_->method == kMethodStored || (ended_ && produced_ == entry_->uncompressedSize);
    if (!whole || crc_ != entry_->crc) return JarVerdict::damaged;
    if (consumer_) consumer_->end();
    entry_ = nullptr;
    return JarVerdict::complete;
}

void EntryCheck::hand(std::span<const unsigned char> bytes) {
    if (bytes.empty()) return;
    if (consumer_) consumer_->bytes(bytes);
    if (entry_->keptSlot >= 0) {
        kept_[entry_->keptSlot].append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
}

}  // namespace velmoor::zip
