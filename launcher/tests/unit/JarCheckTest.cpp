// The jar check on archives written here, cut short, damaged or made hostile, and on real jars.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <latch>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "TestJar.h"
#include "core/JarCheck.h"
#include "core/zip/Records.h"

namespace velmoor {
namespace {

using namespace testjar;

JarVerdict endOf(const Jar& jar) {
    MemorySource source(jar.bytes, jar.failAt);
    return checkJarEnd(source);
}
JarVerdict verifyOf(const Jar& jar, std::size_t workers = 1) {
    MemorySource source(jar.bytes, jar.failAt);
    return verifyJar(source, {}, together, workers);
}

// Says the deflated entry's data is `by` bytes longer than it is.
void resizeDeflated(Jar& jar, int by) {
    jar.put(jar.local[1] + 18, jar.local[2] - jar.data[1] + by, 4);
    jar.put(jar.central[1] + 20, jar.local[2] - jar.data[1] + by, 4);
}

// A jar whose second entry holds `raw` as deflated data, its records saying it inflates to `data`.
Jar saidDeflated(const std::string& raw, const std::string& data, const Entry& more = {"y", "z"}) {
    Jar jar = writeJar({{"META-INF/MANIFEST.MF", kManifest}, {"x", raw, false}, more});
    const std::uint64_t crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size());
    for (const std::size_t at : {jar.local[1] + 6, jar.central[1] + 8}) {
        jar.put(at + 2, 8, 2), jar.put(at + 8, crc, 4), jar.put(at + 16, data.size(), 4);
    }
    return jar;
}

// A deflate stream of fixed codes: the byte 0x90, then `matches` copies of 258 bytes from one
// back. Its bits align so that the input is gone while the inflater still copies the last match.
std::string deflatedMatches(int matches) {
    std::string out;
    int at = 0;
    const auto bit = [&](unsigned value) {
        if (at % 8 == 0) out += '\0';
        out.back() = static_cast<char>(out.back() | value << at++ % 8);
    };
    const auto code = [&](unsigned value, int length) {
        while (length-- > 0) bit(value >> length & 1);
    };
    bit(1), bit(1), bit(0);  // the last block, of fixed codes
    code(0b110010000, 9);
    for (int i = 0; i < matches; ++i) code(0b11000101, 8), code(0, 5);
    code(0, 7);  // the block's end
    return out;
}

// A ZIP64 jar whose record lies before the last 64 KiB and so on: extensible data after the
// record, and the longest comment.
Jar farZip64() {
    Jar jar = writeJar({{"META-INF/MANIFEST.MF", kManifest}, {"b", "yy", false}}, Layout::zip64,
                       std::string(65535, 'c'));
    jar.put(jar.end - 76 + 4, 44 + 16, 8);
    jar.bytes.insert(jar.bytes.begin() + jar.end - 20, 16, 'x');
    return jar;
}

// A jar whose entries say they inflate to exactly 100 times its size, its end comment making up
// the difference (the cap written out, so that the test does not move with it).
Jar inflatingToTheCap() {
    const Entry manifest{"META-INF/MANIFEST.MF", kManifest, false};
    const Entry zeros{"z", std::string((1 << 20) - ((1 << 20) + kManifest.size()) % 100, '\0')};
    const std::uint64_t inflated = kManifest.size() + zeros.data.size();
    const Jar bare = writeJar({manifest, zeros});
    return writeJar({manifest, zeros}, Layout::plain,
                    std::string(inflated / 100 - bare.bytes.size(), 'c'));
}

// A ZIP64 locator inserted at `at`, pointing at `record`.
void insertLocator(Jar& jar, std::size_t at, std::uint64_t record) {
    Jar locator;
    locator.add("4484", {0x07064b50, 0, record, 1});
    jar.bytes.insert(jar.bytes.begin() + at, locator.bytes.begin(), locator.bytes.end());
}

constexpr JarVerdict C = JarVerdict::complete, I = JarVerdict::incomplete, D = JarVerdict::damaged,
                     U = JarVerdict::unrunnable, R = JarVerdict::unreadable;

TEST(JarCheck, EndRecordsAndEntriesAgainstTheCaseEachDamageIs) {
    std::string classFile;
    for (int i = 0; i < 400; ++i) classFile += "method" + std::to_string(i % 37) + "()V;";
    const Entry manifest{"META-INF/MANIFEST.MF", kManifest, false},
        main{"com/tarvio/Main.class", classFile};
    // Stored, deflated and empty entries, and a comment after the end record.
    const Jar small = writeJar({manifest, main, {"e", ""}}, Layout::plain, "built by the jar tool");
    const Jar zip64 = writeJar({manifest, {"b", "yy", false}}, Layout::zip64);
    const auto with = [&](std::string name, std::string data) {
        return writeJar({{std::move(name), std::move(data)}, main});
    };
    // A stored entry whose data is another entry, local header and all, whose record points there,
    // the last in the file: what the one before it may hold is bounded by where that one starts.
    const Jar in = writeJar({{"in.class", "payload"}});
    const Jar nested = writeJar(
        {manifest, main, {"box.bin", in.text().substr(0, in.dir), false}, {"in.class", "payload"}});
    const Jar inner = writeJar({manifest, main});
    const Jar folder = writeJar({manifest, {"a/", ""}, main});
    // Longer than the tail read at the end, so that its data is read by the pass alone.
    const Jar padded = writeJar({manifest, {"pad.bin", std::string(70000, 'p'), false}, main});
    Jar outer = writeJar({manifest, {"lib/inner.jar", inner.text(), false}, main});
    outer.bytes.resize(outer.data[1] + inner.bytes.size());
    // More entries than a plain end record counts.
    std::vector<Entry> many{manifest};
    for (int i = 0; i < 70000; ++i) many.push_back({std::to_string(i), "c", i % 100 == 0});
    std::vector<Entry> forty;
    for (int i = 0; i < 40; ++i) forty.push_back({std::to_string(i), "x"});
    // Exactly as many as a plain end record's count wraps to 0.
    const std::vector<Entry> wrapping(many.begin(), many.begin() + 65536);
    const struct {
        const char* what;
        const Jar& jar;
        JarVerdict end, verify;
        void (*change)(Jar&) = [](Jar&) {};
    } cases[] = {
        {"complete", small, C, C},
        {"empty", small, I, I, [](Jar& j) { j.bytes.clear(); }},
        {"garbage", small, I, I, [](Jar& j) { j.bytes.assign(70000, 'P'); }},
        {"the comment cut short", small, I, I, [](Jar& j) { j.bytes.pop_back(); }},
        {"cut before the directory", small, I, I, [](Jar& j) { j.bytes.resize(j.dir - 1); }},
        {"cut inside the directory", small, I, I, [](Jar& j) { j.bytes.resize(j.dir + 50); }},
        {"cut inside the end record", small, I, I, [](Jar& j) { j.bytes.resize(j.end + 12); }},
        {"a jar stored inside, cut after its end record", outer, I, I},
        {"deflated data changed", small, C, D, [](Jar& j) { j.bytes[j.data[1] + 9] ^= 0x55; }},
        {"deflated data inflating to other bytes than its CRC's",
         saidDeflated(deflated("xyz"), "xyw"), C, D},
        {"stored data changed", small, C, D, [](Jar& j) { j.bytes[j.data[0] + 3] ^= 1; }},
        {"stored sizes differ", small, C, D,
         [](Jar& j) { j.put(j.local[0] + 22, 5, 4), j.put(j.central[0] + 24, 5, 4); }},
        {"local name length differs", small, C, D, [](Jar& j) { j.put(j.local[1] + 26, 20, 2); }},
        {"local name differs", small, C, D, [](Jar& j) { j.bytes[j.local[1] + 30] ^= 1; }},
        {"local flags say encrypted", small, C, D, [](Jar& j) { j.bytes[j.local[1] + 6] |= 1; }},
        {"encrypted, as both records say", small, C, D,
         [](Jar& j) { j.bytes[j.local[1] + 6] |= 1, j.bytes[j.central[1] + 8] |= 1; }},
        {"local method differs", small, C, D, [](Jar& j) { j.put(j.local[1] + 8, 0, 2); }},
        {"local CRC differs", small, C, D, [](Jar& j) { j.bytes[j.local[1] + 14] ^= 1; }},
        {"local size differs", small, C, D, [](Jar& j) { j.bytes[j.local[1] + 22] ^= 1; }},
        {"unknown method", small, C, D,
         [](Jar& j) { j.put(j.local[1] + 8, 12, 2), j.put(j.central[1] + 10, 12, 2); }},
        {"unknown method on data that are their own contents", small, C, D,
         [](Jar& j) { j.put(j.local[0] + 8, 12, 2), j.put(j.central[0] + 10, 12, 2); }},
        {"deflated data one byte short", small, C, D, [](Jar& j) { resizeDeflated(j, -1); }},
        {"deflated data one byte long", small, C, D, [](Jar& j) { resizeDeflated(j, 1); }},
        {"deflated data with a byte after its stream", saidDeflated(deflated("xyz") + "!", "xyz"),
         C, D},
        // Its last match runs past the inflater's 256 KiB of output as the input runs out; stored
        // padding keeps it under the inflation cap.
        {"a stream whose last match outruns the output buffer",
         saidDeflated(deflatedMatches(1017), std::string(1 + 258 * 1017, '\x90'),
                      {"pad", std::string(4000, 'p'), false}),
         C, C},
        // A stored block of it, not marked the last, and nothing after.
        {"a deflate stream that does not end",
         saidDeflated(std::string("\0\3\0\xfc\xff", 5) + "xyz", "xyz"), C, D},
        {"local extra field into the next entry", small, C, D,
         [](Jar& j) { j.put(j.local[0] + 28, 100, 2); }},
        {"a directory record running past the directory", small, C, D,
         [](Jar& j) { j.put(j.central[2] + 32, 10, 2); }},
        {"local extra field into the directory", small, C, D,
         [](Jar& j) { j.put(j.local[2] + 28, 100, 2); }},
        // Nothing after its header but the directory, which no read of entry data reaches.
        {"an empty entry without a name, last", writeJar({manifest, main, {"", "", false}}), C, C},
        {"local header past the directory", small, C, D,
         [](Jar& j) { j.put(j.central[2] + 42, j.dir + 1, 4); }},
        {"local header past the end", small, C, I,
         [](Jar& j) { j.put(j.central[2] + 42, j.end + 30, 4); }},
        {"a second record on an entry's bytes", small, C, D,
         [](Jar& j) { j.put(j.central[2] + 42, j.local[1], 4); }},
        {"an entry inside another's data", nested, C, D,
         [](Jar& j) { j.put(j.central[3] + 42, j.data[2], 4); }},
        {"one entry more", small, D, D,
         [](Jar& j) { j.put(j.end + 8, 4, 2), j.put(j.end + 10, 4, 2); }},
        {"one entry less", small, C, D,
         [](Jar& j) { j.put(j.end + 8, 2, 2), j.put(j.end + 10, 2, 2); }},
        {"entries on this disk differ", small, D, D, [](Jar& j) { j.put(j.end + 8, 4, 2); }},
        {"bytes before the end record", small, D, D,
         [](Jar& j) { j.bytes.insert(j.bytes.begin() + j.end, 4, 0); }},
        {"directory one byte less", small, D, D,
         [](Jar& j) { j.put(j.end + 12, j.end - j.dir - 1, 4); }},
        {"central signature broken", small, C, D, [](Jar& j) { j.bytes[j.central[1]] ^= 1; }},
        {"name past the directory", small, C, D, [](Jar& j) { j.put(j.central[2] + 28, 200, 2); }},
        {"a name twice, apart", writeJar({manifest, main, {manifest.name, "Main-Class: a.B\n"}}), C,
         D},
        {"a name forty times", writeJar(std::vector<Entry>(40, {"a", "x"})), C, D},
        {"forty records on one entry's bytes", writeJar(forty), C, D,
         [](Jar& j) {
             for (const std::size_t record : j.central) j.put(record + 42, j.local[0], 4);
         }},
        // java loads "a/B.class/" for a/B.class, unsigned; an empty folder is what jar tools write.
        {"a folder's name on bytes", with("com/tarvio/Main.class/", "x"), C, D},
        {"an empty folder, deflated as jarsigner writes META-INF/", folder, C, C},
        {"an empty folder", writeJar({manifest, {"a/", "", false}, main}), C, C},
        {"a folder's name on deflated data that is not empty", folder, C, D,
         [](Jar& j) { j.bytes[j.data[1] + 1] = 0xff; }},
        {"a name java cannot decode", with("a\xc0\xaf.class", "x"), C, D},
        // java refuses a directory record longer than 64 KiB: its fixed part and a name of 65,489.
        {"a directory record of 65,535 bytes", with(std::string(65489, 'a'), "x"), C, U},
        {"a directory record of 65,536 bytes", with(std::string(65490, 'a'), "x"), C, D},
        // java's scan starts where a whole end record fits; it never reads the bytes after that.
        {"an end record's signature one byte past where java looks",
         writeJar({manifest, main}, Layout::plain, "....PK\5\6" + std::string(17, '.')), C, C},
        {"an archive of no entries at all", writeJar(std::vector<Entry>{}), C, U},
        {"a directory larger than all before the end record", small, D, D,
         [](Jar& j) { j.put(j.end + 12, j.end + 1, 4); }},
        {"a directory that starts before the archive", small, D, D,
         [](Jar& j) { j.put(j.end + 16, j.dir + 1, 4); }},
        {"a ZIP64 locator that starts the file", writeJar(std::vector<Entry>{}), D, D,
         [](Jar& j) { insertLocator(j, 0, 0); }},
        // java takes the last end record whose directory and first entry carry their signatures.
        {"a second archive in the end comment",
         writeJar({manifest, main}, Layout::plain, inner.text() + "x"), D, D},
        {"inflating to over 100 times the jar",
         with(manifest.name, kManifest + std::string(1 << 20, '\n')), C, D},
        {"inflating to exactly 100 times the jar", inflatingToTheCap(), C, C},
        {"inflating to a byte over 100 times the jar", inflatingToTheCap(), C, D,
         [](Jar& j) { j.bytes.pop_back(), j.put(j.end + 20, j.bytes.size() - j.end - 22, 2); }},
        // A byte over the 16,000,000 kept (written out, as the test must not move with the
        // bound); stored padding keeps it under the inflation cap.
        {"a manifest larger than is kept",
         writeJar({{manifest.name, std::string(16'000'001, '\n')},
                   {"pad", std::string(180'000, 'p'), false}}),
         C, D},
        {"no manifest", writeJar({main}), C, U},
        {"the manifest's name in small letters", with("meta-inf/manifest.mf", kManifest), C, U},
        {"no main class", with(manifest.name, "Manifest-Version: 1.0\r\n\r\n"), C, U},
        {"a main class of blanks", with(manifest.name, "Main-Class:  \t \r\n\r\n"), C, U},
        {"the main class on a last line without its end", with(manifest.name, "Main-Class: a.B"), C,
         U},
        {"a start script in front", prefixed(small, kStartScript), C, C},
        {"data descriptors", writeJar({manifest, main, {"e", ""}}, Layout::descriptors), C, C},
        {"ZIP64", zip64, C, C},
        // As python's zipfile writes them: the plain end record holds what fits in its fields.
        {"ZIP64 under a plain end record that says what fits", zip64, C, C,
         [](Jar& j) { j.put(j.end + 12, j.end - 76 - j.dir, 4), j.put(j.end + 16, j.dir, 4); }},
        {"ZIP64 directory size contradicted", zip64, D, D, [](Jar& j) { j.put(j.end + 12, 1, 4); }},
        // Its directory offset's top bit, which a reader that lost the high half would not see.
        {"ZIP64 directory offset 2^63 on", zip64, D, D, [](Jar& j) { j.bytes[j.end - 21] = 0x80; }},
        {"ZIP64 record shorter than its fields", zip64, D, D,
         [](Jar& j) { j.put(j.end - 72, 43, 8); }},
        {"more entries than a plain end record counts, in ZIP64", writeJar(many, Layout::zip64), C,
         C},
        {"more entries than a plain end record counts, modulo 65,536", writeJar(many), C, C},
        {"65,536 entries, which a plain end record counts as none", writeJar(wrapping), C, C},
        // java does not find it either: the locator's offset counts the prefix too.
        {"ZIP64 with a prefix", prefixed(zip64, "MZ"), D, D},
        {"a ZIP64 locator pointing at itself, before a plain end record", small, D, D,
         [](Jar& j) { insertLocator(j, j.end, j.end); }},
        // Read from the file, as the tail read stops short of it.
        {"ZIP64 record before the tail", farZip64(), C, C},
        {"ZIP64 record on the locator", zip64, D, D,
         [](Jar& j) { j.bytes.erase(j.bytes.begin() + j.end - 30); }},
        {"ZIP64 extra field missing", zip64, C, D, [](Jar& j) { j.put(j.central[1] + 30, 0, 2); }},
        // Only the fields whose plain ones are saturated, in their order: size, then offset.
        {"ZIP64 extra field without the inflated size", zip64, C, C,
         [](Jar& j) {
             const std::size_t extra = j.central[1] + 47;
             j.put(j.central[1] + 24, 2, 4), j.put(extra + 2, 16, 2);
             j.put(extra + 4, 2, 8), j.put(extra + 12, j.local[1], 8);
         }},
        // The sizes in the local header's own fields, and a field running past its extra's end.
        {"local extra field past its end", zip64, C, D,
         [](Jar& j) {
             j.put(j.local[1] + 18, 2, 4), j.put(j.local[1] + 22, 2, 4);
             j.put(j.local[1] + 31, 0x7075, 2), j.put(j.local[1] + 33, 17, 2);
         }},
        // Only a plain end record's count wraps; a ZIP64 record's is the whole count.
        {"a ZIP64 count of the entries modulo 65,536", writeJar(many, Layout::zip64), C, D,
         [](Jar& j) {
             j.put(j.end - 76 + 24, 70001 % 65536, 8), j.put(j.end - 76 + 32, 70001 % 65536, 8);
         }},
        {"ZIP64 count contradicted", zip64, D, D,
         [](Jar& j) { j.put(j.end + 8, 1, 2), j.put(j.end + 10, 1, 2); }},
        // A drive's read that fails: of the end record, of a ZIP64 record, of data only the pass
        // reads (the byte before the longest end records, which the look before an offer never
        // reads), of a directory record only open reads.
        {"a failed read of the end record", padded, R, R, [](Jar& j) { j.failAt = j.end; }},
        {"a failed read of a ZIP64 record", farZip64(), R, R,
         [](Jar& j) { j.failAt = j.end - 76; }},
        {"a failed read of data", padded, C, R, [](Jar& j) { j.failAt = j.bytes.size() - 65634; }},
        {"a failed read of the directory past the end's tail", farZip64(), C, R,
         [](Jar& j) { j.failAt = j.central[1] + 10; }},
    };
    for (const auto& c : cases) {
        Jar jar = c.jar;
        c.change(jar);
        EXPECT_EQ(endOf(jar), c.end) << c.what;
        for (const std::size_t workers : {1, 3})
            EXPECT_EQ(verifyOf(jar, workers), c.verify) << c.what << ", " << workers;
    }
}

// zlib without memory for its state, while set: each inflateInit2 fails as zlib's allocation would.
// The test program is linked with --wrap=inflateInit2_.
bool zlibOutOfMemory = false;
extern "C" int __real_inflateInit2_(z_streamp stream, int bits, const char* version, int size);
extern "C" int __wrap_inflateInit2_(z_streamp stream, int bits, const char* version, int size) {
    return zlibOutOfMemory ? Z_MEM_ERROR : __real_inflateInit2_(stream, bits, version, size);
}

// The jar is not at fault when zlib cannot set up, but it was not read either.
TEST(JarCheck, ZlibWithoutMemoryLeavesTheJarUnread) {
    zlibOutOfMemory = true;
    const JarVerdict verdict =
        verifyOf(writeJar({{"META-INF/MANIFEST.MF", kManifest, false}, {"a", "b"}}));
    zlibOutOfMemory = false;
    EXPECT_EQ(R, verdict);
}

// The ZIP64 field among the other headers of an extra field, the size it is asked for alone.
TEST(JarCheck, Zip64FieldAmongOtherHeaders) {
    const auto raw = []<std::size_t N>(const char(&text)[N]) { return std::string(text, N - 1); };
    const std::string z64 = raw("\1\0\10\0\7\0\0\0\0\0\0\0"), other = raw("up\3\0abc");
    const struct {
        const char* what;
        std::string extra;
        JarVerdict verdict;
    } rows[] = {
        {"after the jar tool's marker of no data", raw("\xfe\xca\0\0") + z64, C},
        {"after a header with data, before another", other + z64 + other, C},
        {"the first of two ZIP64 headers", z64 + raw("\1\0\10\0\5......."), C},
        {"a field of 7 bytes before another header", raw("\1\0\7\0\7\0\0\0\0\0\0") + other, D},
        {"no data, before another header", raw("\1\0\0\0up\10\0abcdefgh"), D},
    };
    for (const auto& r : rows) {
        std::uint64_t size = 0;
        const auto* bytes = reinterpret_cast<const unsigned char*>(r.extra.data());
        EXPECT_EQ(zip::readZip64Extra(bytes, r.extra.size(), {&size}), r.verdict) << r.what;
        if (r.verdict == C) {
            EXPECT_EQ(size, 7u) << r.what;
        }
    }
}

// A file of 2 GiB whose end record says the directory fills it: refused before any of it is read
// (java refuses a directory of over 2 GiB; the launcher could not hold one). Only the bytes the
// check looks at exist.
TEST(JarCheck, ADirectoryLargerThanJavaHoldsIsRefusedUnread) {
    constexpr std::uint64_t kSize = 0x80000000;
    struct Sparse final : ByteSource {
        Jar end;
        std::uint64_t read_ = 0;
        std::uint64_t size() override { return kSize; }
        bool read(std::uint64_t offset, void* into, std::size_t count) override {
            read_ += count;
            std::memset(into, 0, count);
            for (const auto& [at, bytes] :
                 {std::pair{std::uint64_t{0}, std::string("PK\1\2")}, {kSize - 22, end.text()}}) {
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    if (at + i >= offset && at + i - offset < count)
                        static_cast<char*>(into)[at + i - offset] = bytes[i];
                }
            }
            return true;
        }
    } source;
    source.end.add("42222442", {0x06054b50, 0, 0, 1, 1, kSize - 22, 0, 0});
    EXPECT_EQ(verifyJar(source, {}, together, 1), D);
    EXPECT_LT(source.read_, 1u << 20);
}

TEST(JarCheck, ProgressCountsCompressedDataAndCanStop) {
    const Jar jar = writeJar({{"META-INF/MANIFEST.MF", kManifest},
                              {"big.bin", std::string(9 << 20, 'z'), false},
                              {"mid.bin", std::string(3 << 20, 'm'), false},
                              {"small", "abc"}});
    const std::uint64_t total =
        (12 << 20) + (jar.local[1] - jar.data[0]) + (jar.central[0] - jar.data[3]);
    // In turn, the ring is full long before the other workers run: worker 0 never waits for them.
    // No runner, or no worker asked for: one worker.
    for (const auto& [workers, runner] : {std::pair<std::size_t, ParallelRun>{1, together},
                                          {3, together},
                                          {3, inTurn},
                                          {3, {}},
                                          {0, together}}) {
        MemorySource unwatched(jar.bytes);
        EXPECT_EQ(verifyJar(unwatched, {}, runner, workers), C) << workers;
        for (const bool stop : {false, true}) {
            MemorySource source(jar.bytes);
            std::vector<std::uint64_t> seen;
            const auto progress = [&](std::uint64_t done, std::uint64_t all) {
                seen.push_back(all == total ? done : 0);
                return !stop;
            };
            EXPECT_EQ(verifyJar(source, progress, runner, workers), stop ? JarVerdict::stopped : C);
            ASSERT_FALSE(seen.empty());
            if (stop) {
                EXPECT_EQ(seen.size(), 1u) << workers;
                continue;
            }
            // Each report says more than the one before, and the last says all: it comes after
            // the ring's, which may have said all already.
            EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end() - 1, std::less_equal<>{}) &&
                        std::is_sorted(seen.begin(), seen.end()) && seen.back() == total);
            // One worker fills the ring before it checks, then reports the ring's 8 MB as it goes.
            EXPECT_TRUE(workers != 1 || (seen.size() >= 2 && seen.front() > 0)) << seen.size();
        }
    }
}

// What one consumer sees, the entries whole, into a map shared by the workers' consumers.
struct Seen {
    std::mutex mutex;
    std::map<std::string, std::string> entries;
    std::atomic<std::size_t> handed{0};
};
// With `thrown`, one consumer throws as it begins and the others begin only after it has.
struct Collector final : EntryConsumer {
    explicit Collector(Seen& all, std::latch* thrown = nullptr, bool throws = false)
        : seen(all), thrown(thrown), throws(throws) {}
    Seen& seen;
    std::latch* thrown;
    bool throws;
    std::string name, contents;
    void begin(std::string_view entry) override {
        if (throws) thrown->count_down(), throw std::bad_alloc();
        if (thrown) thrown->wait();
        name = entry, contents.clear();
    }
    void bytes(std::span<const unsigned char> data) override {
        contents.append(data.begin(), data.end()), seen.handed += data.size();
    }
    void end() override {
        std::lock_guard lock(seen.mutex);
        EXPECT_TRUE(seen.entries.emplace(name, contents).second) << name;
    }
};

// Feeds the jar's bytes in pieces of 70,000, as a copy would.
JarFeed feedOf(const Jar& jar) {
    return [&jar, at = std::size_t{0}](std::span<unsigned char> into) mutable {
        const std::size_t n = std::min<std::size_t>(into.size(), 70000);
        std::copy_n(jar.bytes.begin() + at, n, into.begin());
        return at += n, n;
    };
}

// Each entry reaches the consumers whole and once (big.bin inflated from several of the ring's
// chunks), and the files asked for are kept. Tens of MB of zeros whose records say 1,000 bytes
// are stopped within one inflate step, none of it handed on.
TEST(JarPass, HooksSeeEachEntryWholeOnceAndKeepTheFilesAsked) {
    std::string big;
    for (unsigned long i = 0; big.size() < (3 << 20); ++i) big += std::to_string(i * 7919);
    const std::vector<Entry> entries{{"META-INF/MANIFEST.MF", kManifest},
                                     {"META-INF/APP.SF", "Signature-Version: 1.0\r\n"},
                                     {"big.bin", big},
                                     {"tarvio/C.class", big.substr(0, 300000)},
                                     {"empty", ""}};
    const Jar jar = writeJar(entries, Layout::descriptors);
    Jar bomb = writeJar({entries[0], {"zeros", std::string(32 << 20, 0)}});
    bomb.put(bomb.local[1] + 22, 1000, 4), bomb.put(bomb.central[1] + 24, 1000, 4);
    std::map<std::string, std::string> all;
    KeptFiles kept;
    for (const Entry& e : entries) all[e.name] = e.data;
    for (const Entry& e : {entries[0], entries[1]}) kept[e.name] = e.data;
    for (const auto& [checked, workers] : {std::pair{&jar, 1}, {&jar, 3}, {&bomb, 1}}) {
        Seen seen;
        JarPass pass({[&](std::size_t) { return std::make_unique<Collector>(seen); },
                      [](std::string_view name) { return name.ends_with(".SF"); }});
        MemorySource source(checked->bytes);
        ASSERT_EQ(pass.open(source), C);
        const JarVerdict verdict = pass.run(feedOf(*checked), {}, together, workers);
        if (checked == &bomb) {
            EXPECT_EQ(verdict, D);
            EXPECT_LE(seen.handed, 1000u);
            continue;
        }
        EXPECT_EQ(verdict, C);
        EXPECT_EQ(seen.entries, all) << workers;
        EXPECT_EQ(pass.kept(), kept) << workers;
        EXPECT_EQ(std::vector<unsigned char>(pass.tail().begin(), pass.tail().end()),
                  std::vector<unsigned char>(jar.bytes.begin() + jar.dir, jar.bytes.end()));
    }
    // A worker beside the feeding one that throws ends the run with its throw: the feeder, held
    // until it has, does not wait for the entry that worker left unfinished.
    std::latch thrown(1);
    Seen failing;
    JarPass pass(
        {[&](std::size_t w) { return std::make_unique<Collector>(failing, &thrown, w == 1); }, {}});
    const Jar small = writeJar({entries[0], entries[1], entries[4]});
    MemorySource source(small.bytes);
    ASSERT_EQ(pass.open(source), C);
    EXPECT_THROW(pass.run(feedOf(small), {}, together, 2), std::bad_alloc);
    // Run without an open that passed: nothing to check against, so nothing passes.
    EXPECT_EQ(JarPass(JarHooks{}).run(feedOf(small), {}, together, 1), D);
}

// The jar tool's jars, deflated (with data descriptors) and stored; and the JDK's modules,
// archives with 4 bytes in front of them and no manifest.
TEST(JarCheck, RealJars) {
    std::vector<std::pair<Jar, JarVerdict>> jars;
    for (const char* name : {"app.jar", "stored.jar"})
        jars.push_back({{fileBytes(std::filesystem::path(VELMOOR_TEST_JARS) / name)}, C});
    // The larger modules would add seconds and nothing new.
    for (const auto& module : std::filesystem::directory_iterator(VELMOOR_JDK "/jmods"))
        if (module.file_size() < (4 << 20)) jars.push_back({{fileBytes(module.path())}, U});
    ASSERT_GT(jars.size(), 50u);
    for (const auto& [jar, verdict] : jars) {
        ASSERT_GT(jar.bytes.size(), 100u);
        EXPECT_EQ(endOf(jar), C);
        EXPECT_EQ(verifyOf(jar, 2), verdict) << jar.bytes.size() << " bytes";
    }
}

}  // namespace
}  // namespace velmoor
