#include "card_power.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "failure.h"
#include "proc_devices.h"
#include "proc_file.h"

namespace pellusk {

int major = -1;

namespace {

// /proc/devices lists a few dozen drivers; the character devices, which are searched, come
// first and take a few hundred bytes.
constexpr std::size_t kDevicesTextSize = 16 * 1024;

// The node name carries only the process id, so two lookups of one process must not make,
// open and remove nodes at the same time: each would remove or block the other's node.
pthread_mutex_t cardLookupMutex = PTHREAD_MUTEX_INITIALIZER;

class CardLookupLock {
  public:
    CardLookupLock() { pthread_mutex_lock(&cardLookupMutex); }
    ~CardLookupLock() { pthread_mutex_unlock(&cardLookupMutex); }
    CardLookupLock(const CardLookupLock&) = delete;
    CardLookupLock& operator=(const CardLookupLock&) = delete;
};

// Whatever stood at the node's name when it was opened must be the device just made; a file
// put there by someone else between mknod and open is not the card.
bool isTheNode(int fd, dev_t device) {
    struct stat opened;
    return fstat(fd, &opened) == 0 && S_ISCHR(opened.st_mode) && opened.st_rdev == device;
}

}  // namespace

int lookUpCardSlot(int cardSlot) {
    if (cardSlot < 0 || cardSlot > kLastCardSlot) return kInvalidCardSlot;
    CardLookupLock lock;
    major = lookup_dev("pcmcia");
    if (major < 0) return kNoCardDriver;
    const int fd = open_sock(cardSlot);
    return fd < 0 ? kNoCardSocket : fd;
}

int lookup_dev(const char* name) {
    char text[kDevicesTextSize];
    const ssize_t length = readProcFile("/proc/devices", text, sizeof text);
    if (length < 0) return static_cast<int>(length);
    return findMajor(std::string_view(text, static_cast<std::size_t>(length)), name);
}

int open_sock(int slot) {
    // The classic encoding, major x 256 + slot: makedev gives exactly that for every major the
    // kernel hands out (below 4096) and a slot below 256.
    const dev_t device = makedev(static_cast<unsigned>(major), static_cast<unsigned>(slot));
    char node[kNodeNameSize];
    for (const char* dir : paths) {
        const int length = std::snprintf(node, sizeof node, "%s/cc-%d", dir, getpid());
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof node) continue;
        // A name that exists already is not ours: it is neither opened nor removed.
        if (mknod(node, kNodeMode, device) != 0) continue;
        int fd = open(node, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        const int openError = errno;
        unlink(node);
        if (fd >= 0) {
            if (isTheNode(fd, device)) return fd;
            close(fd);
            continue;
        }
        // The driver has no such socket: no other directory can change that.
        if (openError == ENODEV) return -1;
    }
    return -1;
}

int setCardPower(int fd, int mode) {
    const int result = ioctl(fd, mode == 0 ? DS_SUSPEND_CARD : DS_RESUME_CARD);
    close(fd);
    return result != -1 ? 0 : kCardRequest;
}

int cardPowered(int fd, int cardSlot) {
    cs_status_t status = {};
    status.Function = static_cast<std::uint8_t>(cardSlot);
    const int result = ioctl(fd, DS_GET_STATUS, &status);
    close(fd);
    if (result != 0) return kCardRequest;
    return (status.CardState & CS_EVENT_PM_SUSPEND) != 0 ? 0 : 1;
}

}  // namespace pellusk
