#include "WorkerRun.h"

namespace velmoor {

WorkerRun::Outcome WorkerRun::poll(bool overdue) {
    int state = state_.load(std::memory_order_acquire);
    // On failure the exchange loads the state the worker has just set.
    if (state == working && overdue &&
        state_.compare_exchange_strong(state, givenUpState, std::memory_order_acq_rel)) {
        return Outcome::givenUp;
    }
    switch (state) {
        case handedOver:
            return Outcome::answered;
        case givenUpState:
            return Outcome::givenUp;
        default:
            return Outcome::pending;
    }
}

void WorkerRun::giveUp() {
    int expected = working;
    state_.compare_exchange_strong(expected, givenUpState, std::memory_order_acq_rel);
}

bool WorkerRun::handOver() {
    int expected = working;
    return state_.compare_exchange_strong(expected, handedOver, std::memory_order_acq_rel);
}

}  // namespace velmoor
