#include "open_close.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "port_table.h"
#include "pty.h"

namespace pellusk {
namespace {

class PortTable : public ::testing::Test {
  protected:
    void TearDown() override {
        for (int slot = 0; slot < kPortSlots; ++slot) closePort(slot);
    }
    testing::Pty pty_;
};

TEST(OpenErrorCode, MapsFourErrorsAndPassesTheRestOn) {
    EXPECT_EQ(1008, openErrorCode(ENOENT));
    EXPECT_EQ(1004, openErrorCode(ENODEV));
    EXPECT_EQ(1006, openErrorCode(EACCES));
    EXPECT_EQ(1007, openErrorCode(EBUSY));
    EXPECT_EQ(ENXIO, openErrorCode(ENXIO));
    EXPECT_EQ(EISDIR, openErrorCode(EISDIR));
}

TEST(NumberedPath, AppendsTheSlotAndRefusesWhatDoesNotFit) {
    char path[kDevicePathSize];
    ASSERT_TRUE(formatNumberedPath("/dev/ttyS", 0, path));
    EXPECT_STREQ("/dev/ttyS0", path);
    ASSERT_TRUE(formatNumberedPath("/dev/ttyUSB", 127, path));
    EXPECT_STREQ("/dev/ttyUSB127", path);

    const std::string base60(60, 'b');
    ASSERT_TRUE(formatNumberedPath(base60, 127, path));  // 63 bytes: the largest that fits
    EXPECT_EQ(63u, std::string(path).size());
    EXPECT_FALSE(formatNumberedPath(base60 + "b", 127, path));
    EXPECT_STREQ("", path);
    EXPECT_FALSE(formatNumberedPath(std::string(64, 'b'), 0, path));

    // Bytes after a zero in the Java array are not part of the name.
    ASSERT_TRUE(formatNumberedPath(std::string_view("/dev/ttyS\0junk", 14), 3, path));
    EXPECT_STREQ("/dev/ttyS3", path);
}

TEST_F(PortTable, FullTableRefusesAndEveryCloseFreesOnce) {
    for (int i = 0; i < kPortSlots; ++i)
        ASSERT_EQ(code::kOk, openPort(pty_.slave(), kLowestFreeSlot).code);
    EXPECT_EQ(1005, openPort(pty_.slave(), kLowestFreeSlot).code) << "the code Java sees";
    for (int slot = 0; slot < kPortSlots; ++slot) {
        ASSERT_EQ(0, closePort(slot));
        ASSERT_EQ(-1, closePort(slot));
    }
}

TEST_F(PortTable, SlotsOutsideTheTableAreFree) {
    for (int slot : {-1, kPortSlots, 1 << 30, -(1 << 30)}) {
        EXPECT_EQ(kNoDescriptor, portDescriptor(slot));
        EXPECT_EQ(-1, closePort(slot));
    }
}

}  // namespace
}  // namespace pellusk
