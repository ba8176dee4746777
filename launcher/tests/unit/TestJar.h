// Jars written here byte by byte, for the tests to cut, change or copy; and what the jar tests
// share: a file's bytes, the start script put in front of jars, and workers run at once.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "MemorySource.h"

namespace velmoor::testjar {

struct Entry {
    std::string name, data;
    bool deflate = true;
};

// An archive and where its parts start, for the cases to cut or change.
struct Jar {
    std::vector<unsigned char> bytes;
    std::vector<std::size_t> local = {}, data = {}, central = {};
    std::size_t dir = 0, end = 0;
    // A read that takes in this byte fails (MemorySource).
    std::uint64_t failAt = std::numeric_limits<std::uint64_t>::max();

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
    std::string text() const { return {bytes.begin(), bytes.end()}; }
};

// Raw deflate: a zlib stream without its 2-byte header and 4-byte Adler-32.
inline std::string deflated(const std::string& data) {
    std::string out(compressBound(data.size()), '\0');
    uLongf size = out.size();
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(data.data()), data.size());
    return out.substr(2, size - 6);
}

inline const std::string kManifest = "Manifest-Version: 1.0\r\nMain-Class: com.tarvio.Main\r\n\r\n";

// What a start script puts in front of a jar that runs itself.
inline const std::string kStartScript = "#!/bin/sh\nexec java -jar \"$0\" \"$@\"\n";

inline std::vector<unsigned char> fileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// A file that signed-jars.sh made (ctest runs it first and says where).
inline std::vector<unsigned char> signedFile(const std::string& name) {
    const char* folder = std::getenv("VELMOOR_SIGNED_JARS");
    return fileBytes(std::string(folder ? folder : "") + "/" + name);
}

// Worker 0, then each other in turn, as the platform runs workers whose threads would not start.
inline void inTurn(std::size_t workers, const std::function<void(std::size_t)>& task) {
    for (std::size_t w = 0; w < workers; ++w) task(w);
}

// Worker 0 on this thread and the others on threads of their own, all at once.
inline void together(std::size_t workers, const std::function<void(std::size_t)>& task) {
    std::vector<std::jthread> threads;
    for (std::size_t w = 1; w < workers; ++w) threads.emplace_back(task, w);
    task(0);
}

// zip64: every size, offset and count saturated, the values in ZIP64 fields and records;
// descriptors: CRC and sizes in a data descriptor after the data, as the jar tool writes.
enum class Layout { plain, zip64, descriptors };

// Writes the entries as a jar tool would.
inline Jar writeJar(const std::vector<Entry>& entries, Layout layout = Layout::plain,
                    const std::string& comment = "") {
    Jar jar;
    const bool zip64 = layout == Layout::zip64, later = layout == Layout::descriptors;
    const std::uint64_t big = zip64 ? 0xffffffff : 0, flags = later ? 8 : 0;
    std::vector<std::string> packed;
    std::vector<std::uint64_t> crcs;
    for (const Entry& e : entries) {
        const std::string& p = packed.emplace_back(e.deflate ? deflated(e.data) : e.data);
        const std::uint64_t crc = crcs.emplace_back(
            crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), e.data.size()));
        jar.local.push_back(jar.bytes.size());
        jar.add("4222444422", {0x04034b50, 20, flags, e.deflate ? 8u : 0u, 0, later ? 0 : crc,
                               later ? 0 : big | p.size(), later ? 0 : big | e.data.size(),
                               e.name.size(), zip64 ? 20u : 0u});
        jar.add(e.name);
        if (zip64) jar.add("2288", {1, 16, e.data.size(), p.size()});
        jar.data.push_back(jar.bytes.size());
        jar.add(p);
        if (later) jar.add("4444", {0x08074b50, crc, p.size(), e.data.size()});
    }
    jar.dir = jar.bytes.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        jar.central.push_back(jar.bytes.size());
        jar.add("4222244442222244", {0x02014b50, 20, 20, flags, e.deflate ? 8u : 0u, 0, crcs[i],
                                     big | packed[i].size(), big | e.data.size(), e.name.size(),
                                     zip64 ? 28u : 0u, 0, 0, 0, 0, big | jar.local[i]});
        jar.add(e.name);
        if (zip64) jar.add("22888", {1, 24, e.data.size(), packed[i].size(), jar.local[i]});
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

// The jar with bytes in front of it, as a start script or a program stub puts them.
inline Jar prefixed(Jar jar, const std::string& prefix) {
    jar.bytes.insert(jar.bytes.begin(), prefix.begin(), prefix.end());
    for (auto* parts : {&jar.local, &jar.data, &jar.central})
        for (std::size_t& at : *parts) at += prefix.size();
    jar.dir += prefix.size(), jar.end += prefix.size();
    return jar;
}

}  // namespace velmoor::testjar
