#include <gtest/gtest.h>

#include <string>

#include "apm_line.h"
#include "proc_devices.h"

namespace pellusk {
namespace {

TEST(FindMajor, ReadsTheCharacterEntryAndNothingElse) {
    const std::string devices =
        "Character devices:\n  1 mem\n  4 tty\n254 pcmcia\n 10 misc\n\n"
        "Block devices:\n  7 loop\n  3 pcmcia\n";
    EXPECT_EQ(254, findMajor(devices, "pcmcia"));
    EXPECT_EQ(7, findMajor(devices, "loop"));
    EXPECT_EQ(-19, findMajor(devices, "pcmci"));
    EXPECT_EQ(-19, findMajor("Character devices:\n 12 pcmcia_core\n 13 xpcmcia\n", "pcmcia"));
    EXPECT_EQ(-19, findMajor("", "pcmcia"));
    EXPECT_EQ(-19, findMajor("pcmcia 12\n", "pcmcia"));
    // No line break at the end of the file, and tabs between the fields.
    EXPECT_EQ(42, findMajor(" 1 mem\n\t42\tpcmcia", "pcmcia"));
}

TEST(FindMajor, JudgesLongLinesInPiecesOf31Bytes) {
    // The second piece of this line starts with "7 pcmcia" and counts as an entry of its own.
    const std::string longLine = "  1 " + std::string(27, 'x') + "7 pcmcia\n";
    EXPECT_EQ(7, findMajor(longLine, "pcmcia"));
    // A name cut by the piece boundary is not the name.
    EXPECT_EQ(-19, findMajor(std::string(26, ' ') + "5 pcmcia\n", "pcmcia"));
    // A zero byte ends what a piece says; the next line is read again.
    EXPECT_EQ(-19, findMajor(std::string("9 pc\0mcia\n", 10), "pcmcia"));
    EXPECT_EQ(8, findMajor(std::string("9 pc\0mcia\n8 pcmcia\n", 19), "pcmcia"));
}

TEST(FindMajor, PassesOverNumbersThatDoNotFit) {
    EXPECT_EQ(-19, findMajor("99999999999 pcmcia\n", "pcmcia"));
    EXPECT_EQ(-5, findMajor("-5 pcmcia\n", "pcmcia"));  // the caller refuses it as negative
}

int packed(const char* line) {
    ApmFields fields;
    if (!parseApmLine(line, fields)) return -1;
    return packApmStatus(fields);
}

TEST(ApmStatus, PacksTheWorkedLines) {
    EXPECT_EQ(0x108D5, packed("1.16 1.2 0x03 0x01 0x03 0x09 85% 180 min\n"));
    EXPECT_EQ(0x100E4, packed("1.16 1.2 0x03 0x01 0x00 0x01 100% -1 ?\n"));
    EXPECT_EQ(0x194, packed("1.16 1.2 0x03 0x00 0x01 0x02 20% 25 min\n"));
    EXPECT_EQ(0xFF7F, packed("1.16 1.2 0x03 0x00 0xff 0xff -1% -1 ?\n"));
    EXPECT_EQ(0xFFFF7F, packed("1.16 1.2 0x03 0xff 0xff 0xff -1% -1 ?\n"));
}

TEST(ApmStatus, MapsEveryBatteryStatus) {
    const std::pair<const char*, int> cases[] = {{"0x00", 0x00}, {"0x01", 0x01}, {"0x02", 0x04},
                                                 {"0x03", 0x08}, {"0x7f", 0x02}, {"0x04", 0xFF},
                                                 {"0x05", 0xFF}, {"0xff", 0xFF}};
    for (auto [status, bits] : cases) {
        const std::string line = std::string("1.16 1.2 0x03 0x00 ") + status + " 0x80 0% 0 min";
        EXPECT_EQ(bits << 8, packed(line.c_str())) << status;
    }
}

TEST(ApmStatus, RefusesLinesThatDoNotCarryAllSevenFields) {
    EXPECT_EQ(-1, packed(""));
    EXPECT_EQ(-1, packed("1.16 1.2 0x03 0x01 0x03 0x09"));
    EXPECT_EQ(-1, packed("1.16 1.2 0x03 0x01 zz 0x09 85% 1 min"));
    EXPECT_EQ(-1, packed("1.16 1.2 0x03 0x01 0x03 0x09 %85 1 min"));
    EXPECT_EQ(-1, packed("1.16 1.2 0x03 0x1ffffffff 0x03 0x09 85% 1 min"));
    EXPECT_EQ(-1, packed("1.16 1.2 0x03 0x01 0x03 0x09 99999999999% 1 min"));
    EXPECT_EQ(-1, packed("\x01\xff garbage \x7f\x80 !!"));
    // The skipped words must fit 31 bytes: the 32-byte word is refused, not split.
    const std::string word31(31, 'v'), word32(32, 'v');
    EXPECT_EQ(0x108D5, packed((word31 + " 1.2 0x03 0x01 0x03 0x09 85% 1 min").c_str()));
    EXPECT_EQ(-1, packed((word32 + " 1.2 0x03 0x01 0x03 0x09 85% 1 min").c_str()));
    EXPECT_EQ(-1, packed(("1.16 1.2 " + word32 + " 0x01 0x03 0x09 85% 1 min").c_str()));
    // What follows the percentage is never needed.
    EXPECT_EQ(0x108D5, packed(("1.16 1.2 0x03 0x01 0x03 0x09 85% " + word32).c_str()));
}

}  // namespace
}  // namespace pellusk
