// The launcher's jar check against a plain read of the same file through a buffer of the same
// size, in one run, so that the ratio does not depend on the disk or the page cache of the day.
// The check runs on one worker and on as many as the machine has cores, and also with every
// entry digested and the signatures read, as for a signed install. With --copy, also the
// update's copy as the launcher makes it (the jar checked as it comes in) from a reader throttled
// to a slow share's pace, against a plain copy from the same reader, over an install of the same
// jar, whose own signature, when it has one, is read from the local disk beside the copy.
// Usage: jar_bench JAR [runs] [--copy]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/JarCheck.h"
#include "core/PlatformError.h"
#include "core/UpdateCopy.h"
#include "core/signature/PublisherRule.h"
#include "tests/unit/OpenSslCrypto.h"

namespace {

using velmoor::ByteSource;
using velmoor::JarVerdict;

// The same buffer size as the check's own reads.
constexpr std::size_t kBufferSize = 256 * 1024;
// A share that gives 20 MB/s, a good office network's.
constexpr double kSharePace = 20e6;

// Positional reads of a file, paced, when a pace is given, as one slow line paces all its reads;
// a paced one owns its descriptor.
class FileSource final : public ByteSource {
  public:
    explicit FileSource(int fd, std::function<void(std::size_t)> pace = {})
        : fd_(fd), pace_(std::move(pace)) {}
    ~FileSource() override {
        if (pace_) close(fd_);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    std::uint64_t size() override { return static_cast<std::uint64_t>(lseek(fd_, 0, SEEK_END)); }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        if (pace_) pace_(count);
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
    std::function<void(std::size_t)> pace_;
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

// Waits as long as `bytes` take on a line of kSharePace, after the bytes read before them.
class Pace {
  public:
    void operator()(std::size_t bytes) {
        std::chrono::steady_clock::time_point done;
        {
            const std::lock_guard lock(mutex_);
            next_ = std::max(next_, std::chrono::steady_clock::now()) +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(bytes) / kSharePace));
            done = next_;
        }
        std::this_thread::sleep_until(done);
    }

  private:
    std::mutex mutex_;
    std::chrono::steady_clock::time_point next_;
};

std::string narrow(const std::wstring& path) {
    return {path.begin(), path.end()};
}

// The services an update's copy uses, on POSIX files, reading through the pace; the others
// are never called.
class CopyServices final : public velmoor::Services {
  public:
    CopyServices(Pace& pace, std::size_t workers) : pace_(pace), workers_(workers) {}
    // The installed jar is on the local disk: its reads are not paced.
    std::unique_ptr<ByteSource> openBytes(const std::wstring& path) override {
        const int fd = open(narrow(path).c_str(), O_RDONLY);
        if (fd < 0) throw velmoor::PlatformError(2, L"not found");
        if (path.ends_with(L".installed")) return std::make_unique<FileSource>(fd, [](auto) {});
        return std::make_unique<FileSource>(fd, [this](std::size_t n) { pace_(n); });
    }
    velmoor::ParallelWork parallelWork() override { return {runOnThreads, workers_}; }
    velmoor::CryptoService& crypto() override { return crypto_; }
    std::unique_ptr<velmoor::FileCopy> startCopy(const std::wstring& source,
                                                 const std::wstring& target) override {
        return std::make_unique<Copy>(
            pace_, open(narrow(source).c_str(), O_RDONLY),
            open(narrow(target).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    }
    void moveReplacing(const std::wstring& source, const std::wstring& target) override {
        rename(narrow(source).c_str(), narrow(target).c_str());
    }
    void removeFile(const std::wstring& path) noexcept override { unlink(narrow(path).c_str()); }
    void linkOrCopy(const std::wstring& existing, const std::wstring& target) override {
        link(narrow(existing).c_str(), narrow(target).c_str());
    }
    void writeFileReplacing(const std::wstring&, std::string_view) override {}
    std::optional<std::uint64_t> fileSize(const std::wstring&) override { return {}; }

    std::wstring applicationDirectory() override { return {}; }
    void setCurrentDirectory(const std::wstring&) override {}
    void listDirectory(const std::wstring&,
                       const std::function<bool(const velmoor::DirEntry&)>&) override {}
    void showMessage(const std::wstring&) override {}
    bool askYesNo(const std::wstring&) override { return false; }
    std::optional<std::int64_t> lastModified(const std::wstring&) override { return {}; }
    velmoor::TextFile readTextFile(const std::wstring&, std::size_t) override { return {}; }
    bool canCreateFile(const std::wstring&) override { return true; }
    void removeLeftover(const std::wstring&) override {}
    void setHidden(const std::wstring&, bool) override {}
    bool canReplace(const std::wstring&) override { return true; }
    bool fitsJavaCommandLine(std::wstring_view) override { return true; }
    std::optional<std::wstring> shortPath(const std::wstring&) override { return {}; }
    std::unique_ptr<velmoor::StartedProcess> startHidden(const std::wstring&,
                                                         const std::wstring&) override {
        return nullptr;
    }

    // A sequential copy, read through the pace.
    struct Copy final : velmoor::FileCopy {
        Copy(Pace& pace, int from, int to) : pace(pace), from(from), to(to) {}
        ~Copy() override { close(from), close(to); }
        Pace& pace;
        int from, to;
        std::uint64_t size() override {
            struct stat status {};
            fstat(from, &status);
            return static_cast<std::uint64_t>(status.st_size);
        }
        std::size_t read(void* into, std::size_t count) override {
            pace(count);
            const ssize_t got = ::read(from, into, count);
            return got > 0 ? static_cast<std::size_t>(got) : 0;
        }
        void write(const void* bytes, std::size_t count) override {
            if (::write(to, bytes, count) != static_cast<ssize_t>(count)) std::abort();
        }
        void finish() override {}
    };

  private:
    Pace& pace_;
    std::size_t workers_;
    velmoor::OpenSslCrypto crypto_;
};

// A plain copy through the same pace: 1 MiB reads, as the update's copy makes them.
void plainCopy(Pace& pace, const char* source, const char* target) {
    CopyServices::Copy copy(pace, open(source, O_RDONLY),
                            open(target, O_WRONLY | O_CREAT | O_TRUNC, 0644));
    std::vector<char> buffer(velmoor::JarPass::kChunkBytes);
    while (const std::size_t got = copy.read(buffer.data(), buffer.size()))
        copy.write(buffer.data(), got);
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

// The pass with the signatures' hooks, then the signatures read: the number of signers found.
std::size_t checkSigned(ByteSource& jar, const velmoor::ParallelRun& run, std::size_t workers,
                        JarVerdict& verdict) {
    velmoor::OpenSslCrypto crypto;
    velmoor::JarDigests digests(crypto);
    velmoor::JarPass pass(digests.hooks());
    verdict = velmoor::verifyJar(jar, pass, {}, run, workers);
    return velmoor::readSignatures(digests, pass.kept()).signers.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s JAR [runs] [--copy]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const bool copying = argc > 3 && std::strcmp(argv[3], "--copy") == 0;
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
    JarVerdict signedOne = verdict, signedSpread = verdict;
    std::size_t signers = 0;
    const std::vector<double> best =
        bestOf(runs, {[&] { plainRead(fd); }, [&] { verdict = velmoor::verifyJar(jar); },
                      [&] { parallel = velmoor::verifyJar(jar, {}, runOnThreads, cores); },
                      [&] { end = velmoor::checkJarEnd(jar); },
                      [&] { checkSigned(jar, {}, 1, signedOne); },
                      [&] { signers = checkSigned(jar, runOnThreads, cores, signedSpread); }});
    const double read = best[0], verify = best[1], spread = best[2], check = best[3];
    if (verdict != JarVerdict::complete || parallel != verdict || end != verdict ||
        signedOne != verdict || signedSpread != verdict) {
        std::fprintf(stderr, "%s: not a complete jar (%d, %d, %d, %d, %d)\n", argv[1],
                     static_cast<int>(end), static_cast<int>(verdict), static_cast<int>(parallel),
                     static_cast<int>(signedOne), static_cast<int>(signedSpread));
        return 1;
    }
    std::printf("jar %.1f MB, %zu signer(s), best of %d\n", megabytes, signers, runs);
    std::printf("  plain read      %8.0f MB/s\n", megabytes / read);
    std::printf("  verifyJar 1     %8.0f MB/s   verify/plain read %.2f\n", megabytes / verify,
                read / verify);
    std::printf("  verifyJar %-2zu    %8.0f MB/s   verify/plain read %.2f\n", cores,
                megabytes / spread, read / spread);
    std::printf("  + signatures 1  %8.0f MB/s   verify/plain read %.2f   %.2f s\n",
                megabytes / best[4], read / best[4], best[4]);
    std::printf("  + signatures %-2zu %8.0f MB/s   verify/plain read %.2f   %.2f s\n", cores,
                megabytes / best[5], read / best[5], best[5]);
    std::printf("  checkJarEnd     %8.2f ms\n", check * 1000);
    close(fd);
    if (!copying) return 0;

    // The update's copy and a plain one, from the same paced reader, into files beside the jar.
    const std::string copied = std::string(argv[1]) + ".copy",
                      installed = std::string(argv[1]) + ".installed";
    Pace pace;
    CopyServices services(pace, std::min<std::size_t>(cores, 4));
    plainCopy(pace, argv[1], installed.c_str());
    velmoor::CopyReport report;
    const std::vector<double> copies = bestOf(
        runs, {[&] { plainCopy(pace, argv[1], copied.c_str()); },
               [&] {
                   velmoor::UpdateCopyRun run(std::wstring(argv[1], argv[1] + std::strlen(argv[1])),
                                              std::wstring(installed.begin(), installed.end()));
                   run.run(services);
                   run.poll(0);
                   report = run.conclude(services);
               }});
    unlink(copied.c_str()), unlink(installed.c_str());
    if (report.end != velmoor::CopyReport::verified) {
        std::fprintf(stderr, "%s: the update's copy was not verified (%d)\n", argv[1], report.end);
        return 1;
    }
    std::printf("  from a share of %.0f MB/s:\n", kSharePace / 1e6);
    std::printf("  plain copy      %8.2f s\n", copies[0]);
    std::printf("  copy and check  %8.2f s      copy and check/plain copy %.3f\n", copies[1],
                copies[1] / copies[0]);
    return 0;
}
