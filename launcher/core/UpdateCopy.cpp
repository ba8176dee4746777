#include "UpdateCopy.h"

#include <algorithm>
#include <vector>

#include "Messages.h"
#include "PlatformError.h"
#include "Update.h"
#include "UpdateTrial.h"

namespace velmoor {

namespace {

// The copy reads over the network and the check reads the local copy, so the copy takes most
// of the time.
constexpr double kCopyShare = 0.75;

}  // namespace

std::wstring copyReportMessage(const CopyReport& report) {
    switch (report.end) {
        case CopyReport::verified:
            return std::wstring(kApplicationUpdated);
        case CopyReport::failed:
            return updateFailedMessage(report.failure);
        case CopyReport::rejected:
            return updateFailedMessage(kJarIncompleteOrDamaged);
        case CopyReport::stalled:
            break;
    }
    return updateFailedMessage(kCopyStalled);
}

UpdateCopyRun::UpdateCopyRun(std::wstring remoteJar, std::wstring localJar)
    : remoteJar_(std::move(remoteJar)),
      localJar_(std::move(localJar)),
      temporary_(temporaryJarPath(localJar_)) {}

void UpdateCopyRun::advance(double progress) {
    progressTenThousandths_.store(static_cast<std::uint32_t>(std::clamp(progress, 0.0, 1.0) * 1e4),
                                  std::memory_order_relaxed);
    steps_.fetch_add(1, std::memory_order_release);
}

double UpdateCopyRun::progress() const {
    return progressTenThousandths_.load(std::memory_order_relaxed) / 1e4;
}

void UpdateCopyRun::copy(Services& services) {
    {
        const std::unique_ptr<FileCopy> file = services.startCopy(remoteJar_, temporary_);
        const auto size = static_cast<double>(std::max<std::uint64_t>(file->size(), 1));
        std::vector<unsigned char> chunk(kChunkBytes);
        std::uint64_t done = 0;
        for (;;) {
            const std::size_t read = file->read(chunk.data(), chunk.size());
            // The read may have come back long after the copy was given up.
            if (!carryOn()) return;
            if (read == 0) break;
            file->write(chunk.data(), read);
            done += read;
            advance(kCopyShare * static_cast<double>(done) / size);
        }
        file->finish();
    }
    const std::unique_ptr<ByteSource> copied = services.openBytes(temporary_);
    const ParallelWork parallel = services.parallelWork();
    const JarVerdict verdict = verifyJar(
        *copied,
        [this](std::uint64_t done, std::uint64_t total) {
            const double checked = total ? static_cast<double>(done) / total : 1;
            advance(kCopyShare + (1 - kCopyShare) * checked);
            return carryOn();
        },
        parallel.run, parallel.workers);
    advance(1);
    report_.end = verdict == JarVerdict::complete ? CopyReport::verified : CopyReport::rejected;
}

void UpdateCopyRun::run(Services& services) noexcept {
    try {
        copy(services);
    } catch (const PlatformError& error) {
        report_ = {CopyReport::failed, error.description()};
    } catch (...) {
        report_ = {CopyReport::rejected, {}};
    }
    // Every handle on the copy is closed by now, so a copy given up can be removed.
    int expected = working;
    if (!state_.compare_exchange_strong(expected, handedOver, std::memory_order_acq_rel)) {
        services.removeFile(temporary_);
    }
}

UpdateCopyRun::Outcome UpdateCopyRun::poll(std::int64_t elapsedMs) {
    const std::uint32_t steps = steps_.load(std::memory_order_acquire);
    if (steps != stepsSeen_) stepsSeen_ = steps, lastStepMs_ = elapsedMs;
    int state = state_.load(std::memory_order_acquire);
    if (state == working && elapsedMs - lastStepMs_ >= kStallMs) {
        // On failure the exchange loads the state the worker has just set.
        state_.compare_exchange_strong(state, givenUp, std::memory_order_acq_rel);
        if (state == working) state = givenUp;
    }
    return state == working ? Outcome::pending : Outcome::ended;
}

void UpdateCopyRun::abandon(Services& services) {
    state_.store(givenUp, std::memory_order_release);
    services.removeFile(temporary_);
}

CopyReport UpdateCopyRun::conclude(Services& services) {
    if (state_.load(std::memory_order_acquire) == givenUp) {
        services.removeFile(temporary_);
        return {CopyReport::stalled, {}};
    }
    if (report_.end == CopyReport::verified) {
        try {
            installCopy(services, temporary_, localJar_);
            return report_;
        } catch (const PlatformError& error) {
            services.removeFile(temporary_);
            return {CopyReport::failed, error.description()};
        }
    }
    services.removeFile(temporary_);
    return report_;
}

}  // namespace velmoor
