#include "UpdateCheckRun.h"

namespace velmoor {

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
