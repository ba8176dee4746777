#include "open_close.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "continue_signal.h"
#include "failure.h"
#include "port_table.h"

namespace pellusk {

int fillInitialSetting(termios& setting) {
    setting = termios{};
    setting.c_iflag = IGNBRK | IGNPAR;
    setting.c_cflag = CS8 | CREAD | CLOCAL;
    setting.c_cc[VMIN] = 1;
    setting.c_cc[VTIME] = 0;
    if (cfsetispeed(&setting, B9600) != 0) return kSpeedRefused;
    if (cfsetospeed(&setting, B9600) != 0) return kOutputSpeedRefused;
    return 0;
}

bool formatNumberedPath(std::string_view baseName, int slot, char (&out)[kDevicePathSize]) {
    out[0] = '\0';
    char digits[12];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, slot);
    if (error != std::errc{}) return false;
    const std::size_t digitCount = static_cast<std::size_t>(end - digits);
    // The base name ends at its first zero byte, as a C string would.
    baseName = baseName.substr(0, baseName.find('\0'));
    if (baseName.size() + digitCount >= kDevicePathSize) return false;
    std::memcpy(out, baseName.data(), baseName.size());
    std::memcpy(out + baseName.size(), digits, digitCount);
    out[baseName.size() + digitCount] = '\0';
    return true;
}

namespace {

int applyInitialSetting(int fd) {
    termios setting;
    if (int result = fillInitialSetting(setting); result != 0) return result;
    if (tcsetattr(fd, TCSANOW, &setting) != 0) return kSettingRefused;
    // Bytes that arrived before the port was ours are not the caller's.
    if (tcflush(fd, TCIFLUSH) != 0) return kInputNotFlushed;
    return 0;
}

}  // namespace

OpenResult openPort(const char* path, int slot) {
    if (slot != kLowestFreeSlot && !isSlot(slot)) return {kBadPortNumber, -1, 0};
    const int taken = slot == kLowestFreeSlot ? kNoFreeSlot : kSlotTaken;
    // Looked at before the device is opened, since a far end may see an open and a close (DTR).
    if (!slotFree(slot)) return {taken, -1, 0};
    // The slot is taken only with the descriptor in hand, so a slow or failing open() shows no
    // other open its slot taken, and no open waits for another: no lock, no claim meanwhile.
    // Close-on-exec: a child that a native library starts must not hold the line open (DTR up,
    // the far end never seeing the hang-up) after the port's close.
    const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {kFailed, -1, errno};
    // The port's wake, and the continue signal's pipe and latch (made by the first open that gets
    // here, kept for the process): a port whose waits could miss a close or a continue signal is
    // not opened at all, and the open fails with the errno, keeping nothing.
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0 || !prepareContinueLatch()) {
        const int error = errno;
        if (wake >= 0) close(wake);
        close(fd);
        return {kFailed, -1, error};
    }
    // Taken from here on, also when a setup step fails. Another thread may close it at once;
    // the close waits for this hold, so the setting is this port's.
    const PortHold hold = occupySlot(slot, fd, wake);
    if (hold.slot() < 0) {
        // Another open took the slot (or the last one) since the look above.
        close(wake);
        close(fd);
        return {taken, -1, 0};
    }
    const int setup = applyInitialSetting(hold.fd());
    if (setup == 0) installContinueHandler();
    return {setup, hold.slot(), 0};
}

int closePort(int slot) {
    return closeSlot(slot);
}

}  // namespace pellusk
