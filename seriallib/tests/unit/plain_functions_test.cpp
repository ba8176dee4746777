// The library's plain functions, where the Java tests cannot look: the result codes, a zero
// byte in a numbered device path, the port table when full, the line-setting record (a pty
// rewrites its parity and character size), the receive's own edges, a break's length, a JVM that
// cannot resolve IOException and what the /proc parsers' fuzz targets leave out.
#include <gtest/gtest.h>
#include <jni.h>
#include <termios.h>

#include <cerrno>
#include <string>
#include <utility>

#include "apm_line.h"
#include "legacy_exports.h"
#include "line_config.h"
#include "modem_lines.h"
#include "open_close.h"
#include "port_table.h"
#include "proc_devices.h"
#include "pty.h"
#include "result_codes.h"
#include "timeouts.h"
#include "transfer.h"

extern "C" jint Java_Quorvia_SerialPortLocal_SerOpenPort(JNIEnv*, jobject, jobject);
extern "C" jint Java_Quorvia_SerialPortLocal_SerGetTimeoutTx(JNIEnv*, jobject, jint);

namespace pellusk {
namespace {

// The codes of open and configure that no Java test brings about (they see 0, 1000, 1003, 1005,
// 1008, 5001 and 5003, and errno as it is for EISDIR and EMFILE).
TEST(ResultCodes, EachFailureAndOpenErrorHasItsCode) {
    const struct {
        int status, error, code;
    } rows[] = {{kFailed, ENODEV, 1004},
                {kFailed, EACCES, 1006},
                {kFailed, EBUSY, 1007},
                {kOutputSpeedRefused, 0, 5002},
                {kInputNotFlushed, 0, 5004}};
    for (const auto& row : rows) EXPECT_EQ(row.code, lineCode(row.status, row.error)) << row.status;
}

// OpenCloseTest opens by number, at the length limit too; this is the case it leaves out.
TEST(NumberedPath, EndsTheBaseNameAtAZeroByte) {
    char path[kDevicePathSize];
    ASSERT_TRUE(formatNumberedPath(std::string_view("/dev/ttyS\0junk", 14), 0, path));
    EXPECT_STREQ("/dev/ttyS0", path);
}

// Each flag of one field must leave the others' alone: the whole c_cflag of every combination.
TEST(LineSetting, EveryCharacterSizeStopBitsAndParity) {
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8}, stops[] = {0, CSTOPB};
    const struct {
        int code;
        tcflag_t iflag, cflag;
    } parities[] = {
        {0, IGNBRK | IGNPAR, 0},      {1, IGNBRK | INPCK, PARENB | PARODD},
        {2, IGNBRK | INPCK, PARENB},  {3, IGNBRK, PARENB | CMSPAR | PARODD},  // mark
        {4, IGNBRK, PARENB | CMSPAR}, {5, IGNBRK | IGNPAR, 0},                // space, none
        {-1, IGNBRK | IGNPAR, 0},
    };
    for (int size = 0; size < 4; ++size)
        for (int stop = 0; stop < 2; ++stop)
            for (const auto& p : parities) {
                termios t;
                ASSERT_EQ(0, buildLineSetting({7, size, stop, p.code, 0}, t));
                const tcflag_t cflag = CREAD | CLOCAL | B9600 | sizes[size] | stops[stop] | p.cflag;
                EXPECT_EQ(std::pair(p.iflag, cflag), std::pair(t.c_iflag, t.c_cflag))
                    << "data bits index " << size << ", stop bits index " << stop << ", parity "
                    << p.code;
            }
}

// The receive functions' own edges, which the native methods' checks keep Java from: a receive
// of no bytes, and a wait of a negative time, fail at once.
TEST(Receive, RefusesNoBytesAndANegativeWait) {
    testing::Pty pty;
    const int slot = openPort(pty.slave(), kLowestFreeSlot).slot;
    ASSERT_GE(slot, 0);
    setReceiveTimeout(slot, 2000);
    char byte = 0;
    EXPECT_EQ(-1, getData(slot, &byte, 0));
    {
        const PortHold port(slot);
        EXPECT_EQ(-1, awaitInput(port, -1));
        EXPECT_EQ(EINVAL, errno);
    }
    EXPECT_EQ(0, closePort(slot));
}

// A JVM where java.io.IOException cannot be resolved (FindClass fails, its error pending): each
// native method that would throw one returns at once instead, calling nothing else of the JNI's.
// The environment is a stand-in whose other functions are missing: calling one crashes the test.
TEST(Jni, NoIOExceptionClassEndsTheCallAtOnce) {
    JNINativeInterface_ functions{};
    functions.FindClass = [](JNIEnv*, const char* name) {
        return std::string_view(name) == "Quorvia/SerialConfig" ? reinterpret_cast<jclass>(8)
                                                                : nullptr;
    };
    functions.ExceptionCheck = [](JNIEnv*) -> jboolean { return JNI_TRUE; };
    JNIEnv env{&functions};
    EXPECT_EQ(slot_lookup::kNoExceptionClass, getSlotHandle(&env, 3));
    EXPECT_EQ(5000, Java_Quorvia_SerialPortLocal_SerOpenPort(&env, nullptr,
                                                             reinterpret_cast<jobject>(8)));
    EXPECT_EQ(0, Java_Quorvia_SerialPortLocal_SerGetTimeoutTx(&env, nullptr, 5));
}

// The plain card lookup, which native callers may call in a loop within one frame, deletes the
// class reference it made, also when it throws.
TEST(Jni, TheCardLookupLeavesNoLocalReference) {
    static int references = 0;
    JNINativeInterface_ functions{};
    functions.FindClass = [](JNIEnv*, const char*) {
        return ++references, reinterpret_cast<jclass>(8);
    };
    functions.ThrowNew = [](JNIEnv*, jclass, const char*) { return 0; };
    functions.DeleteLocalRef = [](JNIEnv*, jobject) { --references; };
    JNIEnv env{&functions};
    EXPECT_EQ(slot_lookup::kInvalidSlot, getSlotHandle(&env, 9));
    EXPECT_EQ(0, references);
}

// How long a break lasts, as glibc's tcsendbreak asks the kernel for it: under one unit (250)
// the kernel's 250 ms, else tenths of a second rounded up. The guest times the real ones.
TEST(BreakMilliseconds, TheKernelsDefaultElseTenthsOfASecondRoundedUp) {
    for (const auto& [duration, ms] :
         {std::pair{-600, 250}, {249, 250}, {250, 100}, {25000, 100}, {25250, 200}}) {
        EXPECT_EQ(ms, breakMilliseconds(duration)) << duration;
    }
}

// The fuzz target holds the lookup to the classic fgets-and-sscanf reader, but only where that
// reader is defined: not for numbers that overflow an int.
TEST(FindMajor, RefusesANumberThatDoesNotFitAnInt) {
    EXPECT_EQ(-19, findMajor("99999999999 pcmcia\n", "pcmcia"));
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
