// The jar check, on archives written here byte by byte and then cut short or damaged.
#include <gtest/gtest.h>
#include <zlib.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/JarCheck.h"

namespace velmoor {
namespace {

struct Entry {
    std::string name, data;
    bool deflate = true;
};

// An archive and where its parts start, for the cases to cut or change.
struct Jar {
    std::vector<unsigned char> bytes;
    std::vector<std::size_t> local, data, central;
    std::size_t dir = 0, end = 0;

    void put(std::size_t at, std::uint64_t value, int size) {
        for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<unsigned char>(value >> 8 * i);
    }
    // Little-endian fields: `sizes` holds the byte count of each value, as digits.
    void add(const char* sizes, std::initializer_list<std::uint64_t> values) {
        for (const std::uint64_t value : values) {
            const int size = *sizes++ - '0';
            bytes.resize(bytes.size() + size), put(bytes.size() - size, value, size);
        }
    }
    void add(const std::string& text) { bytes.insert(bytes.end(), text.begin(), text.end()); }
};

// Raw deflate: a zlib stream without its 2-byte header and 4-byte Adler-32.
std::string deflated(const std::string& data) {
    std::string out(compressBound(data.size()), '\0');
    uLongf size = out.size();
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(data.data()), data.size());
    return out.substr(2, size - 6);
}

// Writes the entries as a jar tool would; zip64 saturates every size, offset and count and puts
// the real values in the ZIP64 extra fields and end records.
Jar writeJar(const std::vector<Entry>& entries, bool zip64 = false,
             const std::string& comment = "") {
    Jar jar;
    const std::uint64_t big = zip64 ? 0xffffffff : 0;
    std::vector<std::string> packed;
    for (const Entry& e : entries) {
        const std::string& p = packed.emplace_back(e.deflate ? deflated(e.data) : e.data);
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), e.data.size());
        jar.local.push_back(jar.bytes.size());
        jar.add("4222444422", {0x04034b50, 20, 0, e.deflate ? 8u : 0u, 0, crc, big | p.size(),
                               big | e.data.size(), e.name.size(), zip64 ? 20u : 0u});
        jar.add(e.name);
        if (zip64) jar.add("2288", {1, 16, e.data.size(), p.size()});
        jar.data.push_back(jar.bytes.size());
        jar.add(p);
    }
    jar.dir = jar.bytes.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        jar.central.push_back(jar.bytes.size());
        jar.add("42", {0x02014b50, 20});
        // From the version needed to the name length the record repeats the local header.
        const std::vector<unsigned char> same(jar.bytes.begin() + jar.local[i] + 4,
                                              jar.bytes.begin() + jar.local[i] + 28);
        jar.bytes.insert(jar.bytes.end(), same.begin(), same.end());
        jar.add("22224", {zip64 ? 28u : 0u, 0, 0, 0, 0}), jar.add("4", {big | jar.local[i]});
        jar.add(entries[i].name);
        if (zip64)
            jar.add("22888", {1, 24, entries[i].data.size(), packed[i].size(), jar.local[i]});
    }
    const std::size_t dirSize = jar.bytes.size() - jar.dir, count = entries.size();
    if (zip64) {
        jar.add("4822448888", {0x06064b50, 44, 45, 45, 0, 0, count, count, dirSize, jar.dir});
        jar.add("4484", {0x07064b50, 0, jar.dir + dirSize, 1});
    }
    jar.end = jar.bytes.size();
    const std::uint64_t shortCount = zip64 ? 0xffff : count;
    jar.add("42222442", {0x06054b50, 0, 0, shortCount, shortCount, big | dirSize, big | jar.dir,
                         comment.size()});
    jar.add(comment);
    return jar;
}

JarVerdict endOf(const std::vector<unsigned char>& bytes) {
    MemorySource source(bytes);
    return checkJarEnd(source);
}
// Workers 1 and up at once, then worker 0 once they have returned: they take every entry, so
// what they find must reach the caller without worker 0.
void othersFirst(std::size_t workers, const std::function<void(std::size_t)>& task) {
    std::vector<std::jthread> threads;
    for (std::size_t w = 1; w < workers; ++w) threads.emplace_back(task, w);
    threads.clear();
    task(0);
}
JarVerdict verifyOf(const std::vector<unsigned char>& bytes, std::size_t workers = 1) {
    MemorySource source(bytes);
    return verifyJar(source, {}, othersFirst, workers);
}

// Says the deflated entry's data is `by` bytes longer than it is.
void resizeDeflated(Jar& jar, int by) {
    jar.put(jar.local[1] + 18, jar.local[2] - jar.data[1] + by, 4);
    jar.put(jar.central[1] + 20, jar.local[2] - jar.data[1] + by, 4);
}

constexpr JarVerdict C = JarVerdict::complete, I = JarVerdict::incomplete, D = JarVerdict::damaged;

TEST(JarCheck, EndRecordsAndEntriesAgainstTheCaseEachDamageIs) {
    std::string classFile;
    for (int i = 0; i < 400; ++i) classFile += "method" + std::to_string(i % 37) + "()V;";
    // Stored, deflated and empty entries, and a comment after the end record.
    const Jar small = writeJar({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n", false},
                                {"com/tarvio/Main.class", classFile},
                                {"e", ""}},
                               false, "built by the jar tool");
    const Jar zip64 = writeJar({{"a", "x"}, {"b", "yy", false}}, true);
    const struct {
        const char* what;
        std::function<void(Jar&)> change;
        JarVerdict end, verify;
        bool zip64 = false;
    } cases[] = {
        {"complete", [](Jar&) {}, C, C},
        {"empty", [](Jar& j) { j.bytes.clear(); }, I, I},
        {"garbage", [](Jar& j) { j.bytes.assign(70000, 'P'); }, I, I},
        {"the comment cut short", [](Jar& j) { j.bytes.pop_back(); }, I, I},
        {"cut before the directory", [](Jar& j) { j.bytes.resize(j.dir - 1); }, I, I},
        {"cut inside the directory", [](Jar& j) { j.bytes.resize(j.dir + 50); }, I, I},
        {"cut inside the end record", [](Jar& j) { j.bytes.resize(j.end + 12); }, I, I},
        {"deflated data changed", [](Jar& j) { j.bytes[j.data[1] + 9] ^= 0x55; }, C, D},
        {"stored data changed", [](Jar& j) { j.bytes[j.data[0] + 3] ^= 1; }, C, D},
        {"stored sizes differ",
         [](Jar& j) { j.put(j.local[0] + 22, 5, 4), j.put(j.central[0] + 24, 5, 4); }, C, D},
        {"local name length differs", [](Jar& j) { j.put(j.local[1] + 26, 20, 2); }, C, D},
        {"local CRC differs", [](Jar& j) { j.bytes[j.local[1] + 14] ^= 1; }, C, D},
        {"unknown method",
         [](Jar& j) { j.put(j.local[1] + 8, 12, 2), j.put(j.central[1] + 10, 12, 2); }, C, D},
        {"deflated data one byte short", [](Jar& j) { resizeDeflated(j, -1); }, C, D},
        {"deflated data one byte long", [](Jar& j) { resizeDeflated(j, 1); }, C, D},
        {"local header past the directory", [](Jar& j) { j.put(j.central[2] + 42, j.dir + 1, 4); },
         D, D},
        {"local header past the end", [](Jar& j) { j.put(j.central[2] + 42, j.end + 30, 4); }, I,
         I},
        {"one entry more", [](Jar& j) { j.put(j.end + 8, 4, 2), j.put(j.end + 10, 4, 2); }, D, D},
        {"entries on this disk differ", [](Jar& j) { j.put(j.end + 8, 4, 2); }, D, D},
        {"bytes before the end record",
         [](Jar& j) { j.bytes.insert(j.bytes.begin() + j.end, 4, 0); }, D, D},
        {"directory one byte less", [](Jar& j) { j.put(j.end + 12, j.end - j.dir - 1, 4); }, D, D},
        {"central signature broken", [](Jar& j) { j.bytes[j.central[1]] ^= 1; }, D, D},
        {"name past the directory", [](Jar& j) { j.put(j.central[2] + 28, 200, 2); }, D, D},
        {"ZIP64", [](Jar&) {}, C, C, true},
        {"ZIP64 record on the locator", [](Jar& j) { j.bytes.erase(j.bytes.begin() + j.end - 30); },
         D, D, true},
        {"ZIP64 extra field missing", [](Jar& j) { j.put(j.central[1] + 30, 0, 2); }, D, D, true},
        {"ZIP64 count contradicted",
         [](Jar& j) { j.put(j.end + 8, 1, 2), j.put(j.end + 10, 1, 2); }, D, D, true},
    };
    for (const auto& c : cases) {
        Jar jar = c.zip64 ? zip64 : small;
        c.change(jar);
        EXPECT_EQ(endOf(jar.bytes), c.end) << c.what;
        for (const std::size_t workers : {1, 3})
            EXPECT_EQ(verifyOf(jar.bytes, workers), c.verify) << c.what << ", " << workers;
    }
}

TEST(JarCheck, Zip64ArchiveOfMoreEntriesThanTheEndRecordCounts) {
    std::vector<Entry> entries;
    for (int i = 0; i < 70000; ++i) entries.push_back({std::to_string(i), "c", i % 100 == 0});
    const Jar jar = writeJar(entries, true);
    EXPECT_EQ(endOf(jar.bytes), C);
    EXPECT_EQ(verifyOf(jar.bytes), C);
}

// Fails every read that takes in the byte at `bad`.
struct FailingSource final : ByteSource {
    FailingSource(const std::vector<unsigned char>& jar, std::uint64_t at) : bytes(jar), bad(at) {}
    MemorySource bytes;
    std::uint64_t bad;
    std::uint64_t size() override { return bytes.size(); }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        return (bad < offset || bad >= offset + count) && bytes.read(offset, into, count);
    }
};

TEST(JarCheck, AFailedReadIsUnreadable) {
    // Longer than the tail read at the end, so that its data is read by verifyJar alone.
    const Jar jar = writeJar({{"pad.bin", std::string(70000, 'p'), false}, {"x", "y"}});
    FailingSource end(jar.bytes, jar.end), data(jar.bytes, jar.data[0] + 10);
    EXPECT_EQ(checkJarEnd(end), JarVerdict::unreadable);
    EXPECT_EQ(checkJarEnd(data), C);
    EXPECT_EQ(verifyJar(data), JarVerdict::unreadable);
    EXPECT_EQ(verifyJar(data, {}, othersFirst, 3), JarVerdict::unreadable);
}

// Worker 0 on this thread and the others on threads of their own, all at once.
void together(std::size_t workers, const std::function<void(std::size_t)>& task) {
    std::vector<std::jthread> threads;
    for (std::size_t w = 1; w < workers; ++w) threads.emplace_back(task, w);
    task(0);
}

// Holds back the other workers' reads until the first progress call, which worker 0 must then
// make with its own share, and go on making while they finish theirs.
struct HeldSource final : ByteSource {
    explicit HeldSource(const std::vector<unsigned char>& jar) : bytes(jar) {}
    MemorySource bytes;
    const std::thread::id caller = std::this_thread::get_id();
    std::mutex mutex;
    std::condition_variable changed;
    bool held = true;
    void release() {
        std::lock_guard lock(mutex);
        held = false, changed.notify_all();
    }
    std::uint64_t size() override { return bytes.size(); }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return !held || std::this_thread::get_id() == caller; });
        return lock.unlock(), bytes.read(offset, into, count);
    }
};

TEST(JarCheck, ProgressCountsCompressedBytesAndCanStop) {
    // Three batches: the two other workers cannot hold back worker 0 from the last.
    const Jar jar = writeJar({{"big.bin", std::string(9 << 20, 'z'), false},
                              {"mid.bin", std::string(3 << 20, 'm'), false},
                              {"small", "abc"}});
    const std::uint64_t total = (12 << 20) + (jar.central[0] - jar.data[2]);
    for (const std::size_t workers : {1, 3}) {
        HeldSource source(jar.bytes), stopping(jar.bytes);
        std::vector<std::uint64_t> seen;
        EXPECT_EQ(verifyJar(
                      source,
                      [&](std::uint64_t done, std::uint64_t all) {
                          source.release(), seen.push_back(all == total ? done : 0);
                          return true;
                      },
                      together, workers),
                  C);
        ASSERT_GE(seen.size(), 2u);
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()) && seen.front() > 0 &&
                    seen.back() == total);
        seen.clear();
        EXPECT_EQ(verifyJar(
                      stopping,
                      [&](std::uint64_t done, std::uint64_t) {
                          stopping.release(), seen.push_back(done);
                          return false;
                      },
                      together, workers),
                  JarVerdict::stopped);
        EXPECT_TRUE(seen.size() == 1 && seen[0] < total) << workers;
    }
}

}  // namespace
}  // namespace velmoor
