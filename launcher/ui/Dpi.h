#pragma once

#include <windows.h>

namespace velmoor {

// The resolution that a window is shown at, in dots per inch: its monitor's on Windows 10
// and later, the system's before that (or for no window).
int windowDpi(HWND window);

}  // namespace velmoor
