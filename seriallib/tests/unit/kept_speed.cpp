// SerConfigure on a driver that takes a record but keeps its old speed, as the 8250 driver does
// with a speed that its UART's clock cannot make. A pty applies every speed, so this program
// wraps tcsetattr at link time to play that driver: above 115200 bit/s the line keeps its speed.
#include <gtest/gtest.h>
#include <termios.h>

#include "line_config.h"
#include "open_close.h"
#include "port_table.h"
#include "pty.h"

extern "C" int __real_tcsetattr(int fd, int when, const termios* setting);
extern "C" int __wrap_tcsetattr(int fd, int when, const termios* setting) {
    termios applied = *setting, now;
    if (cfgetospeed(setting) > B115200 && tcgetattr(fd, &now) == 0)
        cfsetspeed(&applied, cfgetospeed(&now));
    return __real_tcsetattr(fd, when, &applied);
}

namespace pellusk {
namespace {

TEST(KeptSpeed, ASpeedTheDriverDoesNotApplyIsReportedAndTheNextOneWorks) {
    testing::Pty pty;
    ASSERT_EQ(0, openPort(pty.slave(), kLowestFreeSlot).slot);
    const auto speedNow = [] {
        termios t{};
        tcgetattr(portDescriptor(0), &t);
        return cfgetospeed(&t);
    };
    ASSERT_EQ(code::kOk, configurePort(1, {11, 3, 0, 0, 0}));
    EXPECT_EQ(code::kApplySetting, configurePort(1, {12, 2, 1, 2, 0}));
    EXPECT_EQ(speed_t(B115200), speedNow()) << "the line goes on at the old speed";
    EXPECT_EQ(code::kOk, configurePort(1, {10, 3, 0, 0, 0}));
    EXPECT_EQ(speed_t(B57600), speedNow());
    EXPECT_EQ(0, closePort(0));
}

}  // namespace
}  // namespace pellusk
