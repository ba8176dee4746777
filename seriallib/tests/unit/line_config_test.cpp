#include "line_config.h"

#include <gtest/gtest.h>
#include <termios.h>

#include <climits>

#include "open_close.h"
#include "port_table.h"
#include "pty.h"

namespace pellusk {
namespace {

constexpr LineRequest k9600_8N1{7, 3, 0, 0, 0};

LineRequest withParity(int parity) {
    LineRequest r = k9600_8N1;
    r.parity = parity;
    return r;
}

termios built(const LineRequest& request) {
    termios t;
    EXPECT_EQ(code::kOk, buildLineSetting(request, t));
    return t;
}

TEST(LineSetting, PlainRequestIsTheOpeningSettingPlusXonXoffCharacters) {
    termios opening;
    ASSERT_EQ(code::kOk, fillInitialSetting(opening));
    termios t = built(k9600_8N1);
    EXPECT_EQ(opening.c_iflag, t.c_iflag);
    EXPECT_EQ(opening.c_oflag, t.c_oflag);
    EXPECT_EQ(opening.c_cflag, t.c_cflag);
    EXPECT_EQ(opening.c_lflag, t.c_lflag);
    EXPECT_EQ(0, t.c_line);
    for (int i = 0; i < NCCS; ++i) {
        const cc_t expected = i == VSTART ? 0x11 : i == VSTOP ? 0x13 : i == VMIN ? 1 : 0;
        EXPECT_EQ(expected, t.c_cc[i]) << "control character " << i;
    }
}

TEST(LineSetting, EveryCharacterFormat) {
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (int i = 0; i < kDataBitSizes; ++i)
        EXPECT_EQ(sizes[i], built({7, i, 0, 0, 0}).c_cflag & CSIZE) << "index " << i;
    EXPECT_EQ(0u, built({7, 3, 0, 0, 0}).c_cflag & CSTOPB);
    EXPECT_EQ(tcflag_t(CSTOPB), built({7, 3, 1, 0, 0}).c_cflag & CSTOPB);
}

TEST(LineSetting, ParityCodes) {
    const tcflag_t parityBits = PARENB | PARODD | CMSPAR;
    struct Case {
        int code;
        tcflag_t iflag, cflag;
    } cases[] = {
        {0, IGNBRK | IGNPAR, 0},      {1, IGNBRK | INPCK, PARENB | PARODD},
        {2, IGNBRK | INPCK, PARENB},  {3, IGNBRK, PARENB | CMSPAR | PARODD},  // mark
        {4, IGNBRK, PARENB | CMSPAR},                                         // space
        {5, IGNBRK | IGNPAR, 0},      {-1, IGNBRK | IGNPAR, 0},
    };
    for (const Case& c : cases) {
        termios t = built(withParity(c.code));
        EXPECT_EQ(c.iflag, t.c_iflag) << "parity " << c.code;
        EXPECT_EQ(c.cflag, t.c_cflag & parityBits) << "parity " << c.code;
        EXPECT_EQ(tcflag_t(CS8 | CREAD | CLOCAL), t.c_cflag & (CSIZE | CREAD | CLOCAL));
    }
}

TEST(LineSetting, IndexesOutsideTheTablesAreRefused) {
    termios t;
    for (int rate : {-1, kBitRates, INT_MIN, INT_MAX})
        EXPECT_EQ(code::kInputSpeed, buildLineSetting({rate, 3, 0, 0, 0}, t)) << rate;
    for (int bits : {-1, kDataBitSizes, INT_MIN, INT_MAX})
        EXPECT_EQ(code::kApplySetting, buildLineSetting({7, bits, 0, 0, 0}, t)) << bits;
    for (int stop : {-1, kStopBitSizes, INT_MIN, INT_MAX})
        EXPECT_EQ(code::kApplySetting, buildLineSetting({7, 3, stop, 0, 0}, t)) << stop;
    // A bad bit rate is reported first, as the speed is looked at first.
    EXPECT_EQ(code::kInputSpeed, buildLineSetting({13, 9, 9, 0, 0}, t));
}

class ConfigurePort : public ::testing::Test {
  protected:
    void TearDown() override {
        for (int slot = 0; slot < kPortSlots; ++slot) closePort(slot);
    }
    testing::Pty pty_;
    int slot_ = openPort(pty_.slave(), kLowestFreeSlot).slot;
};

// That refused indexes leave the line as it was is read back from ptys by the Java tests.
TEST_F(ConfigurePort, ClosedPortsAndPortNumbersOutsideTheTableApplyNothing) {
    ASSERT_EQ(0, slot_);
    ASSERT_EQ(code::kOk, configurePort(1, {12, 3, 0, 0, 0}));
    for (int port : {2, 128, 0, -1, 129, INT_MIN, INT_MAX})
        EXPECT_EQ(code::kApplySetting, configurePort(port, k9600_8N1)) << "port " << port;
    ASSERT_EQ(0, closePort(0));
    EXPECT_EQ(code::kApplySetting, configurePort(1, k9600_8N1));
}

}  // namespace
}  // namespace pellusk
