#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>

#include "WinHandles.h"

namespace velmoor {

// Every thread the launcher starts. Owned like any handle: the object waits for the thread's
// end when it goes, so that no thread outlives the stack whose data it uses; unless the thread
// was let go, and then its work must own all it touches. Work that throws ends its thread, not
// the process: what it threw is kept for join.
class Thread {
  public:
    Thread() = default;
    Thread(Thread&&) noexcept = default;
    Thread& operator=(Thread&&) = delete;
    ~Thread();

    // Starts the work on a thread of its own; an empty Thread when none could be started.
    static Thread start(std::function<void()> work);

    explicit operator bool() const { return static_cast<bool>(handle_); }

    // Waits for the thread to end, then rethrows what its work threw.
    void join();

    // Lets the thread run on, awaited by nobody, to the end of its work or of the process.
    void detach() { handle_.reset(); }

  private:
    struct Run {
        std::function<void()> work;
        std::exception_ptr thrown;
    };
    static DWORD WINAPI run(void* parameter);

    KernelHandle handle_;
    std::shared_ptr<Run> run_;
};

// Runs task(0) to task(workers - 1) at the same time: worker 0 on the calling thread, each other
// one on a thread of its own, or after worker 0 where none would start. Returns once every
// worker has ended, and throws what a worker threw, the calling thread's own first.
void runOnThreads(std::size_t workers, const std::function<void(std::size_t)>& task);

}  // namespace velmoor
