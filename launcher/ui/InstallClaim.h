#pragma once

#include <string>

#include "WinHandles.h"

namespace velmoor {

// One launcher per install updates it. Two quick double-clicks (likely while the update drive is
// slow to answer) would otherwise offer the update twice, start java twice and race two copies
// on the one temporary file. The claim is a lock file held open in the install folder, or a
// named shared memory section where the folder takes no file; either says which process holds
// it (the lock file also on which computer and in which session), and the system lets go of it
// when that process ends. It guards the update, not the start: a launcher that finds the claim
// held by one it cannot reach (on another computer, in another session, or without a window)
// starts the installed application without looking for an update.
class InstallClaim {
  public:
    // Claims the install in the given folder for this process.
    explicit InstallClaim(const std::wstring& applicationDirectory);

    // False when another launcher of the same install holds the claim.
    bool held() const { return held_; }

    // Brings the frontmost window of the launcher that holds the claim to the front: its
    // message box or changes dialog is activated, its splash window only raised. False when the
    // holder is out of reach, or shows no window even once it has started up.
    bool bringHolderToFront() const;

  private:
    bool claimByLockFile(const std::wstring& applicationDirectory);

    KernelHandle lock_;
    // The process that holds the lock file, where it is within reach: on this computer, in
    // this session. 0 when it is not, or the file names none.
    DWORD holderId_ = 0;
    KernelHandle section_;
    bool held_ = true;
};

}  // namespace velmoor
