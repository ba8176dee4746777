#include "UpdateCopy.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "Messages.h"
#include "PlatformError.h"
#include "Update.h"
#include "signature/PublisherRule.h"

namespace velmoor {

std::wstring copyReportMessage(const CopyReport& report) {
    switch (report.end) {
        case CopyReport::verified:
            return std::wstring(kApplicationUpdated);
        case CopyReport::failed:
        case CopyReport::refused:
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
    step();
}

double UpdateCopyRun::progress() const {
    return progressTenThousandths_.load(std::memory_order_relaxed) / 1e4;
}

namespace {

// The published jar read where its bytes lie, each read counted as copy progress; a read asked
// for after the copy was given up fails.
class CountedSource final : public ByteSource {
  public:
    CountedSource(ByteSource& source, std::function<bool(std::uint64_t)> counted)
        : source_(source), counted_(std::move(counted)) {}
    std::uint64_t size() override { return source_.size(); }
    bool read(std::uint64_t offset, void* into, std::size_t count) override {
        return source_.read(offset, into, count) && counted_(count);
    }

  private:
    ByteSource& source_;
    std::function<bool(std::uint64_t)> counted_;
};

}  // namespace

// The publisher of the installed jar, read whole from the local disk in a pass of its own; a
// jar whose directory names no signature block is unsigned, and is read no further. A jar that
// cannot be read whole carries no signature that verifies: the install then takes updates as an
// unsigned one does. But one that names blocks and whose reading fails on the way (the platform's
// crypto, memory) is signed as far as anyone knows: it takes no update.
Publisher UpdateCopyRun::publisherOfInstalled(Services& services) noexcept {
    bool signedJar = false;
    try {
        const std::unique_ptr<ByteSource> installed = services.openBytes(localJar_);
        JarDigests digests(services.crypto());
        JarPass pass(digests.hooks());
        const auto counted = [this](std::uint64_t, std::uint64_t) { return step(), carryOn(); };
        if (pass.open(*installed) != JarVerdict::complete || !digests.hasBlocks()) return {};
        signedJar = true;
        if (runOnSource(pass, *installed, counted) == JarVerdict::complete)
            return publisherOf(readSignatures(digests, pass.kept()));
        return {};
    } catch (...) {
    }
    Publisher unread;
    if (signedJar) unread.unreadAlgorithm = kUnreadableSignature;
    return unread;
}

void UpdateCopyRun::copy(Services& services) {
    // Made here, before the work is spread over threads.
    JarDigests digests(services.crypto());
    JarPass pass(digests.hooks());
    JarVerdict verdict = JarVerdict::damaged;
    std::exception_ptr failure;
    Publisher publisher;
    // The installed jar is read beside the copy, which mostly waits on the network: the read of
    // the local disk costs the user no time of its own.
    const auto task = [&](std::size_t worker) {
        if (worker == 1) {
            publisher = publisherOfInstalled(services);
            return;
        }
        try {
            verdict = copyChecking(services, pass);
        } catch (...) {
            failure = std::current_exception();
        }
    };
    if (const ParallelRun run = services.parallelWork().run) {
        run(2, task);
    } else {
        task(0), task(1);
    }
    if (failure) std::rethrow_exception(failure);
    if (!carryOn()) return;
    advance(1);
    if (verdict != JarVerdict::complete) {
        report_.end = CopyReport::rejected;
        final_ = verdict == JarVerdict::damaged || verdict == JarVerdict::unrunnable;
    } else if (auto refusal = refusalOf(publisher, readSignatures(digests, pass.kept()),
                                        services.currentTime())) {
        report_ = {CopyReport::refused, std::move(*refusal)};
        final_ = true;
    } else {
        report_.end = CopyReport::verified;
    }
}

// Reads and checks the central directory, then copies the bytes in front of it while the pass
// checks them, then writes the directory. The copy stops at the first fault found.
JarVerdict UpdateCopyRun::copyChecking(Services& services, JarPass& pass) {
    std::uint64_t done = 0, size = 1;
    const auto counted = [&](std::uint64_t bytes) {
        done += bytes;
        advance(static_cast<double>(done) / static_cast<double>(size));
        return carryOn();
    };
    {
        const std::unique_ptr<ByteSource> published = services.openBytes(remoteJar_);
        size = std::max<std::uint64_t>(published->size(), 1);
        if (const auto time = services.lastModified(remoteJar_))
            publish_ = PublishStamp{*time, published->size()};
        CountedSource source(*published, counted);
        const JarVerdict verdict = pass.open(source);
        if (verdict != JarVerdict::complete) return verdict;
    }
    const std::unique_ptr<FileCopy> file = services.startCopy(remoteJar_, temporary_);
    // Replaced since the directory was read: the next start looks at the new one.
    if (file->size() != pass.end().fileSize) return JarVerdict::incomplete;
    const ParallelWork parallel = services.parallelWork();
    const JarVerdict verdict = pass.run(
        [&](std::span<unsigned char> into) -> std::size_t {
            const std::size_t read = file->read(into.data(), into.size());
            // The read may have come back long after the copy was given up.
            if (read == 0 || !carryOn()) return 0;
            file->write(into.data(), read);
            return counted(read) ? read : 0;
        },
        // While the last entries are checked, the copy is seen to move.
        [&](std::uint64_t, std::uint64_t) { return counted(0); }, parallel.run, parallel.workers);
    if (verdict != JarVerdict::complete || !carryOn()) return verdict;
    file->write(pass.tail().data(), pass.tail().size());
    file->finish();
    return verdict;
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
    if (!handOver()) services.removeFile(temporary_);
}

UpdateCopyRun::Outcome UpdateCopyRun::poll(std::int64_t elapsedMs) {
    const std::uint32_t steps = steps_.load(std::memory_order_acquire);
    if (steps != stepsSeen_) stepsSeen_ = steps, lastStepMs_ = elapsedMs;
    return WorkerRun::poll(elapsedMs - lastStepMs_ >= kStallMs);
}

void UpdateCopyRun::abandon(Services& services) {
    giveUp();
    services.removeFile(temporary_);
}

CopyReport UpdateCopyRun::conclude(Services& services) {
    if (givenUp()) {
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
    if (final_ && publish_) {
        try {
            refusePublish(services, localJar_, *publish_);
        } catch (const PlatformError&) {
            // Unrecorded, the same publish is copied and refused again: no worse than before.
        }
    }
    return report_;
}

}  // namespace velmoor
