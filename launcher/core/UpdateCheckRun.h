#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Update.h"
#include "WorkerRun.h"

namespace velmoor {

// A worker run awaited a bounded time from its start.
class BoundedRun : public WorkerRun {
  public:
    // On the user-interface thread, with the time since the run started: answered once the
    // worker has handed over; given up (the answer counts as unreachable) once the patience ran
    // out first, and from then on.
    Outcome poll(std::int64_t elapsedMs) { return WorkerRun::poll(elapsedMs >= patienceMs_); }

  protected:
    explicit BoundedRun(std::int64_t patienceMs) : patienceMs_(patienceMs) {}
    ~BoundedRun() = default;

  private:
    const std::int64_t patienceMs_;
};

// One launch's look into the update folder, made on a worker thread while the splash window
// goes on pulsing. A mapped drive whose server has gone can hold a single file lookup for 20 to
// 60 s, so the launcher waits for the update folder's answer a bounded time only; a folder that
// has not answered by then counts as unreachable, like a missing one, and the application
// starts in silence.
class UpdateCheckRun : public BoundedRun {
  public:
    // A reachable share answers a lookup within milliseconds, and one that Windows reconnects
    // on first use within a second; a lookup still unanswered after 2 s is a server that has
    // gone. Waiting longer would only delay every start while a drive hangs, and the splash
    // window stays 5 s in any case. The patience covers the lookups only, not the reading of
    // the changes file, which depends on its size.
    static constexpr std::int64_t kPatienceMs = 2000;

    UpdateCheckRun(std::wstring applicationDirectory, std::wstring jarName)
        : BoundedRun(kPatienceMs),
          applicationDirectory_(std::move(applicationDirectory)),
          jarName_(std::move(jarName)) {}

    // On the worker thread: examines the update folder and hands over what it found, unless
    // the launcher has stopped waiting. Never throws; a failure hands over nothing.
    void run(Services& services) noexcept;

    // What the worker found, once poll has said answered; nothing when the examination failed.
    const std::optional<UpdateFindings>& findings() const { return findings_; }

  private:
    const std::wstring applicationDirectory_;
    const std::wstring jarName_;
    // Written by the worker before it hands over; read only after poll has seen the hand-over.
    std::optional<UpdateFindings> findings_;
};

// The reading of the changes file of a newer jar, which the folder has already listed.
class ChangesReadRun : public BoundedRun {
  public:
    // The capped file comes in well within 3 s from a share that gives 100 KB/s; one that
    // takes longer is offered with the yes/no box instead, which needs nothing more from it.
    static constexpr std::int64_t kPatienceMs = 3000;

    ChangesReadRun() : BoundedRun(kPatienceMs) {}

    void run(Services& services) noexcept;

    // The changes text, once poll has said answered; nothing when the file could not be read.
    const std::optional<std::wstring>& changes() const { return changes_; }

  private:
    std::optional<std::wstring> changes_;
};

}  // namespace velmoor
