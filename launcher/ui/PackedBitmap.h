#pragma once

#include <windows.h>

#include "WinHandles.h"

namespace velmoor {

// The splash's logos are kept in the executable as deflated BMP files (RCDATA: the unpacked
// size, four bytes little-endian, then a zlib stream), a quarter of their size as plain bitmap
// resources; the launcher's size is bounded. Gives an empty handle when the resource is
// missing or does not unpack to a whole bitmap, so the splash is drawn without it.
BitmapHandle loadPackedBitmap(HINSTANCE instance, int id);

}  // namespace velmoor
