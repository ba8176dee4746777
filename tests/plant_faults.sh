#!/usr/bin/env bash
# Plants known faults in a scratch copy of the committed tree, one at a time, and runs the tests
# that should catch each. A fault that no test catches means the suite has lost a check; a fault
# that no longer plants means the code it names has moved, and its entry needs mending.
#
# Usage: tests/plant_faults.sh [--full] [--list] [NAME...]
#   NAME     only the faults whose names contain it
#   --full   run the whole suite for each fault instead of the tests named in its entry
#   --list   print the faults and the tests that should catch them
# Scratch tree: build/plant/src, a copy of the committed tree kept between runs.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$root/build/plant
full=0 list=0 only=()
for arg; do
  case $arg in
    --full) full=1 ;;
    --list) list=1 ;;
    *) only+=("$arg") ;;
  esac
done

names=() files=() edits=() catchers=()
# fault NAME FILE PERL-SUBSTITUTION CTEST-REGEX: the substitution must change FILE.
fault() { names+=("$1"); files+=("$2"); edits+=("$3"); catchers+=("$4"); }

# --- The serial library --------------------------------------------------------------------------
S=seriallib/src J='seriallib\.java\.(x86_64|i386)' X='seriallib\.java\.x86_64' G='seriallib\.qemu\.guest'
fault timeout-outside-table $S/timeouts.cpp 's/if \(!isSlot\(slot\)\) return kTimeoutRefused;//' "$X\.RandomCalls"
fault receive-waits-on-free-slot $S/transfer.cpp \
  's/    if \(port.fd\(\) == kNoDescriptor\) return kFailed;\n//' "$J\.BadInput"
fault numbered-path-off-by-one $S/open_close.cpp 's/length\)\), slot,/length)), slot + 1,/' "$J\.OpenClose"
fault receive-after-close $S/transfer.cpp 's/    if \(!port.stillOpen\(\)\) return kFailed;\n//' "$J\.Transfer"
fault descriptor-closed-under-receive $S/port_table.cpp \
  's/    return dropHold\(slot\);\n\}/    close(fd);\n    return dropHold(slot);\n}/' "$J\.Transfer"
fault nothing-after-hang-up $S/transfer.cpp \
  's/return kNothing;\n    return kFailed;/return kNothing;\n    return kNothing;/' "$J\.Transfer"
fault mark-space-without-parenb $S/line_config.cpp 's/PARENB \| CMSPAR \| PARODD/CMSPAR | PARODD/' "$G"
fault unsent-count-from-input-queue $S/transfer.cpp 's/TIOCOUTQ/TIOCINQ/' "$J\.Transfer"
fault send-chunk-unbounded $S/transfer.cpp \
  's/const jint chunk = std::min\(count, kTransferChunk\);/const jint chunk = count;/' "$X\.(Transfer|RandomCalls)"
fault receive-chunk-unbounded $S/transfer.cpp \
  's/getData\(slot, buffer, std::min\(count, kTransferChunk\)\)/getData(slot, buffer, count)/' "$X\.(Transfer|RandomCalls)"
fault getters-out-of-order $S/line_config.cpp \
  's/(    request.parity = config.getInt\("getParity"\);\n)(    request.dataBits = config.getInt\("getDataBits"\);\n)/$2$1/' \
  "$J\.BadInput"
fault pending-exception-ignored $S/jni_support.cpp \
  's/if \(env_->ExceptionCheck\(\)\) ok_ = false;/env_->ExceptionCheck();/' "$J\.BadInput"
fault slot-left-taken-by-close $S/port_table.cpp 's/    users.store\(0, std::memory_order_release\);\n//' "$J\.OpenClose"
fault resume-flag-cleared-by-any-value $S/card_power.cpp 's/clear == JNI_TRUE/clear != JNI_FALSE/' "$J\.FakeKernel"
fault bit-rate-read-back-dropped $S/line_config.cpp \
  's/cfgetispeed\(&applied\) != cfgetispeed\(&setting\) \|\|\n        cfgetospeed\(&applied\) != cfgetospeed\(&setting\)/false/' \
  "$G|seriallib\.unit\.KeptSpeed"
fault open-sets-up-another-port $S/open_close.cpp \
  's/const PortHold hold = claim.occupy\(fd\);\n    const int setup = applyInitialSetting\(hold.fd\(\)\);/claim.occupy(fd);\n    const int setup = applyInitialSetting(fd);/' \
  'seriallib\.unit\.TableRaces'
fault open-waits-behind-a-close $S/port_table.cpp \
  's/(SlotClaim::SlotClaim\(\) \{\n    for \(int slot = 0; slot < kPortSlots; \+\+slot\) \{\n)/$1        while (atomicRef(portUsers[slot]).load() == kClaimed) {}\n/' \
  "seriallib\.unit\.TableRaces|$G"
fault slot-given-out-before-close-returns $S/port_table.cpp \
  's/const int result = close\(fd\);\n    users.store\(0, std::memory_order_release\);/users.store(0, std::memory_order_release);\n    const int result = close(fd);/' \
  'seriallib\.unit\.TableRaces'
fault table-read-unsynchronised $S/port_table.cpp \
  's/return atomicRef\(hSerPort\[slot\]\).load\(std::memory_order_acquire\);/return hSerPort[slot];/' 'seriallib\.tsan'
fault modem-set-clear-swapped $S/modem_lines.cpp 's/raise \? TIOCMBIS : TIOCMBIC/raise ? TIOCMBIC : TIOCMBIS/' "$G|$J\.FakeKernel"
fault modem-wrong-status-bit $S/modem_lines.cpp 's/statusLine\(slot, TIOCM_DSR\)/statusLine(slot, TIOCM_DTR)/' "$G|$J\.FakeKernel"
fault break-units $S/modem_lines.cpp 's/breakUnits\(duration\)/duration/' "$G|$J\.FakeKernel"
fault card-suspend-request $S/card_power.cpp 's/request = DS_SUSPEND_CARD;/request = DS_RESUME_CARD;/' "$J\.FakeKernel"
fault card-status-socket $S/card_power.cpp \
  's/status.Function = static_cast<std::uint8_t>\(cardSlot\);/status.Function = 0;/' "$J\.FakeKernel"
fault card-status-mapping $S/card_power.cpp \
  's/CS_EVENT_PM_SUSPEND\) != 0 \? 0 : 1/CS_EVENT_PM_SUSPEND) != 0 ? 1 : 0/' "$J\.FakeKernel"
fault card-node-minor $S/card_power.cpp 's/static_cast<unsigned>\(slot\)\)/static_cast<unsigned>(slot + 1))/' "$J\.FakeKernel"
fault card-node-unchecked $S/card_power.cpp \
  's/if \(isTheNode\(fd, device\)\) return fd;/if (isTheNode(fd, device) || true) return fd;/' "$J\.FakeKernel"
fault card-lookup-unlocked $S/card_power.cpp 's/    CardLookupLock lock;\n//' "$J\.FakeKernel"
fault apm-packing $S/apm_line.cpp 's/acLine << 16/acLine << 8/' "$J\.FakeKernel|seriallib\.unit\.ApmStatus"

# --- The launcher --------------------------------------------------------------------------------

if ((list)); then
  for i in "${!names[@]}"; do printf '%-34s %s\n' "${names[$i]}" "${catchers[$i]}"; done
  exit 0
fi

wanted() {
  ((${#only[@]} == 0)) && return 0
  local word
  for word in "${only[@]}"; do [[ $1 == *"$word"* ]] && return 0; done
  return 1
}

# The scratch tree is the committed tree: uncommitted changes are not planted in.
# Files that did not change keep their time stamps, so a new commit costs an incremental build.
src=$scratch/src
mkdir -p "$src" && rm -rf "$scratch/head" && mkdir "$scratch/head"
git -C "$root" archive HEAD | tar -x -C "$scratch/head" || exit 2
(cd "$scratch/head" && find . -type f) | while IFS= read -r f; do
  cmp -s "$scratch/head/$f" "$src/$f" || { mkdir -p "$(dirname "$src/$f")" && cp "$scratch/head/$f" "$src/$f"; }
done
(cd "$src" && find . -path ./build -prune -o -type f -print) | while IFS= read -r f; do
  [[ -e $scratch/head/$f ]] || rm -f "$src/$f"
done
build=$src/build/linux-x86_64
log=$scratch/logs && mkdir -p "$log"

build_tree() { (cd "$src" && cmake --preset linux-x86_64 >/dev/null && cmake --build --preset linux-x86_64) >"$log/build.txt" 2>&1; }
run_tests() {  # regex (empty: everything) -> ctest's status
  local args=(--test-dir "$build" -j2 --timeout 600 --output-on-failure)
  ((full)) || args+=(-R "$1")
  ctest "${args[@]}"
}

echo "Building the scratch copy ($src)..."
build_tree || { echo "The scratch copy does not build: see $log/build.txt"; exit 2; }

# The tests must pass on the unplanted tree, or a failure would prove nothing.
selected=()
for i in "${!names[@]}"; do wanted "${names[$i]}" && selected+=("$i"); done
((${#selected[@]})) || { echo "No fault matches: ${only[*]}"; exit 2; }
union=$(for i in "${selected[@]}"; do echo "${catchers[$i]}"; done | sort -u | paste -sd'|')
echo "Checking that the tests pass unplanted..."
run_tests "$union" >"$log/clean.txt" 2>&1 || { echo "The tests fail unplanted: see $log/clean.txt"; exit 2; }

missed=0
for i in "${selected[@]}"; do
  name=${names[$i]} file=$src/${files[$i]}
  cp "$file" "$scratch/original"
  perl -0pi -e "${edits[$i]}" "$file"
  if cmp -s "$file" "$scratch/original"; then
    printf 'NOT PLANTED  %-34s (the code it names has moved)\n' "$name"
    missed=1
    continue
  fi
  if ! build_tree; then
    printf 'NO BUILD     %-34s (see %s)\n' "$name" "$log/$name.txt"
    cp "$log/build.txt" "$log/$name.txt"
  elif run_tests "${catchers[$i]}" >"$log/$name.txt" 2>&1; then
    printf 'MISSED       %-34s no test failed\n' "$name"
    missed=1
  else
    caught=$(grep -oE '[0-9]+ - [^ ]+ \((Failed|Timeout|SEGFAULT|Subprocess aborted|Exception)\)' "$log/$name.txt" |
      sed -E 's/^[0-9]+ - //; s/ \(.*//' | paste -sd' ')
    printf 'caught       %-34s by %s\n' "$name" "$caught"
  fi
  # Copied back with a new time stamp, so that the next build recompiles it.
  cp "$scratch/original" "$file"
done
build_tree >/dev/null 2>&1
exit $missed
