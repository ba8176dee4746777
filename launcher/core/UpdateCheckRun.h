#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "Update.h"

namespace velmoor {

// One launch's look into the update folder, made on a worker thread while the splash window
// goes on pulsing. A mapped drive whose server has gone can hold a single file lookup for 20 to
// 60 s, so the launcher waits for the update folder's answer a bounded time only; a folder that
// has not answered by then counts as unreachable, like a missing one, and the application
// starts in silence. A worker given up on may still finish on its own: what it found is then
// dropped, so it leads to no offer and no copy.
//
// The splash window and the worker share the object through std::shared_ptr, so a worker that
// outlives the wait still writes into memory of its own.
class UpdateCheckRun {
  public:
    // A reachable share answers a lookup within milliseconds, and one that Windows reconnects
    // on first use within a second; a lookup still unanswered after 2 s is a server that has
    // gone. Waiting longer would only delay every start while a drive hangs, and the splash
    // window stays 5 s in any case.
    static constexpr std::int64_t kPatienceMs = 2000;

    UpdateCheckRun(std::wstring applicationDirectory, std::wstring jarName)
        : applicationDirectory_(std::move(applicationDirectory)), jarName_(std::move(jarName)) {}

    // On the worker thread: examines the update folder and hands over what it found, unless
    // the launcher has stopped waiting. Never throws; a failure hands over nothing.
    void run(Services& services) noexcept;

    enum class Outcome { pending, answered, unreachable };

    // On the user-interface thread, with the time since the run started: answered once the
    // worker has handed over; unreachable once the patience ran out first, and from then on.
    Outcome poll(std::int64_t elapsedMs);

    // What the worker found, once poll has said answered; nothing when the examination failed.
    const std::optional<UpdateFindings>& findings() const { return findings_; }

  private:
    enum State { working, handedOver, givenUp };

    const std::wstring applicationDirectory_;
    const std::wstring jarName_;
    // Written by the worker before it hands over; read only after poll has seen the hand-over.
    std::optional<UpdateFindings> findings_;
    std::atomic<int> state_{working};
};

}  // namespace velmoor
