#include <gtest/gtest.h>

#include <vector>

#include "core/SplashCounter.h"
#include "core/SplashLayout.h"

namespace velmoor {
namespace {

TEST(SplashCounter, PulsesTheStripUpToCappedTopAndBackThroughZero) {
    SplashCounter counter;
    counter.restart();
    std::vector<int> reds;
    for (int i = 0; i < 20; ++i) reds.push_back(counter.tick().red);
    const std::vector<int> expected = {20, 40, 60, 80, 100, 120, 140, 150, 130, 110,
                                       90, 70, 50, 30, 10,  0,   20,  40,  60,  80};
    EXPECT_EQ(reds, expected);
}

// The tick, counting the first, on which the window closes.
int closingTick(void (*firstTickWork)(SplashCounter&)) {
    SplashCounter counter;
    counter.restart();
    firstTickWork(counter);
    for (int tick = 1; tick <= 200; ++tick) {
        if (counter.tick().close) return tick;
    }
    return -1;
}

TEST(SplashCounter, ClosesOnThe51stTickAfterALaunchAndSoonerAfterAFailure) {
    EXPECT_EQ(closingTick([](SplashCounter&) {}), 51);
    EXPECT_EQ(closingTick([](SplashCounter& c) { c.shortenAfterLaunchFailure(); }), 11);
    EXPECT_EQ(closingTick([](SplashCounter& c) { c.shortenAfterNoJar(); }), 6);
}

TEST(SplashCounter, RestartGivesFiftyOneMoreTicksWhateverTheCountWas) {
    SplashCounter counter;
    counter.shortenAfterLaunchFailure();
    for (int i = 0; i < 5; ++i) counter.tick();
    counter.restart();
    int ticks = 1;
    while (!counter.tick().close) ++ticks;
    EXPECT_EQ(ticks, 51);
}

TEST(SplashLayout, DesignedLogoGivesTheDesignedWindow) {
    const SplashLayout layout = layOutSplash(2010, 2160, 1095);
    EXPECT_EQ(layout.width, 2030);
    EXPECT_EQ(layout.height, 2415);
    EXPECT_EQ(layout.progressBar.top + layout.progressBar.height, layout.height);
    EXPECT_EQ(layout.progressBar.top, 2160);
    EXPECT_EQ(layout.progressBar.width, 2030);
    EXPECT_EQ(layout.versionLabel.left + layout.versionLabel.width, layout.width);

    EXPECT_EQ(twipsToPixels(layout.width, 96), 135);
    EXPECT_EQ(twipsToPixels(layout.height, 96), 161);
    EXPECT_EQ(twipsToPixels(layout.height, 144), 242);
    EXPECT_EQ(pixelsToTwips(134, 96), 2010);
    EXPECT_EQ(pixelsToTwips(134, 144), 1340);
}

TEST(VersionCaption, WritesMajorDotMinorAndTwoSpaces) {
    EXPECT_EQ(versionCaption(4, 1), L"v4.1  ");
    EXPECT_EQ(versionCaption(10, 0), L"v10.0  ");
}

}  // namespace
}  // namespace velmoor
