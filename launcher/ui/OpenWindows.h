#pragma once

namespace velmoor {

// The launcher runs for as long as one of its top-level windows is open: the splash window
// closes itself by its counter, while the changes dialog may stay open long after it.
// Closing the last one ends the message loop.
void windowOpened();
void windowClosed();

}  // namespace velmoor
