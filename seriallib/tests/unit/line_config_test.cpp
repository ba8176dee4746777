#include "line_config.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <array>
#include <tuple>

#include "open_close.h"
#include "port_table.h"

// A pty rewrites parity and character size, so the record the library builds is checked here.
namespace pellusk {
namespace {

termios built(int dataBits, int stopBits, int parity) {
    termios t;
    EXPECT_EQ(code::kOk, buildLineSetting({7, dataBits, stopBits, parity, 0}, t));
    return t;
}

TEST(LineSetting, APlainRequestIsTheOpeningSettingWithXonXoff) {
    termios opening;
    ASSERT_EQ(code::kOk, fillInitialSetting(opening));
    opening.c_cc[VSTART] = 0x11;
    opening.c_cc[VSTOP] = 0x13;
    const auto fields = [](const termios& t) {
        return std::tuple(t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_line,
                          std::to_array(t.c_cc), cfgetispeed(&t), cfgetospeed(&t));
    };
    EXPECT_EQ(fields(opening), fields(built(3, 0, 0)));
    EXPECT_EQ(tcflag_t(CS5), built(0, 0, 0).c_cflag & CSIZE);
    EXPECT_EQ(tcflag_t(CS7 | CSTOPB), built(2, 1, 0).c_cflag & (CSIZE | CSTOPB));
}

TEST(LineSetting, ParityCodes) {
    const struct {
        int code;
        tcflag_t iflag, cflag;
    } cases[] = {
        {0, IGNBRK | IGNPAR, 0},      {1, IGNBRK | INPCK, PARENB | PARODD},
        {2, IGNBRK | INPCK, PARENB},  {3, IGNBRK, PARENB | CMSPAR | PARODD},  // mark
        {4, IGNBRK, PARENB | CMSPAR}, {5, IGNBRK | IGNPAR, 0},                // space, none
        {-1, IGNBRK | IGNPAR, 0},
    };
    for (const auto& c : cases) {
        const termios t = built(3, 0, c.code);
        EXPECT_EQ(c.iflag, t.c_iflag) << "parity " << c.code;
        EXPECT_EQ(c.cflag, t.c_cflag & (PARENB | PARODD | CMSPAR)) << "parity " << c.code;
    }
}

}  // namespace
}  // namespace pellusk
