#include "proc_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace pellusk {

ssize_t readProcFile(const char* path, char* buffer, std::size_t size) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    std::size_t length = 0;
    // /proc files hand out their text in several reads.
    while (length < size) {
        const ssize_t got = read(fd, buffer + length, size - length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        length += static_cast<std::size_t>(got);
    }
    close(fd);
    return static_cast<ssize_t>(length);
}

}  // namespace pellusk
