#include "Thread.h"

#include <windows.h>

#include <utility>
#include <vector>

namespace velmoor {

Thread Thread::start(std::function<void()> work) {
    Thread thread;
    thread.run_ = std::make_shared<Run>(Run{std::move(work), nullptr});
    // The thread holds the run too, so that a thread let go still has its work.
    auto held = std::make_unique<std::shared_ptr<Run>>(thread.run_);
    const HANDLE handle = ::CreateThread(nullptr, 0, run, held.get(), 0, nullptr);
    if (!handle) return {};
    held.release();
    thread.handle_.reset(handle);
    return thread;
}

DWORD WINAPI Thread::run(void* parameter) {
    const std::unique_ptr<std::shared_ptr<Run>> held(static_cast<std::shared_ptr<Run>*>(parameter));
    Run& run = **held;
    try {
        run.work();
    } catch (...) {
        run.thrown = std::current_exception();
    }
    return 0;
}

void Thread::join() {
    if (!handle_) return;
    ::WaitForSingleObject(handle_.get(), INFINITE);
    handle_.reset();
    if (run_ && run_->thrown) std::rethrow_exception(std::exchange(run_->thrown, nullptr));
}

Thread::~Thread() {
    if (handle_) ::WaitForSingleObject(handle_.get(), INFINITE);
}

// The threads are awaited on every way out, a throw included: they use the task on this stack.
void runOnThreads(std::size_t workers, const std::function<void(std::size_t)>& task) {
    std::vector<Thread> threads;
    std::vector<std::size_t> unstarted;
    threads.reserve(workers);
    for (std::size_t w = 1; w < workers; ++w) {
        Thread thread = Thread::start([&task, w] { task(w); });
        if (thread) {
            threads.push_back(std::move(thread));
        } else {
            unstarted.push_back(w);
        }
    }
    task(0);
    // A worker whose thread would not start still runs, after worker 0, rather than not at all.
    for (const std::size_t w : unstarted) task(w);
    for (Thread& thread : threads) thread.join();
}

}  // namespace velmoor
