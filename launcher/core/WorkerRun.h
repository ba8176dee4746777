#pragma once

#include <atomic>

namespace velmoor {

// Work on a worker thread that the user-interface thread never waits for: a lookup or a copy on
// a share whose server has gone can block for minutes, or for good. The user-interface thread
// polls, and gives the worker up once its own rule says so (patience run out, a copy stalled,
// a close); a worker given up on may still finish on its own, but what it found is then dropped.
// The window and the worker share a run through std::shared_ptr, so a worker that outlives the
// wait still writes into memory of its own. Exactly one of hand-over and giving up happens.
class WorkerRun {
  public:
    enum class Outcome { pending, answered, givenUp };

  protected:
    WorkerRun() = default;
    ~WorkerRun() = default;

    // On the user-interface thread: answered once the worker has handed over; given up once
    // `overdue` came first, and from then on.
    Outcome poll(bool overdue);
    // On the user-interface thread: gives the worker up unless it has handed over already.
    void giveUp();
    bool givenUp() const { return state_.load(std::memory_order_acquire) == givenUpState; }
    // On the worker: whether its work is still awaited.
    bool carryOn() const { return state_.load(std::memory_order_acquire) == working; }
    // On the worker, once its findings are written: false when it had been given up on.
    bool handOver();

  private:
    enum State { working, handedOver, givenUpState };
    std::atomic<int> state_{working};
};

}  // namespace velmoor
