// slowdrive: serves a folder read-only through FUSE the way a poor network share does, for the
// launcher's demonstration and its Wine scenarios, which map the update folder onto it.
//
//   slowdrive [--rate=BYTES_PER_S] [--truncate=NAME:LENGTH] [--stall=NAME:OFFSET]
//             [--flip=NAME:OFFSET] SOURCE MOUNTPOINT [fuse options]
//
// --rate       paces all reads together at that many bytes a second, as a slow line does;
// --truncate   makes NAME end after its first LENGTH bytes, as a publisher still copying it;
// --stall      holds every read of NAME that takes in the byte at OFFSET until SIGUSR1 (or for
//              ever), as a server that has gone mid-copy, while the rest of the file (the end
//              records of a jar) stays readable; it prints "stalled NAME" on the first;
// --flip       inverts the byte of NAME at OFFSET, as a damaged transfer.
// It prints "ready" once the kernel has mounted it. Kill it with SIGKILL to end everything at
// once: a held read then fails instead of hanging its reader, and `umount -l` frees the folder.
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Shaping {
    off_t truncateAt = -1, stallAt = -1, flipAt = -1;
};

std::string source;
double rate = 0;                          // bytes a second, 0: as fast as the disk
std::map<std::string, Shaping> shapings;  // by path below the mount, "/NAME"
std::mutex paceLock;
Clock::time_point nextFree;
// Held reads wait for this pipe to close: SIGUSR1 closes it, which wakes them all at once.
int releasePipe[2];
std::once_flag stallReported;

void resume(int) {
    ::close(releasePipe[1]);
}

const Shaping* shapingOf(const char* path) {
    const auto found = shapings.find(path);
    return found == shapings.end() ? nullptr : &found->second;
}

std::string real(const char* path) {
    return source + path;
}

int getattr(const char* path, struct stat* st, fuse_file_info*) {
    if (::lstat(real(path).c_str(), st) != 0) return -errno;
    st->st_mode &= ~(S_IWUSR | S_IWGRP | S_IWOTH);
    const Shaping* shaping = shapingOf(path);
    if (shaping && shaping->truncateAt >= 0 && st->st_size > shaping->truncateAt)
        st->st_size = shaping->truncateAt;
    return 0;
}

int readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
    DIR* dir = ::opendir(real(path).c_str());
    if (!dir) return -errno;
    while (const dirent* entry = ::readdir(dir))
        fill(buffer, entry->d_name, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    ::closedir(dir);
    return 0;
}

int open(const char* path, fuse_file_info* info) {
    if ((info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    const int fd = ::open(real(path).c_str(), O_RDONLY);
    if (fd < 0) return -errno;
    info->fh = static_cast<uint64_t>(fd);
    // Reads bypass the kernel's page cache, as a network drive's do: a held read then locks no
    // cached page, and another open of the file (Wine's server opens files for its clients)
    // does not wait for it while the kernel drops the file's cached pages.
    info->direct_io = 1;
    return 0;
}

// Every read waits for its turn on the one slow line, then for as long as its bytes take.
void pace(size_t bytes) {
    if (rate <= 0) return;
    Clock::time_point done;
    {
        const std::lock_guard lock(paceLock);
        nextFree = std::max(nextFree, Clock::now()) +
                   std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double>(static_cast<double>(bytes) / rate));
        done = nextFree;
    }
    std::this_thread::sleep_until(done);
}

int read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* info) {
    const Shaping* shaping = shapingOf(path);
    if (shaping && shaping->truncateAt >= 0) {
        if (offset >= shaping->truncateAt) return 0;
        size = std::min<size_t>(size, static_cast<size_t>(shaping->truncateAt - offset));
    }
    // The read is held whole: a short answer would read as the end of the file.
    if (shaping && shaping->stallAt >= offset &&
        shaping->stallAt < offset + static_cast<off_t>(size)) {
        std::call_once(stallReported, [&] { std::printf("stalled %s\n", path + 1); });
        std::fflush(stdout);
        pollfd wait{releasePipe[0], POLLIN, 0};
        while (::poll(&wait, 1, -1) < 0 && errno == EINTR) {
        }
    }
    const ssize_t got = ::pread(static_cast<int>(info->fh), buffer, size, offset);
    if (got < 0) return -errno;
    if (shaping && shaping->flipAt >= offset && shaping->flipAt < offset + got)
        buffer[shaping->flipAt - offset] = static_cast<char>(~buffer[shaping->flipAt - offset]);
    pace(static_cast<size_t>(got));
    return static_cast<int>(got);
}

int release(const char*, fuse_file_info* info) {
    return ::close(static_cast<int>(info->fh));
}

void* init(fuse_conn_info*, fuse_config* config) {
    // Each open reads the file afresh, so that a second launch sees the drive as it is now.
    config->kernel_cache = 0;
    config->attr_timeout = config->entry_timeout = 0;
    std::printf("ready\n");
    std::fflush(stdout);
    return nullptr;
}

// NAME:NUMBER of the option given, into the shaping field given.
bool shapingOption(const char* arg, const char* prefix, off_t Shaping::*field) {
    const size_t length = std::strlen(prefix);
    if (std::strncmp(arg, prefix, length) != 0) return false;
    const char* value = arg + length;
    const char* colon = std::strrchr(value, ':');
    if (!colon) {
        std::fprintf(stderr, "slowdrive: %s needs NAME:NUMBER\n", prefix);
        std::exit(2);
    }
    shapings["/" + std::string(value, colon)].*field = std::strtoll(colon + 1, nullptr, 10);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> fuseArgs{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, "--rate=", 7) == 0) {
            rate = std::strtod(arg + 7, nullptr);
        } else if (!shapingOption(arg, "--truncate=", &Shaping::truncateAt) &&
                   !shapingOption(arg, "--stall=", &Shaping::stallAt) &&
                   !shapingOption(arg, "--flip=", &Shaping::flipAt)) {
            if (source.empty() && arg[0] != '-') {
                char* absolute = ::realpath(arg, nullptr);
                if (!absolute) {
                    std::perror(arg);
                    return 2;
                }
                source = absolute;
                std::free(absolute);
            } else {
                fuseArgs.push_back(argv[i]);
            }
        }
    }
    if (source.empty() || ::pipe(releasePipe) != 0) {
        std::fprintf(stderr, "usage: slowdrive [shaping options] SOURCE MOUNTPOINT\n");
        return 2;
    }
    ::signal(SIGUSR1, resume);
    fuse_operations operations{};
    operations.getattr = getattr;
    operations.readdir = readdir;
    operations.open = open;
    operations.read = read;
    operations.release = release;
    operations.init = init;
    return fuse_main(static_cast<int>(fuseArgs.size()), fuseArgs.data(), &operations, nullptr);
}
