#pragma once

#include <string>

#include "WinHandles.h"

namespace velmoor {

// One running launcher per install. Two quick double-clicks (likely while the update drive is
// slow to answer) would otherwise offer the update twice, start java twice and race two copies
// on the one temporary file. The claim is a lock file held open in the install folder, or a
// named shared memory section where the folder takes no file; either holds the claiming
// process's id, and the system lets go of it when that process ends.
class InstallClaim {
  public:
    // Claims the install in the given folder for this process.
    explicit InstallClaim(const std::wstring& applicationDirectory);

    // False when another launcher of the same install holds the claim.
    bool held() const { return held_; }

    // Brings the frontmost window of the launcher that holds the claim to the front: its
    // message box or changes dialog is activated, its splash window only raised.
    void bringHolderToFront() const;

  private:
    bool claimByLockFile(const std::wstring& applicationDirectory);

    KernelHandle lock_;
    DWORD holderId_ = 0;
    KernelHandle section_;
    bool held_ = true;
};

}  // namespace velmoor
