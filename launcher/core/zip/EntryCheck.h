// The check of one entry as its bytes arrive in file order: its local header against its central
// record, then its name and local extra field, then its data, stored or inflated, against the
// CRC-32 and sizes the records give. The entry's uncompressed contents go on to the hooks'
// consumer and, for a kept file, into its slot.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/JarCheck.h"
#include "core/zip/CentralDirectory.h"

namespace velmoor::zip {

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

// One worker's check, one entry at a time: start, then take with the entry's bytes from at() up
// to until(), until busy() turns false.
class EntryCheck {
  public:
    EntryCheck(const CentralDirectory& directory, std::unique_ptr<EntryConsumer> consumer,
               std::vector<std::string>& kept)
        : directory_(directory), consumer_(std::move(consumer)), kept_(kept) {}

    // Begins the entry directory.entries[index].
    void start(std::size_t index);
    // Checks the next bytes, which end no later than until(); any verdict but complete refuses
    // the jar.
    JarVerdict take(std::span<const unsigned char> bytes);

    // An entry is started and not yet checked to its end.
    bool busy() const { return entry_ != nullptr; }
    // Its data is what arrives next: the bytes that progress counts.
    bool inData() const { return phase_ == Phase::data; }
    // The offset of the next byte it needs, and where the part it is in ends.
    std::uint64_t at() const { return cursor_; }
    std::uint64_t until() const { return phaseEnd_; }

  private:
    enum class Phase { header, names, data };

    JarVerdict endPhase();
    JarVerdict checkLocalHeader();
    JarVerdict checkNamesAndExtra();
    JarVerdict inflateSome(std::span<const unsigned char> bytes);
    JarVerdict endEntry();
    void hand(std::span<const unsigned char> bytes);

    const CentralDirectory& directory_;
    std::unique_ptr<EntryConsumer> consumer_;
    std::vector<std::string>& kept_;
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

}  // namespace velmoor::zip
