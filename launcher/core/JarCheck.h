#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace velmoor {

// Random access to the bytes of one file: the update folder's jar, or a jar read for a
// benchmark. Positional, so that it does not disturb a sequential read of the same file.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // The file's length in bytes.
    virtual std::uint64_t size() = 0;
    // Fills `into` with exactly `count` bytes from `offset`; false on a failed or short read.
    virtual bool read(std::uint64_t offset, void* into, std::size_t count) = 0;
};

enum class JarVerdict {
    complete,    // every check passed
    incomplete,  // the archive ends early: no end record, or a record pointing past the end
    damaged,     // the records contradict each other, entries overlap, or an entry's data fails
    unrunnable,  // a sound archive that `java -jar` cannot start: no manifest, no Main-Class
    unreadable,  // the source failed a read
    stopped,     // the progress callback asked to stop
};

// The total that a check inflates is bounded by this many times the jar's size. The jars of
// Debian's Java packages and of the JDK inflate to 4 times their size at most (a source zip;
// 2.6 for a jar), so no real jar comes near; an archive that does is built to keep its reader
// busy (one entry of zeros that inflates a thousandfold, or many records on the same data).
inline constexpr std::uint64_t kMaxInflatedPerJarByte = 100;

// A file that the check keeps whole (the manifest, signature files) is at most this long, the
// bound java itself puts on the signature-related files it reads whole.
inline constexpr std::uint64_t kMaxKeptBytes = 16'000'000;

inline constexpr std::string_view kManifestName = "META-INF/MANIFEST.MF";

// Where the archive lies in its file, as its end records say.
struct JarEnd {
    std::uint64_t fileSize = 0;
    // The bytes in front of the archive (a start script, a program stub), which the entries'
    // offsets do not count: where the central directory really ends, less where the end records
    // say it ends, as java's own zip reader measures them.
    std::uint64_t prefix = 0;
    std::uint64_t dirStart = 0;  // in the file, prefix included
    std::uint64_t dirSize = 0;
    std::uint64_t entries = 0;  // as the end records count them
    bool zip64 = false;         // counted by a ZIP64 end record
};

// The look before an offer: the end-of-central-directory record and, when a ZIP64 locator
// precedes it, the ZIP64 end record, checked against one another and against the file's size.
// One read of the file's last 64 KiB or so (and of the ZIP64 record where it lies further in);
// the central directory itself is read after the user has said yes.
JarVerdict readJarEnd(ByteSource& jar, JarEnd& end);
JarVerdict checkJarEnd(ByteSource& jar);

// What a check hands on of each entry: a digest of its contents, for instance. One consumer
// serves one worker and is called from that worker's thread alone: begin, then bytes with each
// piece of the entry's uncompressed contents in order, then end once the entry's CRC-32 and
// sizes have matched. An entry that fails its check gets no end, and the pass's verdict refuses
// the jar; a consumer that throws fails the pass, and run throws what it threw.
class EntryConsumer {
  public:
    virtual ~EntryConsumer() = default;
    // The entry's name as the central directory holds it (UTF-8 in a jar).
    virtual void begin(std::string_view name) = 0;
    virtual void bytes(std::span<const unsigned char> data) = 0;
    virtual void end() = 0;
};

// What may be plugged into a pass from outside the jar check.
struct JarHooks {
    // Makes worker `worker`'s consumer, for workers 0 to workers - 1, on the calling thread
    // before the entries are read. Empty: no consumer.
    std::function<std::unique_ptr<EntryConsumer>(std::size_t worker)> consumer;
    // Whether to keep an entry's uncompressed contents for JarPass::kept (the manifest is kept
    // in any case), asked of every entry during open; each kept one must fit kMaxKeptBytes.
    std::function<bool(std::string_view name)> keep;
};

// The files a pass kept whole, by name.
using KeptFiles = std::map<std::string, std::string, std::less<>>;

// Supplies the jar's next bytes in file order into `into` and says how many it gave (at most
// into.size()); 0 means the bytes ended early.
using JarFeed = std::function<std::size_t(std::span<unsigned char> into)>;

// Called now and then on the calling thread of JarPass::run with the entry data checked so far
// and its total; returning false stops the check.
using JarProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Runs task(0) to task(workers - 1) at the same time, task(0) on the calling thread, and
// returns once every one has returned. The platform supplies it, as the core has no threads.
using ParallelRun =
    std::function<void(std::size_t workers, const std::function<void(std::size_t worker)>& task)>;

// The full check of a jar in a single pass over its bytes, as they arrive from a copy: open
// reads the end records and the central directory, and checks that the entries' records agree
// with one another and fit in the file without overlapping, that no name comes twice, that the
// entries inflate to a bounded total and that there is a manifest. run then takes the bytes in
// front of the central directory in file order and checks each entry as its bytes arrive: its
// local header against its central record, its data inflated, its CRC-32 and sizes; last, that
// the manifest names a main class. An entry's bytes pass through no worker but the one checking
// it, so the hooks' consumers see each entry whole, in order.
class JarPass {
  public:
    // run asks its feed for at most this much at a time: the size of the chunks of its ring.
    static constexpr std::size_t kChunkBytes = 1 << 20;

    explicit JarPass(JarHooks hooks = {});
    ~JarPass();
    JarPass(const JarPass&) = delete;
    JarPass& operator=(const JarPass&) = delete;

    // Reads from `jar` the file's tail from the central directory on, in reads of at most 256
    // KiB, and checks it.
    JarVerdict open(ByteSource& jar);
    // The file's bytes from the central directory to its end, as open read and checked them.
    std::span<const unsigned char> tail() const;
    const JarEnd& end() const;

    // After a complete open: checks the entries as `feed` supplies the bytes in front of the
    // central directory (up to end().dirStart). Given a runner, `workers` workers check entries
    // side by side, worker 0 on the calling thread, which also calls feed and progress; without
    // one, the calling thread does it all.
    // A throw from feed or a consumer ends the pass and is thrown on.
    JarVerdict run(const JarFeed& feed, const JarProgress& progress = {},
                   const ParallelRun& runner = {}, std::size_t workers = 1);

    // After a complete run: the uncompressed contents of the kept entries, by name.
    const KeptFiles& kept() const;

    // What the pass holds, defined where it is implemented.
    struct State;

  private:
    std::unique_ptr<State> state_;
};

// A whole jar read from `jar` and checked by one pass: open, then run on the same source.
JarVerdict verifyJar(ByteSource& jar, const JarProgress& progress = {},
                     const ParallelRun& runner = {}, std::size_t workers = 1);
// The same with a pass of the caller's, with its hooks, whose kept files it reads afterwards.
JarVerdict verifyJar(ByteSource& jar, JarPass& pass, const JarProgress& progress = {},
                     const ParallelRun& runner = {}, std::size_t workers = 1);
// After a complete open on `jar`, the pass's run on the same source.
JarVerdict runOnSource(JarPass& pass, ByteSource& jar, const JarProgress& progress = {},
                       const ParallelRun& runner = {}, std::size_t workers = 1);

}  // namespace velmoor
