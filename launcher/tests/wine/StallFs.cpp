// A file system that stands for a network drive whose server has stopped answering: its root
// answers, every name looked up below it waits 5 s and then fails, as a network lookup finally
// does (so a launcher that waits for it still ends, late). On SIGUSR1 the server comes back:
// the lookups held back and all later ones are answered from an update folder that publishes
// a newer jar, Kelvanor\DevKit\lastest update\Tarvio.jar of 2024. With --deny it stands for a
// folder that may not be read instead: lookups and listings below its root are refused at
// once. Speaks the kernel's FUSE protocol on /dev/fuse directly (root only), so it needs no
// FUSE library.
// Usage: stallfs [--deny] MOUNTPOINT
// Prints "mounted" once the mount is there, "stalled: NAME" for each lookup it holds back,
// "failed: NAME" for each it gives up on and "answered: NAME" for each name it finds once
// answering. SIGTERM detaches the mount and ends it; the lookups still held back then fail.
#include <fcntl.h>
#include <linux/fuse.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kHoldLimit = std::chrono::seconds(5);

volatile sig_atomic_t stopping = 0;
volatile sig_atomic_t answering = 0;

void stop(int) {
    stopping = 1;
}

void answer(int) {
    answering = 1;
}

// The published update folder; a node's id is its index + 1, the root first.
struct Node {
    std::uint64_t parent;
    const char* name;
    bool directory;
};
constexpr Node kTree[] = {{0, "", true},
                          {1, "Kelvanor", true},
                          {2, "DevKit", true},
                          {3, "lastest update", true},
                          {4, "Tarvio.jar", false}};
constexpr std::uint64_t kPublished = 1704067200;  // 2024-01-01

fuse_attr attributes(std::uint64_t node) {
    fuse_attr attr{};
    attr.ino = node;
    const bool directory = node == FUSE_ROOT_ID || kTree[node - 1].directory;
    attr.mode = directory ? S_IFDIR | 0755 : S_IFREG | 0644;
    attr.nlink = directory ? 2 : 1;
    attr.size = directory ? 0 : 14;
    attr.mtime = attr.ctime = attr.atime = kPublished;
    return attr;
}

void reply(int fuse, std::uint64_t unique, int error, const void* body = nullptr,
           std::size_t size = 0) {
    fuse_out_header header{};
    header.len = static_cast<std::uint32_t>(sizeof header + size);
    header.error = -error;
    header.unique = unique;
    std::vector<char> message(header.len);
    std::memcpy(message.data(), &header, sizeof header);
    if (size) std::memcpy(message.data() + sizeof header, body, size);
    if (write(fuse, message.data(), message.size()) < 0) std::perror("stallfs: reply");
}

struct Lookup {
    std::uint64_t unique;
    std::uint64_t parent;
    std::string name;
    Clock::time_point held;
};

void answerLookup(int fuse, const Lookup& lookup) {
    for (std::uint64_t node = 2; node <= std::size(kTree); ++node) {
        if (kTree[node - 1].parent != lookup.parent || lookup.name != kTree[node - 1].name) {
            continue;
        }
        fuse_entry_out entry{};
        entry.nodeid = node;
        entry.attr = attributes(node);
        reply(fuse, lookup.unique, 0, &entry, sizeof entry);
        std::printf("answered: %s\n", lookup.name.c_str());
        std::fflush(stdout);
        return;
    }
    reply(fuse, lookup.unique, ENOENT);
}

}  // namespace

int main(int argc, char** argv) {
    const bool deny = argc == 3 && std::strcmp(argv[1], "--deny") == 0;
    if (argc != 2 && !deny) {
        std::fprintf(stderr, "usage: stallfs [--deny] MOUNTPOINT\n");
        return 2;
    }
    const char* mountPoint = argv[argc - 1];
    const int fuse = open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) {
        std::perror("stallfs: /dev/fuse");
        return 1;
    }
    const std::string options =
        "fd=" + std::to_string(fuse) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
    if (mount("stallfs", mountPoint, "fuse.stallfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        std::perror("stallfs: mount");
        return 1;
    }
    // The signals are let in only while waiting for a request, so none goes unseen between the
    // check of the flags and the wait.
    struct sigaction action {};
    action.sa_handler = stop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = answer;
    sigaction(SIGUSR1, &action, nullptr);
    sigset_t signals, waiting;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    sigprocmask(SIG_BLOCK, &signals, &waiting);
    std::printf("mounted\n");
    std::fflush(stdout);

    std::vector<Lookup> held;
    std::vector<char> buffer(FUSE_MIN_READ_BUFFER + 128 * 1024);
    while (!stopping) {
        if (answering) {
            for (const Lookup& lookup : held) answerLookup(fuse, lookup);
            held.clear();
        }
        while (!held.empty() && Clock::now() - held.front().held >= kHoldLimit) {
            reply(fuse, held.front().unique, EIO);
            std::printf("failed: %s\n", held.front().name.c_str());
            std::fflush(stdout);
            held.erase(held.begin());
        }
        timespec wait{};
        if (!held.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                held.front().held + kHoldLimit - Clock::now());
            wait.tv_sec = static_cast<time_t>(left.count() / 1000000000);
            wait.tv_nsec = static_cast<long>(left.count() % 1000000000);
        }
        pollfd readable{fuse, POLLIN, 0};
        if (ppoll(&readable, 1, held.empty() ? nullptr : &wait, &waiting) <= 0) continue;
        const ssize_t length = read(fuse, buffer.data(), buffer.size());
        if (length < static_cast<ssize_t>(sizeof(fuse_in_header))) {
            if (length < 0 && (errno == EINTR || errno == ENOENT)) continue;
            break;  // the mount has gone
        }
        fuse_in_header request;
        std::memcpy(&request, buffer.data(), sizeof request);
        const char* body = buffer.data() + sizeof request;
        switch (request.opcode) {
            case FUSE_INIT: {
                fuse_init_in in;
                std::memcpy(&in, body, sizeof in);
                fuse_init_out out{};
                out.major = FUSE_KERNEL_VERSION;
                out.minor =
                    in.minor < FUSE_KERNEL_MINOR_VERSION ? in.minor : FUSE_KERNEL_MINOR_VERSION;
                out.max_write = 4096;
                reply(fuse, request.unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_GETATTR: {
                fuse_attr_out out{};
                out.attr = attributes(request.nodeid);
                reply(fuse, request.unique, 0, &out, sizeof out);
                break;
            }
            case FUSE_LOOKUP: {
                const Lookup lookup{request.unique, request.nodeid, body, Clock::now()};
                if (deny) {
                    reply(fuse, request.unique, EACCES);
                } else if (answering) {
                    answerLookup(fuse, lookup);
                } else {
                    // Held back: the caller waits until the server comes back or the mount goes.
                    held.push_back(lookup);
                    std::printf("stalled: %s\n", body);
                    std::fflush(stdout);
                }
                break;
            }
            case FUSE_OPENDIR:
                reply(fuse, request.unique, deny ? EACCES : ENOSYS);
                break;
            case FUSE_FORGET:
            case FUSE_BATCH_FORGET:
            case FUSE_INTERRUPT:
                break;  // these take no reply
            default:
                reply(fuse, request.unique, ENOSYS);
        }
    }
    umount2(mountPoint, MNT_DETACH);
    close(fuse);
    return 0;
}
