#include "line_config.h"

#include "failure.h"
#include "port_table.h"

namespace pellusk {

const speed_t tbBitRate[kBitRates] = {B110,  B150,   B300,   B600,   B1200,   B2400,  B4800,
                                      B9600, B19200, B38400, B57600, B115200, B230400};
const tcflag_t tbDataBits[kDataBitSizes] = {CS5, CS6, CS7, CS8};
const tcflag_t tbStopBits[kStopBitSizes] = {0, CSTOPB};

namespace {

namespace parity {
constexpr int kOdd = 1, kEven = 2, kMark = 3, kSpace = 4;
}

namespace flow {
constexpr int kSoftwareBothWays = 0xC0;
constexpr int kHardware = 0x30;
constexpr int kRtsCts = 0x10 | 0x20;
constexpr int kSendXonXoff = 0x40;  // we pace the peer
constexpr int kObeyXonXoff = 0x80;  // the peer paces us
}  // namespace flow

constexpr cc_t kXon = 0x11;
constexpr cc_t kXoff = 0x13;

bool inTable(int index, int size) {
    return index >= 0 && index < size;
}

}  // namespace

int handshakeMask(int handshake) {
    switch (handshake) {
        case 1:
            return flow::kSoftwareBothWays;
        case 2:
            return flow::kHardware;
        default:
            return handshake;
    }
}

int buildLineSetting(const LineRequest& request, termios& setting) {
    setting = termios{};  // c_line and the unused control characters stay 0
    if (!inTable(request.bitRate, kBitRates)) return kSpeedRefused;
    if (!inTable(request.dataBits, kDataBitSizes) || !inTable(request.stopBits, kStopBitSizes)) {
        return kSettingRefused;
    }
    const int mask = handshakeMask(request.handshake);

    setting.c_cflag = CREAD | CLOCAL | tbDataBits[request.dataBits] | tbStopBits[request.stopBits];
    setting.c_iflag = IGNBRK | IGNPAR;
    switch (request.parity) {
        case parity::kOdd:
            setting.c_iflag = IGNBRK | INPCK;
            setting.c_cflag |= PARENB | PARODD;
            break;
        case parity::kEven:
            setting.c_iflag = IGNBRK | INPCK;
            setting.c_cflag |= PARENB;
            break;
        // CMSPAR and PARODD only shape a parity bit that PARENB has switched on; without it the
        // line would carry no parity bit at all. The fixed bit is not checked on input.
        case parity::kMark:
            setting.c_iflag = IGNBRK;
            setting.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case parity::kSpace:
            setting.c_iflag = IGNBRK;
            setting.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (mask & flow::kSendXonXoff) setting.c_iflag |= IXOFF;
    if (mask & flow::kObeyXonXoff) setting.c_iflag |= IXON;
    if (mask & flow::kRtsCts) setting.c_cflag |= CRTSCTS;
    setting.c_cc[VSTART] = kXon;
    setting.c_cc[VSTOP] = kXoff;
    setting.c_oflag = 0;
    setting.c_lflag = 0;
    setting.c_cc[VMIN] = 1;
    setting.c_cc[VTIME] = 0;

    if (cfsetispeed(&setting, tbBitRate[request.bitRate]) != 0) return kSpeedRefused;
    if (cfsetospeed(&setting, tbBitRate[request.bitRate]) != 0) return kOutputSpeedRefused;
    return 0;
}

int configurePort(int portNumber, const LineRequest& request) {
    termios setting;
    if (int result = buildLineSetting(request, setting); result != 0) return result;
    // Checked before the subtraction, which would overflow for the most negative number.
    const int slot = (portNumber >= 1 && portNumber <= kPortSlots) ? portNumber - 1 : -1;
    // A free slot, or none, holds no descriptor: tcsetattr refuses it like a closed port.
    PortHold port(slot);
    const int fd = port.fd();
    if (tcsetattr(fd, TCSANOW, &setting) != 0) return kSettingRefused;
    // A UART driver takes the record even when its clock cannot make the speed asked for, and
    // the line goes on at the old speed; only the record read back tells. Parity and character
    // size are not compared: a pseudo-terminal rewrites those by design.
    termios applied;
    if (tcgetattr(fd, &applied) != 0 || cfgetispeed(&applied) != cfgetispeed(&setting) ||
        cfgetospeed(&applied) != cfgetospeed(&setting)) {
        return kSettingRefused;
    }
    return 0;
}

}  // namespace pellusk
