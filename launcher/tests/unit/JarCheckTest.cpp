// The jar check, on archives written here byte by byte and then cut short or damaged.
#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "core/JarCheck.h"

namespace velmoor {
namespace {

struct Entry {
    std::string name;
    std::string data;
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
    void add(std::uint64_t value, int size) {
        bytes.resize(bytes.size() + size);
        put(bytes.size() - size, value, size);
    }
    void add(const std::string& text) { bytes.insert(bytes.end(), text.begin(), text.end()); }
};

std::string deflated(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Writes the entries as a jar tool would; zip64 saturates every size, offset and count and puts
// the real values in the ZIP64 extra fields and end records.
Jar writeJar(const std::vector<Entry>& entries, bool zip64 = false,
             const std::string& comment = "") {
    Jar jar;
    const std::uint64_t big = zip64 ? 0xffffffff : 0;
    std::vector<std::string> packed;
    for (const Entry& e : entries) {
        packed.push_back(e.deflate ? deflated(e.data) : e.data);
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), e.data.size());
        jar.local.push_back(jar.bytes.size());
        jar.add(0x04034b50, 4), jar.add(20, 2), jar.add(0, 2), jar.add(e.deflate ? 8 : 0, 2);
        jar.add(0, 4), jar.add(crc, 4);
        jar.add(big | packed.back().size(), 4), jar.add(big | e.data.size(), 4);
        jar.add(e.name.size(), 2), jar.add(zip64 ? 20 : 0, 2), jar.add(e.name);
        if (zip64) jar.add(1, 2), jar.add(16, 2), jar.add(e.data.size(), 8);
        if (zip64) jar.add(packed.back().size(), 8);
        jar.data.push_back(jar.bytes.size());
        jar.add(packed.back());
    }
    jar.dir = jar.bytes.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        jar.central.push_back(jar.bytes.size());
        jar.add(0x02014b50, 4), jar.add(20, 2);
        // From the version needed to the name length the record repeats the local header.
        const std::vector<unsigned char> same(jar.bytes.begin() + jar.local[i] + 4,
                                              jar.bytes.begin() + jar.local[i] + 28);
        jar.bytes.insert(jar.bytes.end(), same.begin(), same.end());
        jar.add(zip64 ? 28 : 0, 2), jar.add(0, 2), jar.add(0, 2), jar.add(0, 2), jar.add(0, 4);
        jar.add(big | jar.local[i], 4), jar.add(e.name);
        if (zip64) jar.add(1, 2), jar.add(24, 2), jar.add(e.data.size(), 8);
        if (zip64) jar.add(packed[i].size(), 8), jar.add(jar.local[i], 8);
    }
    const std::size_t dirSize = jar.bytes.size() - jar.dir;
    if (zip64) {
        const std::size_t record = jar.bytes.size();
        jar.add(0x06064b50, 4), jar.add(44, 8), jar.add(45, 2), jar.add(45, 2), jar.add(0, 8);
        jar.add(entries.size(), 8), jar.add(entries.size(), 8), jar.add(dirSize, 8);
        jar.add(jar.dir, 8);
        jar.add(0x07064b50, 4), jar.add(0, 4), jar.add(record, 8), jar.add(1, 4);
    }
    jar.end = jar.bytes.size();
    jar.add(0x06054b50, 4), jar.add(0, 4);
    jar.add(zip64 ? 0xffff : entries.size(), 2), jar.add(zip64 ? 0xffff : entries.size(), 2);
    jar.add(big | dirSize, 4), jar.add(big | jar.dir, 4), jar.add(comment.size(), 2);
    jar.add(comment);
    return jar;
}

Jar smallJar(const std::string& comment = "") {
    std::string classFile;
    for (int i = 0; i < 400; ++i) classFile += "method" + std::to_string(i % 37) + "()V;";
    return writeJar({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n", false},
                     {"com/tarvio/Main.class", classFile},
                     {"empty.txt", "", true}},
                    false, comment);
}

JarVerdict endOf(const std::vector<unsigned char>& bytes) {
    MemorySource source(bytes);
    return checkJarEnd(source);
}
JarVerdict verifyOf(const std::vector<unsigned char>& bytes, const JarProgress& progress = {}) {
    MemorySource source(bytes);
    return verifyJar(source, progress);
}

using V = JarVerdict;

TEST(JarCheck, EndRecordsAndEntriesAgainstTheCaseEachDamageIs) {
    const Jar zip64 = writeJar({{"a", "x"}, {"b", "yy", false}}, true);
    const struct {
        const char* what;
        Jar jar;
        std::function<void(Jar&)> change;
        JarVerdict end, verify;
    } cases[] = {
        {"complete", smallJar(), [](Jar&) {}, V::complete, V::complete},
        {"a comment at the end", smallJar("built by the jar tool"), [](Jar&) {}, V::complete,
         V::complete},
        {"a comment cut short", smallJar("built"), [](Jar& j) { j.bytes.pop_back(); },
         V::incomplete, V::incomplete},
        {"cut before the directory", smallJar(), [](Jar& j) { j.bytes.resize(j.dir - 1); },
         V::incomplete, V::incomplete},
        {"cut inside the directory", smallJar(), [](Jar& j) { j.bytes.resize(j.dir + 50); },
         V::incomplete, V::incomplete},
        {"cut inside the end record", smallJar(), [](Jar& j) { j.bytes.resize(j.end + 12); },
         V::incomplete, V::incomplete},
        {"a byte flipped in deflated data", smallJar(),
         [](Jar& j) { j.bytes[j.data[1] + 9] ^= 0x55; }, V::complete, V::damaged},
        {"a byte flipped in stored data", smallJar(), [](Jar& j) { j.bytes[j.data[0] + 3] ^= 1; },
         V::complete, V::damaged},
        {"local name length differs", smallJar(), [](Jar& j) { j.put(j.local[1] + 26, 20, 2); },
         V::complete, V::damaged},
        {"local CRC differs", smallJar(), [](Jar& j) { j.bytes[j.local[1] + 14] ^= 1; },
         V::complete, V::damaged},
        {"unknown method", smallJar(),
         [](Jar& j) { j.put(j.local[1] + 8, 12, 2), j.put(j.central[1] + 10, 12, 2); }, V::complete,
         V::damaged},
        {"compressed size one short", smallJar(),
         [](Jar& j) {
             j.put(j.local[1] + 18, j.local[2] - j.data[1] - 1, 4);
             j.put(j.central[1] + 20, j.local[2] - j.data[1] - 1, 4);
         },
         V::complete, V::damaged},
        {"local offset past the directory", smallJar(),
         [](Jar& j) { j.put(j.central[2] + 42, j.dir + 1, 4); }, V::damaged, V::damaged},
        {"local offset past the end", smallJar(),
         [](Jar& j) { j.put(j.central[2] + 42, j.bytes.size(), 4); }, V::incomplete, V::incomplete},
        {"entry count one more", smallJar(),
         [](Jar& j) { j.put(j.end + 8, 4, 2), j.put(j.end + 10, 4, 2); }, V::damaged, V::damaged},
        {"directory size one less", smallJar(),
         [](Jar& j) { j.put(j.end + 12, j.end - j.dir - 1, 4); }, V::damaged, V::damaged},
        {"central signature broken", smallJar(), [](Jar& j) { j.bytes[j.central[1]] ^= 1; },
         V::damaged, V::damaged},
        {"name running past the directory", smallJar(),
         [](Jar& j) { j.put(j.central[2] + 28, 200, 2); }, V::damaged, V::damaged},
        {"ZIP64", zip64, [](Jar&) {}, V::complete, V::complete},
        {"ZIP64 record cut off", zip64, [](Jar& j) { j.bytes.erase(j.bytes.begin() + j.end - 30); },
         V::damaged, V::damaged},
        {"ZIP64 extra field missing", zip64, [](Jar& j) { j.put(j.central[1] + 32 - 2, 0, 2); },
         V::damaged, V::damaged},
        {"ZIP64 count contradicting", zip64, [](Jar& j) { j.put(j.end + 10, 1, 2); }, V::damaged,
         V::damaged},
    };
    for (const auto& c : cases) {
        Jar jar = c.jar;
        c.change(jar);
        EXPECT_EQ(endOf(jar.bytes), c.end) << c.what;
        EXPECT_EQ(verifyOf(jar.bytes), c.verify) << c.what;
    }
}

TEST(JarCheck, GarbageIsIncomplete) {
    const std::vector<std::vector<unsigned char>> inputs = {
        {}, {'P', 'K', 5, 6}, std::vector<unsigned char>(70000, 'P'), {'P', 'K', 3, 4, 0}};
    for (const auto& input : inputs) {
        EXPECT_EQ(endOf(input), V::incomplete) << input.size();
        EXPECT_EQ(verifyOf(input), V::incomplete) << input.size();
    }
}

TEST(JarCheck, Zip64ArchiveOfMoreEntriesThanTheEndRecordCounts) {
    std::vector<Entry> entries;
    for (int i = 0; i < 70000; ++i) entries.push_back({std::to_string(i), "c", i % 100 == 0});
    const Jar jar = writeJar(entries, true);
    EXPECT_EQ(endOf(jar.bytes), V::complete);
    EXPECT_EQ(verifyOf(jar.bytes), V::complete);
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
    FailingSource end(jar.bytes, jar.end);
    EXPECT_EQ(checkJarEnd(end), V::unreadable);
    FailingSource data(jar.bytes, jar.data[0] + 10);
    EXPECT_EQ(checkJarEnd(data), V::complete);
    EXPECT_EQ(verifyJar(data), V::unreadable);
}

TEST(JarCheck, ProgressCountsCompressedBytesAndCanStop) {
    const Jar jar = writeJar({{"big.bin", std::string(9 << 20, 'z'), false}, {"small", "abc"}});
    const std::uint64_t total = (9 << 20) + (jar.central[0] - jar.data[1]);
    std::vector<std::uint64_t> seen;
    EXPECT_EQ(verifyOf(jar.bytes,
                       [&](std::uint64_t done, std::uint64_t all) {
                           EXPECT_EQ(all, total);
                           seen.push_back(done);
                           return true;
                       }),
              V::complete);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(seen.back(), total);
    EXPECT_EQ(verifyOf(jar.bytes, [](std::uint64_t, std::uint64_t) { return false; }), V::stopped);
}

}  // namespace
}  // namespace velmoor
