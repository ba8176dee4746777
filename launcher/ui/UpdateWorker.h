#pragma once

#include <memory>

#include "core/UpdateCheckRun.h"

namespace velmoor {

// Runs the update check on a thread of its own, with platform services of its own: the thread
// never sees the windows, so one that the launcher has given up on can touch neither them nor
// anything else of the launcher's when it finishes late. Nobody waits for the thread; it ends
// with the check or with the process. False when no thread could be started.
bool startUpdateWorker(std::shared_ptr<UpdateCheckRun> run);

}  // namespace velmoor
