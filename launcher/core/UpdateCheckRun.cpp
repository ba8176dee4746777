#include "UpdateCheckRun.h"

namespace velmoor {

BoundedRun::Outcome BoundedRun::poll(std::int64_t elapsedMs) {
    int state = state_.load(std::memory_order_acquire);
    // On failure the exchange loads the state the worker has just set.
    if (state == working && elapsedMs >= patienceMs_ &&
        state_.compare_exchange_strong(state, givenUpState, std::memory_order_acq_rel)) {
        return Outcome::unreachable;
    }
    switch (state) {
        case handedOver:
            return Outcome::answered;
        case givenUpState:
            return Outcome::unreachable;
        default:
            return Outcome::pending;
    }
}

void BoundedRun::handOver() {
    int expected = working;
    state_.compare_exchange_strong(expected, handedOver, std::memory_order_acq_rel);
}

void UpdateCheckRun::run(Services& services) noexcept {
    std::optional<UpdateFindings> findings;
    try {
        findings = examineUpdateFolder(services, applicationDirectory_, jarName_);
    } catch (...) {
        // Nothing to offer: the launch goes ahead as if the folder were unreachable.
    }
    if (givenUp()) return;
    findings_ = std::move(findings);
    handOver();
}

void ChangesReadRun::run(Services& services) noexcept {
    std::optional<std::wstring> changes;
    try {
        changes = readChanges(services);
    } catch (...) {
        // Out of memory: the yes/no box asks instead.
    }
    if (givenUp()) return;
    changes_ = std::move(changes);
    handOver();
}

}  // namespace velmoor
