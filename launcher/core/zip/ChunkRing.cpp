#include "core/zip/ChunkRing.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <limits>
#include <span>
#include <thread>

namespace velmoor::zip {

namespace {

// The ring of chunks (JarPass::kChunkBytes) that the bytes in front of the central directory pass
// through: enough for the reader to run ahead of the workers by several reads, little for memory.
constexpr std::size_t kRingChunks = 8;
// Progress is reported after this much more entry data, or after this long with any more.
constexpr std::uint64_t kProgressStep = 4 * 1024 * 1024;
constexpr std::chrono::milliseconds kReportStep{100};
// A worker waiting for bytes, or for the others, first gives way this many times, since the wait
// is mostly short (a chunk on its way, another worker's entry), then sleeps this long between
// looks, since over a slow share it is long.
constexpr int kYieldsBeforeSleep = 100;
constexpr std::chrono::milliseconds kIdleStep{1};

// What the workers of one run share: the ring of chunks the bytes arrive in, the entries
// claimed and finished, and the first verdict other than complete, which stops every worker.
// A chunk's slot takes a later chunk only once no worker needs its bytes: each worker says
// below which offset it needs nothing more, and so does the next entry nobody has claimed.
struct Flow {
    Flow(const CentralDirectory& directory, std::size_t workers);

    const CentralDirectory& directory;
    const std::size_t slotCount;
    const std::size_t slotSize;
    std::vector<std::unique_ptr<unsigned char[]>> slots;
    std::atomic<std::uint64_t> arrived{0};
    std::atomic<std::size_t> claimed{0};
    std::atomic<std::size_t> finished{0};
    std::unique_ptr<std::atomic<std::uint64_t>[]> need;
    const std::size_t workers;
    std::atomic<std::uint64_t> checked{0};
    std::atomic<JarVerdict> verdict{JarVerdict::complete};
    std::atomic<bool> threw{false};
    std::exception_ptr error;

    bool going() const { return verdict.load(std::memory_order_relaxed) == JarVerdict::complete; }
    void fail(JarVerdict failed) {
        JarVerdict expected = JarVerdict::complete;
        verdict.compare_exchange_strong(expected, failed);
    }
    void fail(std::exception_ptr thrown) {
        if (!threw.exchange(true)) error = std::move(thrown);
        fail(JarVerdict::damaged);
    }
    // The offset below which no byte is needed any more. The claim count is read before what
    // the workers need, and a worker says what it needs before it claims, so an entry being
    // claimed is covered by one or the other.
    std::uint64_t freeBelow() const {
        const std::size_t next = claimed.load();
        std::uint64_t below = next < directory.entries.size() ? directory.entries[next].start
                                                              : directory.end.dirStart;
        for (std::size_t w = 0; w < workers; ++w) below = std::min(below, need[w].load());
        return below;
    }
    std::span<const unsigned char> bytesAt(std::uint64_t offset, std::uint64_t until) const {
        const std::uint64_t chunk = offset / slotSize;
        const std::uint64_t chunkEnd = (chunk + 1) * slotSize;
        return {slots[chunk % slotCount].get() + (offset - chunk * slotSize),
                static_cast<std::size_t>(std::min(until, chunkEnd) - offset)};
    }
};

Flow::Flow(const CentralDirectory& state, std::size_t workerCount)
    : directory(state),
      slotCount(static_cast<std::size_t>(std::clamp<std::uint64_t>(
          (state.end.dirStart + JarPass::kChunkBytes - 1) / JarPass::kChunkBytes, 1, kRingChunks))),
      slotSize(static_cast<std::size_t>(
          std::clamp<std::uint64_t>(state.end.dirStart, 1, JarPass::kChunkBytes))),
      need(std::make_unique<std::atomic<std::uint64_t>[]>(workerCount)),
      workers(workerCount) {
    for (std::size_t s = 0; s < slotCount; ++s)
        slots.push_back(std::make_unique_for_overwrite<unsigned char[]>(slotSize));
    for (std::size_t w = 0; w < workers; ++w) need[w] = std::numeric_limits<std::uint64_t>::max();
}

// One worker: claims the entries nobody has claimed, one at a time, and checks each as far as
// its bytes have arrived.
class Worker {
  public:
    Worker(Flow& flow, std::size_t index, EntryCheck& check)
        : flow_(flow), index_(index), check_(check) {}

    // Checks what it can of the bytes that have arrived; false when there was nothing to do.
    bool step() {
        if (!check_.busy() && !claim()) return false;
        const std::uint64_t arrived = flow_.arrived.load();
        if (check_.at() >= arrived) return false;
        const auto bytes = flow_.bytesAt(check_.at(), std::min(arrived, check_.until()));
        if (check_.inData()) flow_.checked.fetch_add(bytes.size(), std::memory_order_relaxed);
        const JarVerdict verdict = check_.take(bytes);
        if (verdict == JarVerdict::complete && !check_.busy()) flow_.finished.fetch_add(1);
        flow_.need[index_].store(check_.at());
        if (verdict != JarVerdict::complete) {
            flow_.fail(verdict);
            return false;
        }
        return true;
    }
    // Nothing claimed and nothing left to claim.
    bool done() const { return done_; }

  private:
    bool claim() {
        if (done_) return false;
        const auto& entries = flow_.directory.entries;
        const std::size_t lower = std::min(flow_.claimed.load(), entries.size());
        flow_.need[index_].store(lower < entries.size() ? entries[lower].start
                                                        : flow_.directory.end.dirStart);
        const std::size_t claimed = flow_.claimed.fetch_add(1);
        if (claimed >= entries.size()) {
            flow_.need[index_].store(std::numeric_limits<std::uint64_t>::max());
            done_ = true;
            return false;
        }
        check_.start(claimed);
        // Until now it said it needed the first entry unclaimed, which may lie before its own.
        flow_.need[index_].store(entries[claimed].start);
        return true;
    }

    Flow& flow_;
    const std::size_t index_;
    EntryCheck& check_;
    bool done_ = false;
};

// Waits a little for a worker that found nothing to do.
class Idle {
  public:
    void operator()(bool worked) {
        if (worked) {
            waits_ = 0;
        } else if (++waits_ < kYieldsBeforeSleep) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(kIdleStep);
        }
    }

  private:
    int waits_ = 0;
};

// Reports the data checked to the progress callback, now and then, and stops the run when it
// says so.
class Reporter {
  public:
    Reporter(Flow& flow, const JarProgress& progress) : flow_(flow), progress_(progress) {}

    void now() {
        const std::uint64_t done = flow_.checked.load(std::memory_order_relaxed);
        const auto at = std::chrono::steady_clock::now();
        if (!progress_ || done == reported_ ||
            (done - reported_ < kProgressStep && at - reportedAt_ < kReportStep))
            return;
        reported_ = done, reportedAt_ = at;
        if (flow_.going() && !progress_(done, flow_.directory.dataTotal))
            flow_.fail(JarVerdict::stopped);
    }

  private:
    Flow& flow_;
    const JarProgress& progress_;
    std::uint64_t reported_ = 0;
    std::chrono::steady_clock::time_point reportedAt_ = std::chrono::steady_clock::now();
};

// Worker 0: reads the bytes into the ring, and checks entries itself whenever the ring is full,
// so that it never waits for workers that may not run; once everything has arrived it checks
// alongside the others, then waits for them.
void feedAndCheck(Flow& flow, Worker& self, const JarFeed& feed, Reporter& reporter) {
    const std::uint64_t total = flow.directory.end.dirStart;
    std::uint64_t fed = 0;
    Idle idle;
    while (flow.going() && fed < total) {
        const std::uint64_t chunk = fed / flow.slotSize;
        if (chunk >= flow.slotCount &&
            flow.freeBelow() < (chunk - flow.slotCount + 1) * flow.slotSize) {
            idle(self.step());
            reporter.now();
            continue;
        }
        unsigned char* slot = flow.slots[chunk % flow.slotCount].get();
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(flow.slotSize, total - fed));
        for (std::size_t got = 0; got < wanted;) {
            const std::size_t read = feed({slot + got, wanted - got});
            if (read == 0 || read > wanted - got) return flow.fail(JarVerdict::incomplete);
            got += read;
        }
        fed += wanted;
        flow.arrived.store(fed);
        reporter.now();
    }
    while (flow.going() && self.step()) reporter.now();
    while (flow.going() && flow.finished.load() < flow.directory.entries.size()) {
        idle(self.step());
        reporter.now();
    }
}

void checkAlong(Flow& flow, Worker& self) {
    Idle idle;
    while (flow.going()) {
        const bool worked = self.step();
        if (!worked && self.done()) return;
        idle(worked);
    }
}

}  // namespace

JarVerdict checkThroughRing(const CentralDirectory& directory,
                            const std::vector<std::unique_ptr<EntryCheck>>& checks,
                            const JarFeed& feed, const JarProgress& progress,
                            const ParallelRun& runner, std::uint64_t& checked) {
    const std::size_t workers = checks.size();
    Flow flow(directory, workers);
    std::vector<Worker> team;
    team.reserve(workers);
    for (std::size_t w = 0; w < workers; ++w) team.emplace_back(flow, w, *checks[w]);
    Reporter reporter(flow, progress);
    const auto task = [&](std::size_t w) {
        try {
            if (w == 0) {
                feedAndCheck(flow, team[0], feed, reporter);
            } else {
                checkAlong(flow, team[w]);
            }
        } catch (...) {
            flow.fail(std::current_exception());
        }
    };
    if (workers == 1) {
        task(0);
    } else {
        runner(workers, task);
    }
    if (flow.error) std::rethrow_exception(flow.error);
    checked = flow.checked.load();
    return flow.verdict.load();
}

}  // namespace velmoor::zip
