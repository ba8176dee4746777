#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "JarCheck.h"
#include "Services.h"
#include "UpdateTrial.h"
#include "WorkerRun.h"
#include "signature/Crypto.h"
#include "signature/PublisherRule.h"

namespace velmoor {

// How a copy of the published jar ended, and what the user is told of it.
struct CopyReport {
    enum End {
        verified,  // whole, checked, ready to take the installed jar's place
        failed,    // a platform call failed; failure says why
        rejected,  // the copy is not a whole jar
        stalled,   // the copy made no progress for too long and was given up
        refused,   // a signed install's update not signed by its publisher; failure says why
    };
    End end = failed;
    std::wstring failure;
};

std::wstring copyReportMessage(const CopyReport& report);

// One copy of the published jar to the temporary file beside the installed one, checked as it
// comes in, made on a worker thread while the splash window shows how far it has come. The
// published jar's central directory is read and checked first; then each entry is checked as
// the copy brings its bytes, so that the check takes no time of its own, and the copy ends
// with the directory as it was read and checked. An install whose jar is signed takes only an
// update signed by its publisher: the same pass digests the entries for the update's signatures,
// and the installed jar's own signature is read from the local disk while the copy waits on the
// network.
// A read from a share whose server has gone can block for minutes, or for good, so the
// user-interface thread never waits for the worker: it gives the copy up once it has made no
// progress for a while, and the worker, should it ever come back, writes nothing more and
// removes what it wrote. Only the user-interface thread puts the copy in place, and only when
// the worker has handed it over whole and checked, so nothing replaces the installed jar once
// the copy has been given up.
class UpdateCopyRun : public WorkerRun {
  public:
    // A share's hiccups (a reconnect, a server busy for a moment) last a few seconds; a copy
    // without a single chunk for 15 s is a server that has gone, and a user watching the
    // splash would give up on it not much later.
    static constexpr std::int64_t kStallMs = 15000;

    UpdateCopyRun(std::wstring remoteJar, std::wstring localJar);

    // On the worker thread. Never throws.
    void run(Services& services) noexcept;

    // On the user-interface thread, with the time since the copy started: answered once the
    // worker has handed over; given up once the copy has stalled.
    Outcome poll(std::int64_t elapsedMs);

    // How much of the published jar has been read, from 0 to 1.
    double progress() const;

    // On the user-interface thread: stops the copy where it stands and removes the temporary
    // file (the worker removes it too if it was still writing).
    void abandon(Services& services);

    // On the user-interface thread once poll has said it is no longer pending: puts a verified copy
    // in place of the installed jar, removes any other, and says how it went.
    CopyReport conclude(Services& services);

  private:
    void advance(double progress);
    // Counts a step without moving the progress shown.
    void step() { steps_.fetch_add(1, std::memory_order_release); }
    void copy(Services& services);
    Publisher publisherOfInstalled(Services& services) noexcept;
    JarVerdict copyChecking(Services& services, JarPass& pass);

    const std::wstring remoteJar_;
    const std::wstring localJar_;
    const std::wstring temporary_;
    // Counts every chunk copied and every step of the check, so that the user-interface thread
    // sees that the copy moves even where the progress does not show it.
    std::atomic<std::uint32_t> steps_{0};
    std::atomic<std::uint32_t> progressTenThousandths_{0};
    // Written by the worker before it hands over: the report, the publish copied, and whether
    // its refusal is final (a damaged or unrunnable jar, or one not from the publisher; not a
    // copy cut short, which the next start tries again).
    CopyReport report_;
    std::optional<PublishStamp> publish_;
    bool final_ = false;
    // The user-interface thread's own.
    std::uint32_t stepsSeen_ = 0;
    std::int64_t lastStepMs_ = 0;
};

}  // namespace velmoor
