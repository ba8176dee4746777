// Suspending and resuming the PCMCIA card in a card slot through the card-services driver, and
// the resume flag that tells Java whether the process was continued after a stop.
#pragma once

#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cstdint>

#include "port_table.h"

namespace pellusk {

// Card slots are the driver's sockets 0..8; they have nothing to do with the port table.
inline constexpr int kLastCardSlot = 8;

// The card-services status record.
struct cs_status_t {
    std::uint8_t Function;  // the socket asked about
    std::uint32_t CardState;
    std::uint32_t SocketState;
};
static_assert(sizeof(cs_status_t) == 12, "the driver expects a 12-byte status record");

inline constexpr unsigned long DS_SUSPEND_CARD = _IO('d', 12);
inline constexpr unsigned long DS_RESUME_CARD = _IO('d', 13);
inline constexpr unsigned long DS_GET_STATUS = _IOWR('d', 9, cs_status_t);
static_assert(DS_SUSPEND_CARD == 0x640C && DS_RESUME_CARD == 0x640D && DS_GET_STATUS == 0xC00C6409);
inline constexpr std::uint32_t CS_EVENT_PM_SUSPEND = 0x2000;

// The socket's device node: a character device only its owner may open.
inline constexpr mode_t kNodeMode = S_IFCHR | S_IRUSR | S_IWUSR;
static_assert(kNodeMode == 0x2180);
inline constexpr std::size_t kNodeNameSize = 64;

// Where a node may be made, most fitting first.
inline constexpr const char* paths[] = {"/var/lib/pcmcia", "/var/run", "/dev", "/tmp"};

// The card-services major number found by the last lookup, carried from the lookup to the node;
// -1 before the first. Written only under the card slot lookup's lock.
extern int major;

// The major number of the driver `name` in /proc/devices; minus errno when the file cannot be
// opened; -19 (minus ENODEV) when the driver is not listed.
int lookup_dev(const char* name);

// A read-only descriptor on the device (major, slot), from the first directory of `paths` in
// which a node can be made and opened; -1 when none gave one. The node is removed right after
// each open attempt, so none outlives the call.
int open_sock(int slot);

// A descriptor on the card slot's control device, or kInvalidCardSlot, kNoCardDriver or
// kNoCardSocket.
int lookUpCardSlot(int cardSlot);

// Suspends (mode 0) or resumes (mode 1) the card, on its descriptor, which it closes: 0, or
// kCardRequest when the driver did not.
int setCardPower(int fd, int mode);
// The card's power on its descriptor, which it closes: 1 powered, 0 suspended, kCardRequest the
// status request failed.
int cardPowered(int fd, int cardSlot);

}  // namespace pellusk
