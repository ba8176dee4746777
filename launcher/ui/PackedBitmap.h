#pragma once

#include <windows.h>

#include "WinHandles.h"

namespace velmoor {

// The splash's logos are kept in the executable as deflated BMP files (RCDATA: the unpacked
// size, four bytes little-endian, then a zlib stream), a quarter of their size as plain bitmap
// resources; the launcher's size is bounded. Gives an empty handle when the resource is
// missing or does not unpack to a whole bitmap, so the splash is drawn without it.
BitmapHandle loadPackedBitmap(HINSTANCE instance, int id);

// The splash's logo in its two sizes. Its pixels are its size at 96 dpi; at any other
// resolution it keeps its size in twips, drawn from the large copy when the screen has more
// pixels than the small one.
class SplashLogo {
  public:
    static constexpr int kDotsPerInch = 96;

    void load(HINSTANCE instance, int smallId, int largeId);
    // The small copy's size in pixels; none when it could not be loaded.
    SIZE size() const { return smallSize_; }
    void draw(HDC dc, const RECT& at) const;

  private:
    BitmapHandle small_;
    SIZE smallSize_{};
    BitmapHandle large_;
    SIZE largeSize_{};
};

}  // namespace velmoor
