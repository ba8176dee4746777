#pragma once

#include <functional>

#include "core/Services.h"

namespace velmoor {

// Runs work on a thread of its own, with platform services of its own: the thread never sees
// the windows, so one that the launcher has given up on can touch neither them nor anything
// else of the launcher's when it finishes late; what it shares with the windows it holds
// through std::shared_ptr. Nobody waits for the thread; it ends with the work or with the
// process. False when no thread could be started.
bool startWorker(std::function<void(Services&)> work);

}  // namespace velmoor
