#include "open_close.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>
#include <thread>
#include <vector>

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

TEST_F(PortTable, ConcurrentOpensNeverShareASlot) {
    std::vector<int> slots[2];
    auto opener = [this](std::vector<int>& taken) {
        for (int i = 0; i < kPortSlots / 2; ++i)
            taken.push_back(openPort(pty_.slave(), kLowestFreeSlot).slot);
    };
    std::thread first(opener, std::ref(slots[0]));
    std::thread second(opener, std::ref(slots[1]));
    first.join();
    second.join();
    std::set<int> distinct(slots[0].begin(), slots[0].end());
    distinct.insert(slots[1].begin(), slots[1].end());
    EXPECT_EQ(size_t(kPortSlots), distinct.size());
    EXPECT_EQ(0, *distinct.begin());
    std::set<int> descriptors;
    for (int slot = 0; slot < kPortSlots; ++slot) descriptors.insert(portDescriptor(slot));
    EXPECT_EQ(size_t(kPortSlots), descriptors.size()) << "each slot holds its own descriptor";
}

}  // namespace
}  // namespace pellusk
