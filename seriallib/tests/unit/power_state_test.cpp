#include <gtest/gtest.h>

#include "card_power.h"
#include "modem_lines.h"

namespace pellusk {
namespace {

// The export itself, since a jboolean that is neither 0 nor 1 cannot come from Java code.
jint resumeState(jboolean clear) {
    return Java_Quorvia_SerialPortLocal_SerGetResumeState(nullptr, nullptr, clear);
}

TEST(ResumeState, OnlyATrueOfExactlyOneClearsTheFlag) {
    sigContinueHandler(SIGCONT);
    EXPECT_EQ(1, resumeState(JNI_FALSE));
    EXPECT_EQ(1, resumeState(2));
    EXPECT_EQ(1, resumeState(0xFF));
    EXPECT_EQ(1, resumeState(JNI_TRUE));
    EXPECT_EQ(0, resumeState(JNI_TRUE));
    EXPECT_EQ(0, resumeState(JNI_FALSE));
}

TEST(PortLines, SlotsOutsideTheTableActLikeFreeOnes) {
    for (int slot : {-1, 128, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(-1, setControlLine(slot, TIOCM_DTR, true));
        EXPECT_EQ(-1, sendBreak(slot, 0));
        EXPECT_EQ(0, statusLine(slot, TIOCM_CTS));
    }
}

}  // namespace
}  // namespace pellusk
