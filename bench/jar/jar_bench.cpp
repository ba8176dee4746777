// The launcher's jar check against a plain read of the same file through a buffer of the same
// size, in one run, so that the ratio does not depend on the disk or the page cache of the day.
// The check runs on one worker and on as many as the machine has cores.
// Usage: jar_bench JAR [runs]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "core/JarCheck.h"

namespace {

using velmoor::ByteSource;
using velmoor::JarVerdict;

// The same buffer size as the check's own reads.
constexpr std::size_t kBufferSize = 256 * 1024;

class FileSource final : public ByteSource {
  public:
    explicit FileSource(int fd) : fd_(fd) {}
    std::uint64_t size() override { return static_cast<std::uint64_t>(lseek(fd_, 0, SEEK_END)); }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        auto* at = static_cast<char*>(into);
        while (count > 0) {
            const ssize_t got = pread(fd_, at, count, static_cast<off_t>(offset));
            if (got <= 0) return false;
            at += got, offset += static_cast<std::uint64_t>(got),
                count -= static_cast<std::size_t>(got);
        }
        return true;
    }

  private:
    int fd_;
};

std::uint64_t plainRead(int fd) {
    std::vector<char> buffer(kBufferSize);
    std::uint64_t total = 0;
    ssize_t got;
    while ((got = pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(total))) > 0)
        total += static_cast<std::uint64_t>(got);
    return total;
}

// Worker 0 on the calling thread, as the launcher's own runner does.
void runOnThreads(std::size_t workers, const std::function<void(std::size_t)>& task) {
    std::vector<std::thread> threads;
    for (std::size_t w = 1; w < workers; ++w) threads.emplace_back(task, w);
    task(0);
    for (std::thread& thread : threads) thread.join();
}

// The best of `runs` timings of each work, in seconds: the least disturbed by the other work on
// the machine. The works take turns, so that a busy spell on the machine slows all of them.
std::vector<double> bestOf(int runs, std::initializer_list<std::function<void()>> works) {
    std::vector<double> best(works.size(), 1e30);
    for (int i = 0; i < runs; ++i) {
        for (std::size_t w = 0; w < works.size(); ++w) {
            const auto start = std::chrono::steady_clock::now();
            works.begin()[w]();
            best[w] = std::min(
                best[w],
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s JAR [runs]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    FileSource jar(fd);
    const double megabytes = static_cast<double>(jar.size()) / (1 << 20);
    plainRead(fd);  // warms the page cache, so both timings read from memory
    const std::size_t cores = std::max(2u, std::thread::hardware_concurrency());
    JarVerdict verdict = JarVerdict::complete, parallel = verdict, end = verdict;
    const std::vector<double> best =
        bestOf(runs, {[&] { plainRead(fd); }, [&] { verdict = velmoor::verifyJar(jar); },
                      [&] { parallel = velmoor::verifyJar(jar, {}, runOnThreads, cores); },
                      [&] { end = velmoor::checkJarEnd(jar); }});
    const double read = best[0], verify = best[1], spread = best[2], check = best[3];
    if (verdict != JarVerdict::complete || parallel != verdict || end != verdict) {
        std::fprintf(stderr, "%s: not a complete jar (%d, %d, %d)\n", argv[1],
                     static_cast<int>(end), static_cast<int>(verdict), static_cast<int>(parallel));
        return 1;
    }
    std::printf("jar %.1f MB, best of %d\n", megabytes, runs);
    std::printf("  plain read      %8.0f MB/s\n", megabytes / read);
    std::printf("  verifyJar 1     %8.0f MB/s   verify/plain read %.2f\n", megabytes / verify,
                read / verify);
    std::printf("  verifyJar %-2zu    %8.0f MB/s   verify/plain read %.2f\n", cores,
                megabytes / spread, read / spread);
    std::printf("  checkJarEnd     %8.2f ms\n", check * 1000);
    close(fd);
    return 0;
}
