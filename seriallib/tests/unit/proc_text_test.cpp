#include <gtest/gtest.h>

#include <string>

#include "apm_line.h"
#include "proc_devices.h"

// The Java tests read both files through the library; these are the edges of the two parsers.
namespace pellusk {
namespace {

TEST(FindMajor, ReadsANumberAndExactlyThatNameInPiecesOf31Bytes) {
    EXPECT_EQ(-19, findMajor(" 12 pcmcia_core\n 13 xpcmcia\npcmcia 14\n 15 pcmci\n", "pcmcia"));
    EXPECT_EQ(42, findMajor(" 1 mem\n\t42\tpcmcia", "pcmcia"));  // tabs, no last line break
    EXPECT_EQ(-19, findMajor("99999999999 pcmcia\n", "pcmcia"));
    // The second piece of this line starts with "7 pcmcia" and counts as an entry of its own.
    EXPECT_EQ(7, findMajor("  1 " + std::string(27, 'x') + "7 pcmcia\n", "pcmcia"));
    EXPECT_EQ(-19, findMajor(std::string(26, ' ') + "5 pcmcia\n", "pcmcia"));  // a cut name
}

int packed(const std::string& line) {
    ApmFields fields;
    return parseApmLine(line, fields) ? packApmStatus(fields) : -1;
}

TEST(ApmStatus, MapsEveryBatteryStatusAndRefusesFieldsOfTheWrongKind) {
    const std::pair<const char*, int> cases[] = {{"0x00", 0x00}, {"0x01", 0x01}, {"0x02", 0x04},
                                                 {"0x03", 0x08}, {"0x7f", 0x02}, {"0x04", 0xFF}};
    for (auto [status, bits] : cases)
        EXPECT_EQ(bits << 8, packed(std::string("1 1 0x03 0x00 ") + status + " 0x80 0% 0 min"));
    for (const char* line : {"1 1 0x03 0x01 zz 0x09 85%", "1 1 0x03 0x01 0x03 0x09 %85",
                             "1 1 0x03 0x1ffffffff 0x03 0x09 85%"})
        EXPECT_EQ(-1, packed(line)) << line;
    // The skipped words are taken into 32-byte buffers: a word of 32 bytes is refused, not split.
    EXPECT_EQ(0x108D5, packed(std::string(31, 'v') + " 1.2 0x03 0x01 0x03 0x09 85% 1 min"));
    EXPECT_EQ(-1, packed(std::string(32, 'v') + " 1.2 0x03 0x01 0x03 0x09 85% 1 min"));
}

}  // namespace
}  // namespace pellusk
