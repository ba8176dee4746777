#include "UpdateCheckRun.h"

namespace velmoor {

void UpdateCheckRun::run(Services& services) noexcept {
    std::optional<UpdateFindings> findings;
    try {
        findings = examineUpdateFolder(services, applicationDirectory_, jarName_);
    } catch (...) {
        // Nothing to offer: the launch goes ahead as if the folder were unreachable.
    }
    if (state_.load(std::memory_order_acquire) == givenUp) return;
    findings_ = std::move(findings);
    int expected = working;
    state_.compare_exchange_strong(expected, handedOver, std::memory_order_acq_rel);
}

UpdateCheckRun::Outcome UpdateCheckRun::poll(std::int64_t elapsedMs) {
    int state = state_.load(std::memory_order_acquire);
    // On failure the exchange loads the state the worker has just set.
    if (state == working && elapsedMs >= kPatienceMs &&
        state_.compare_exchange_strong(state, givenUp, std::memory_order_acq_rel)) {
        return Outcome::unreachable;
    }
    switch (state) {
        case handedOver:
            return Outcome::answered;
        case givenUp:
            return Outcome::unreachable;
        default:
            return Outcome::pending;
    }
}

}  // namespace velmoor
