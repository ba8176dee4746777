#include "OpenWindows.h"

#include <windows.h>

namespace velmoor {

namespace {
int openWindows = 0;  // touched only on the user-interface thread
}

void windowOpened() {
    ++openWindows;
}

void windowClosed() {
    if (--openWindows == 0) ::PostQuitMessage(0);
}

}  // namespace velmoor
