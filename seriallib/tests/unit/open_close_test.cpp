#include "open_close.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "port_table.h"
#include "pty.h"

namespace pellusk {
namespace {

TEST(OpenErrorCode, MapsFourErrorsAndPassesTheRestOn) {
    const std::pair<int, int> cases[] = {{ENOENT, 1008}, {ENODEV, 1004}, {EACCES, 1006},
                                         {EBUSY, 1007},  {ENXIO, ENXIO}, {EISDIR, EISDIR}};
    for (auto [error, code] : cases) EXPECT_EQ(code, openErrorCode(error)) << error;
}

TEST(NumberedPath, AppendsTheSlotAndRefusesWhatDoesNotFit) {
    char path[kDevicePathSize];
    ASSERT_TRUE(formatNumberedPath("/dev/ttyUSB", 127, path));
    EXPECT_STREQ("/dev/ttyUSB127", path);
    const std::string base60(60, 'b');
    ASSERT_TRUE(formatNumberedPath(base60, 127, path));  // 63 bytes: the largest that fits
    EXPECT_EQ(base60 + "127", path);
    EXPECT_FALSE(formatNumberedPath(base60 + "b", 127, path));
    EXPECT_STREQ("", path);
    // Bytes after a zero in the Java array are not part of the name.
    ASSERT_TRUE(formatNumberedPath(std::string_view("/dev/ttyS\0junk", 14), 0, path));
    EXPECT_STREQ("/dev/ttyS0", path);
}

TEST(PortTable, FullTableRefusesAndEveryCloseFreesOnce) {
    testing::Pty pty;
    for (int i = 0; i < kPortSlots; ++i)
        ASSERT_EQ(code::kOk, openPort(pty.slave(), kLowestFreeSlot).code);
    EXPECT_EQ(1005, openPort(pty.slave(), kLowestFreeSlot).code) << "the code Java sees";
    for (int slot = 0; slot < kPortSlots; ++slot) {
        ASSERT_EQ(0, closePort(slot));
        ASSERT_EQ(-1, closePort(slot));
    }
}

}  // namespace
}  // namespace pellusk
