#include "SplashLayout.h"

#include <cmath>

namespace velmoor {

namespace {
constexpr float kProgressBarHeight = 255;
constexpr float kLogoTop = -120;
constexpr float kLogoLeft = 10;
constexpr float kVersionLabelTop = 30;
constexpr float kVersionLabelHeight = 315;
}  // namespace

SplashLayout layOutSplash(float logoWidth, float logoHeight, float versionLabelWidth) {
    SplashLayout layout;
    layout.width = logoWidth + 20;
    layout.height = kProgressBarHeight + logoHeight;
    layout.logo = {kLogoLeft, kLogoTop, logoWidth, logoHeight};
    layout.versionLabel = {layout.width - versionLabelWidth, kVersionLabelTop, versionLabelWidth,
                           kVersionLabelHeight};
    layout.progressBar = {0, layout.height - kProgressBarHeight, layout.width, kProgressBarHeight};
    return layout;
}

namespace {

// Written by hand: the printf family that std::to_wstring needs would double the launcher's
// runtime code.
std::wstring decimal(unsigned value) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

}  // namespace

std::wstring versionCaption(unsigned major, unsigned minor) {
    return L"v" + decimal(major) + L"." + decimal(minor) + L"  ";
}

int twipsToPixels(float twips, int dotsPerInch) {
    return static_cast<int>(std::lround(twips * static_cast<float>(dotsPerInch) / 1440.0f));
}

float pixelsToTwips(int pixels, int dotsPerInch) {
    return static_cast<float>(pixels) * 1440.0f / static_cast<float>(dotsPerInch);
}

}  // namespace velmoor
