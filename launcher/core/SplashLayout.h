#pragma once

#include <string>

namespace velmoor {

// Geometry of the splash window in twips (1/1440 inch), as single-precision values.
struct TwipRect {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
};

struct SplashLayout {
    float width = 0;
    float height = 0;
    TwipRect logo;
    TwipRect versionLabel;
    TwipRect progressBar;
};

// Sizes the window to the logo, with the strip along the bottom edge and the version label
// ending at the right edge. The label's width is its width once the caption is set.
SplashLayout layOutSplash(float logoWidth, float logoHeight, float versionLabelWidth);

// "v4.1  ": the trailing spaces keep the text off the window's right edge.
std::wstring versionCaption(unsigned major, unsigned minor);

int twipsToPixels(float twips, int dotsPerInch);
float pixelsToTwips(int pixels, int dotsPerInch);

}  // namespace velmoor
