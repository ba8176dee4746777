// A file system that stands for a network drive whose server has stopped answering: its root
// answers, every name looked up below it waits for good. With --deny it stands for a folder
// that may not be read instead: lookups and listings below its root are refused at once.
// Speaks the kernel's FUSE protocol on /dev/fuse directly (root only), so it needs no FUSE
// library.
// Usage: stallfs [--deny] MOUNTPOINT
// Prints "mounted" once the mount is there and "stalled: NAME" for each lookup it holds back.
// SIGTERM detaches the mount and ends it; the lookups held back then fail.
#include <fcntl.h>
#include <linux/fuse.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t stopping = 0;

void stop(int) {
    stopping = 1;
}

void reply(int fuse, const fuse_in_header& request, int error, const void* body = nullptr,
           std::size_t size = 0) {
    fuse_out_header header{};
    header.len = static_cast<std::uint32_t>(sizeof header + size);
    header.error = -error;
    header.unique = request.unique;
    std::vector<char> message(header.len);
    std::memcpy(message.data(), &header, sizeof header);
    if (size) std::memcpy(message.data() + sizeof header, body, size);
    if (write(fuse, message.data(), message.size()) < 0) std::perror("stallfs: reply");
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
    // No SA_RESTART: the signal must interrupt the read below.
    struct sigaction action {};
    action.sa_handler = stop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::printf("mounted\n");
    std::fflush(stdout);

    std::vector<char> buffer(FUSE_MIN_READ_BUFFER + 128 * 1024);
    while (!stopping) {
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
                reply(fuse, request, 0, &out, sizeof out);
                break;
            }
            case FUSE_GETATTR: {
                fuse_attr_out out{};
                out.attr.ino = request.nodeid;
                out.attr.mode = S_IFDIR | 0755;
                out.attr.nlink = 2;
                reply(fuse, request, 0, &out, sizeof out);
                break;
            }
            case FUSE_LOOKUP:
                if (deny) {
                    reply(fuse, request, EACCES);
                    break;
                }
                // Held back: the caller waits until the mount goes.
                std::printf("stalled: %s\n", body);
                std::fflush(stdout);
                break;
            case FUSE_OPENDIR:
                reply(fuse, request, deny ? EACCES : ENOSYS);
                break;
            case FUSE_FORGET:
            case FUSE_BATCH_FORGET:
            case FUSE_INTERRUPT:
                break;  // these take no reply
            default:
                reply(fuse, request, ENOSYS);
        }
    }
    umount2(mountPoint, MNT_DETACH);
    close(fuse);
    return 0;
}
