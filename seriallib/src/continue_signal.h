// The continue signal (SIGCONT): the library's handler, its chaining to the handler it replaced,
// the resume flag, and the latch that carries a signal to every waiting receive.
//
// A latch: the handler notes the signal and writes one byte to a self-pipe that every wait also
// polls. No waiter drains that pipe on its own account, since a byte one waiter took would be
// one another waiter never saw; whoever finds it readable fires a latch instead, an eventfd
// that is never drained while any wait shares it; the next wait to begin puts a fresh latch in
// its place. Waits that began before the signal share the fired latch and wake; later ones share
// the new one.
//
// Chaining, as docs/serial-library.md tells the application developer:
// - The handler runs the library's own work, then the action it replaced, as the kernel would
//   have run that action: with its sa_mask (and the signal itself unless SA_NODEFER) blocked,
//   only once if SA_RESETHAND, and on the alternate stack if SA_ONSTACK (the library's own
//   action then asks for that stack).
// - On each thread the chain runs once per signal: a call that comes back into the handler
//   while that thread runs it (an application handler that calls the one it replaced, which is
//   the library's) notes the signal and returns.
// - Copies of the library (one per class loader) know each other through the exported
//   pelluskContinueLink: a copy never installs itself over a copy whose chain leads back to it.
// - At unload the copy takes itself out: it puts back the action it replaced when its own is
//   installed, or has the copy in front of it chain past it. When a foreign handler stands in
//   front of it, the copy cannot know who may still call it: it stays mapped (RTLD_NODELETE),
//   and its handler keeps working.
#pragma once

#include <signal.h>

#include <cstdint>

namespace pellusk {

// Creates the self-pipe and the first latch, once per process; they stay open while the handler
// may write, until the copy's unload. False, with errno set and nothing kept, when the descriptors
// cannot be had; once they are there, true at once without a lock.
bool prepareContinueLatch();

// Installs the library's continue action, unless it is in place already or runs through another
// copy's. (sigaction on SIGCONT with a valid action has no way to fail.)
void installContinueHandler();

// The library's unload: true when the library is out of every chain; false when it could not
// take itself out, and has made itself stay mapped (see above).
bool removeContinueHandler();

// The unload's last step: closes the latches, and the self-pipe too once `handlerGone` says no
// handler of this copy can run any more. While one can, the pipe stays: a byte written to a
// closed number could land in a file that took the number since, and one written to a pipe
// without its reading end would raise SIGPIPE.
void closeContinueLatch(bool handlerGone);

// The resume flag before the call; a clearing read takes it in one exchange, so a signal
// landing during the call is either returned now or kept for the next read, never lost.
int readResumeState(bool clear);

// One wait's share of the current latch, taken at its start after any signal already noted has
// been passed on, so a signal that came before the wait does not end it. In a process forked
// from the one that made the latch, no share is taken: the latch's lock may have been held by a
// thread that the fork did not copy.
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

// What one copy of the library tells another about its continue action. The layout is fixed by
// kContinueLinkMagic; a copy with another magic is a stranger.
struct ContinueLink {
    std::uint32_t magic;
    void (*action)(int, siginfo_t*, void*);
    // The action this copy passes the signal on to; false when none.
    bool (*chained)(struct sigaction* out);
    // Passes the signal on to `to` instead of the action whose handler is `from`; false when
    // this copy chains to something else.
    bool (*rechain)(void* from, const struct sigaction* to);
};
inline constexpr std::uint32_t kContinueLinkMagic = 0x50434c31;  // "PCL1"

}  // namespace pellusk
