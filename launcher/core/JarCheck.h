#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace velmoor {

// Random access to the bytes of one file: the update folder's jar, or the copy of it beside
// the installed one. verifyJar with more than one worker calls read from several threads at
// once, so read must be positional (pread, ReadFile at an OVERLAPPED offset, a memory copy),
// never a seek followed by a read.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // The file's length in bytes.
    virtual std::uint64_t size() = 0;
    // Fills `into` with exactly `count` bytes from `offset`; false on a failed or short read.
    virtual bool read(std::uint64_t offset, void* into, std::size_t count) = 0;
};

// The bytes of a file already in memory.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const unsigned char> bytes) : bytes_(bytes) {}
    std::uint64_t size() override { return bytes_.size(); }
    bool read(std::uint64_t offset, void* into, std::size_t count) override;

  private:
    std::span<const unsigned char> bytes_;
};

enum class JarVerdict {
    complete,    // every check passed
    incomplete,  // the archive ends early: no end record, or a record pointing past the end
    damaged,     // the records contradict each other, or an entry's data fails its checks
    unreadable,  // the source failed a read
    stopped,     // the progress callback asked to stop
};

// The cheap look before an offer: finds the end-of-central-directory record (ZIP64 included)
// and reads the central directory, checking that every entry and offset lies inside the file.
// Reads the file's tail only, never the entries' data.
JarVerdict checkJarEnd(ByteSource& jar);

// Called now and then during verifyJar with the bytes of entry data checked so far and the
// total; returning false stops the check.
using JarProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Runs task(0) to task(workers - 1) at the same time, task(0) on the calling thread, and
// returns once every one has returned. The platform supplies it, as the core has no threads.
using ParallelRun =
    std::function<void(std::size_t workers, const std::function<void(std::size_t worker)>& task)>;

// The full check before a copy replaces anything: checkJarEnd, then every entry's local header
// against its central directory record, its data inflated, and its CRC-32 and sizes compared.
// Given a runner, `workers` workers take the entries batch by batch; progress is still called
// on the calling thread only, now and then until every worker is done. Without a runner the
// check runs on the calling thread alone.
JarVerdict verifyJar(ByteSource& jar, const JarProgress& progress = {}, const ParallelRun& run = {},
                     std::size_t workers = 1);

}  // namespace velmoor
