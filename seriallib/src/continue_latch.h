// How a continue signal reaches every waiting receive of the process, on whichever thread the
// signal lands: the handler notes it and writes one byte to a self-pipe that every wait also
// polls. No waiter drains that pipe on its own account, since a byte one waiter took would be
// one another waiter never saw; whoever finds it readable fires a latch instead, an eventfd
// that is never drained while any wait shares it, and puts a fresh latch in its place. Waits
// that began before the signal share the fired latch and wake; later ones share the new one.
#pragma once

namespace pellusk {

// Creates the self-pipe and the first latch, once per process; they are never closed, so the
// handler may write at any time. False, with errno set and nothing kept, when the descriptors
// cannot be had; once they are there, true at once without a lock.
bool prepareContinueLatch();

// The handler's part: async-signal-safe (an atomic count and one write), errno kept.
void noteContinueSignal();

// One wait's share of the current latch, taken at its start after any signal already noted has
// been passed on, so a signal that came before the wait does not end it.
class ContinueShare {
  public:
    ContinueShare();
    ~ContinueShare();
    ContinueShare(const ContinueShare&) = delete;
    ContinueShare& operator=(const ContinueShare&) = delete;

    // Both -1 before the first open installed the handler: poll skips negative descriptors.
    int pipeFd() const;
    int latchFd() const;
    // For a wait that found the pipe or its latch readable: passes any noted signal on, and
    // says whether one came since this share was taken.
    bool fired();

  private:
    int latch_ = -1;
};

}  // namespace pellusk
