// SerConfigure on a driver that takes a record but keeps its old speed, as the 8250 driver
// does with a speed that the UART's clock cannot make. A pseudo-terminal applies every speed,
// so this program wraps tcsetattr at link time (-Wl,--wrap=tcsetattr) to play that driver on
// a pty: speeds above 115200 bit/s are replaced by the line's current one.
#include <gtest/gtest.h>
#include <termios.h>

#include "line_config.h"
#include "open_close.h"
#include "port_table.h"
#include "pty.h"

extern "C" int __real_tcsetattr(int fd, int when, const termios* setting);

extern "C" int __wrap_tcsetattr(int fd, int when, const termios* setting) {
    termios applied = *setting;
    termios now;
    if (cfgetospeed(setting) > B115200 && tcgetattr(fd, &now) == 0) {
        cfsetispeed(&applied, cfgetispeed(&now));
        cfsetospeed(&applied, cfgetospeed(&now));
    }
    return __real_tcsetattr(fd, when, &applied);
}

namespace pellusk {
namespace {

constexpr LineRequest k115200_8N1{11, 3, 0, 0, 0};
constexpr LineRequest k230400_7E2{12, 2, 1, 2, 0};

speed_t speedNow(int slot) {
    termios t{};
    EXPECT_EQ(0, tcgetattr(portDescriptor(slot), &t));
    EXPECT_EQ(cfgetispeed(&t), cfgetospeed(&t));
    return cfgetospeed(&t);
}

TEST(KeptSpeed, ASpeedTheDriverDoesNotApplyIsReportedAndTheNextOneWorks) {
    testing::Pty pty;
    const int slot = openPort(pty.slave(), kLowestFreeSlot).slot;
    ASSERT_EQ(0, slot);
    ASSERT_EQ(code::kOk, configurePort(1, k115200_8N1));
    EXPECT_EQ(speed_t(B115200), speedNow(slot));

    EXPECT_EQ(code::kApplySetting, configurePort(1, k230400_7E2));
    EXPECT_EQ(speed_t(B115200), speedNow(slot)) << "the line goes on at the old speed";

    EXPECT_EQ(code::kOk, configurePort(1, {10, 3, 0, 0, 0}));
    EXPECT_EQ(speed_t(B57600), speedNow(slot));
    EXPECT_EQ(0, closePort(slot));
}

}  // namespace
}  // namespace pellusk
