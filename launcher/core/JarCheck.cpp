// The pass: the central directory read and checked at open, the entries checked through the
// chunk ring at run, and last what java needs to start the jar.
#include "JarCheck.h"

#include <optional>
#include <utility>
#include <vector>

#include "Manifest.h"
#include "zip/CentralDirectory.h"
#include "zip/ChunkRing.h"
#include "zip/EntryCheck.h"

namespace velmoor {

using zip::Entry;

struct JarPass::State {
    JarHooks hooks;
    bool opened = false;
    zip::CentralDirectory directory;
    std::int32_t manifestSlot = -1;
    std::vector<std::string> keptContents;
    KeptFiles kept;

    JarVerdict keepFiles();
    JarVerdict checkManifest() const;
};

// Gives the manifest and the files the hooks ask for a slot each to be kept in.
JarVerdict JarPass::State::keepFiles() {
    for (Entry& entry : directory.entries) {
        const std::string_view name = directory.name(entry);
        const bool manifest = name == kManifestName;
        if (!manifest && !(hooks.keep && hooks.keep(name))) continue;
        if (entry.uncompressedSize > kMaxKeptBytes) return JarVerdict::damaged;
        entry.keptSlot = static_cast<std::int32_t>(keptContents.size());
        keptContents.emplace_back().reserve(static_cast<std::size_t>(entry.uncompressedSize));
        if (manifest) manifestSlot = entry.keptSlot;
    }
    // java -jar finds the manifest by this name, in this case, or says the jar is corrupt.
    return manifestSlot >= 0 ? JarVerdict::complete : JarVerdict::unrunnable;
}

// java refuses a manifest its reader cannot read, and starts nothing without a main class.
JarVerdict JarPass::State::checkManifest() const {
    const std::optional<Manifest> manifest = parseManifest(keptContents[manifestSlot]);
    const std::string* mainClass = manifest ? manifest->main.find("Main-Class") : nullptr;
    const bool named = mainClass && mainClass->find_first_not_of(" \t") != std::string::npos;
    return named ? JarVerdict::complete : JarVerdict::unrunnable;
}

JarPass::JarPass(JarHooks hooks) : state_(std::make_unique<State>()) {
    state_->hooks = std::move(hooks);
}

JarPass::~JarPass() = default;

JarVerdict JarPass::open(ByteSource& jar) {
    State& s = *state_;
    JarVerdict verdict = s.directory.read(jar);
    if (verdict == JarVerdict::complete) verdict = s.keepFiles();
    s.opened = verdict == JarVerdict::complete;
    return verdict;
}

std::span<const unsigned char> JarPass::tail() const {
    return {state_->directory.tail.get(), state_->directory.tailSize};
}

const JarEnd& JarPass::end() const {
    return state_->directory.end;
}

const KeptFiles& JarPass::kept() const {
    return state_->kept;
}

JarVerdict JarPass::run(const JarFeed& feed, const JarProgress& progress, const ParallelRun& runner,
                        std::size_t workers) {
    State& s = *state_;
    if (!s.opened) return JarVerdict::damaged;
    if (!runner || workers == 0) workers = 1;
    // Made here rather than in each worker, so that running out of memory throws to the caller.
    std::vector<std::unique_ptr<zip::EntryCheck>> checks;
    for (std::size_t w = 0; w < workers; ++w) {
        checks.push_back(std::make_unique<zip::EntryCheck>(
            s.directory, s.hooks.consumer ? s.hooks.consumer(w) : nullptr, s.keptContents));
    }
    std::uint64_t checked = 0;
    JarVerdict verdict =
        zip::checkThroughRing(s.directory, checks, feed, progress, runner, checked);
    if (verdict != JarVerdict::complete) return verdict;
    if (progress && !progress(checked, s.directory.dataTotal)) return JarVerdict::stopped;
    verdict = s.checkManifest();
    if (verdict != JarVerdict::complete) return verdict;
    for (const Entry& entry : s.directory.entries) {
        if (entry.keptSlot >= 0)
            s.kept.emplace(s.directory.name(entry), std::move(s.keptContents[entry.keptSlot]));
    }
    return JarVerdict::complete;
}

JarVerdict verifyJar(ByteSource& jar, const JarProgress& progress, const ParallelRun& runner,
                     std::size_t workers) {
    JarPass pass;
    return verifyJar(jar, pass, progress, runner, workers);
}

JarVerdict verifyJar(ByteSource& jar, JarPass& pass, const JarProgress& progress,
                     const ParallelRun& runner, std::size_t workers) {
    const JarVerdict verdict = pass.open(jar);
    if (verdict != JarVerdict::complete) return verdict;
    return runOnSource(pass, jar, progress, runner, workers);
}

JarVerdict runOnSource(JarPass& pass, ByteSource& jar, const JarProgress& progress,
                       const ParallelRun& runner, std::size_t workers) {
    std::uint64_t at = 0;
    bool failed = false;
    const JarVerdict verdict = pass.run(
        [&](std::span<unsigned char> into) -> std::size_t {
            if (!jar.read(at, into.data(), into.size())) return failed = true, 0;
            at += into.size();
            return into.size();
        },
        progress, runner, workers);
    return failed ? JarVerdict::unreadable : verdict;
}

}  // namespace velmoor
