// The run of a pass: the bytes in front of the central directory arrive from the feed into a
// ring of chunks, and the workers' entry checks take each entry's bytes from there.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/JarCheck.h"
#include "core/zip/CentralDirectory.h"
#include "core/zip/EntryCheck.h"

namespace velmoor::zip {

// Runs one worker for each check, side by side through `runner` when there are several, worker
// 0 on the calling thread, which also calls feed and progress. Each worker claims the next entry
// nobody has claimed and checks it as its bytes arrive. Gives the first verdict other than
// complete, and in `checked` the entry data checked; a throw from feed or a check ends the run
// and is thrown on once every worker has returned.
JarVerdict checkThroughRing(const CentralDirectory& directory,
                            const std::vector<std::unique_ptr<EntryCheck>>& checks,
                            const JarFeed& feed, const JarProgress& progress,
                            const ParallelRun& runner, std::uint64_t& checked);

}  // namespace velmoor::zip
