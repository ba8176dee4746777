#!/usr/bin/env bash
# Plants known faults in a scratch copy of the committed tree, one at a time, and runs the tests
# that should catch each. MISSED means the suite has lost a check; NOT PLANTED means the code the
# entry names has moved, and the entry needs mending.
#   tests/plant_faults.sh [--full] [NAME...]   NAME: only faults whose names contain it;
#   --full: the whole suite for each fault instead of the tests its entry names.
# The scratch tree, build/plant/src, is the committed tree: uncommitted changes are not planted in.
# Plain mutants (an operator turned, a constant moved, a statement dropped) are tests/mutate.sh's to
# plant; this table keeps the faults it cannot make: a wrong name or call, a wrong order, a flag left off.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$root/build/plant src=$root/build/plant/src
full=0 only=()
for arg; do if [[ $arg == --full ]]; then full=1; else only+=("$arg"); fi; done

names=() files=() edits=() catchers=()
# fault NAME FILE PERL-SUBSTITUTION CTEST-REGEX
fault() {
  local word
  for word in "${only[@]}"; do [[ $1 == *"$word"* ]] && break; word=; done
  [[ ${#only[@]} -eq 0 || -n $word ]] && names+=("$1") files+=("$2") edits+=("$3") catchers+=("$4")
}

# --- The serial library --------------------------------------------------------------------------
S=seriallib/src J='seriallib\.java\.(x86_64|i386)' X='seriallib\.java\.x86_64' G='seriallib\.qemu\.guest'
fault numbered-path-off-by-one $S/exports.cpp 's/length\)\), slot,/length)), slot + 1,/' "$J\.OpenClose"
fault calls-after-close-hold $S/port_table.cpp 's/if \(count <= 0 \|\| \(count & kClosing\) != 0\) return false;/if (count <= 0) return false;/' \
  "$J\.OpenClose"
fault close-result-lost $S/port_table.cpp 's/    errno = error;\n    return result;/    errno = error;\n    return result \& 0;/' 'seriallib\.unit\.TableRaces'
fault drain-of-free-slot-fails $S/transfer.cpp 's/    if \(port.fd\(\) == kNoDescriptor\) return 0;/    if (port.fd() == kNoDescriptor) return tcdrain(port.fd());/' "$J\.BadInput"
fault nothing-after-hang-up $S/transfer.cpp \
  's/return kNothing;\n    return kFailed;/return kNothing;\n    return kNothing;/' "$J\.Transfer"
fault six-data-bits-as-five $S/line_config.cpp 's/\{CS5, CS6, CS7, CS8\}/{CS5, CS5, CS7, CS8}/' "seriallib\.unit\.LineSetting|$G"
fault mark-space-without-parenb $S/line_config.cpp 's/PARENB \| CMSPAR \| PARODD/CMSPAR | PARODD/' 'seriallib\.unit\.LineSetting'
fault unsent-count-from-input-queue $S/transfer.cpp 's/TIOCOUTQ/TIOCINQ/' "$J\.Transfer"
fault send-chunk-unbounded $S/exports.cpp \
  's/const jint chunk = std::min\(count, kTransferChunk\);/const jint chunk = count;/' "$X\.BadInput"
fault receive-chunk-unbounded $S/exports.cpp \
  's/getData\(slot, buffer, std::min\(count, kTransferChunk\)\)/getData(slot, buffer, count)/' "$X\.BadInput"
fault getters-out-of-order $S/exports.cpp \
  's/(    request.parity = config.getInt\("getParity"\);\n)(    request.dataBits = config.getInt\("getDataBits"\);\n)/$2$1/' \
  "$J\.BadInput"
fault pending-exception-ignored $S/java_calls.cpp \
  's/if \(env_->ExceptionCheck\(\)\) ok_ = false;/env_->ExceptionCheck();/' "$J\.BadInput"
fault resume-flag-cleared-by-any-value $S/exports.cpp 's/clear == JNI_TRUE/clear != JNI_FALSE/' "$J\.FakeKernel"
fault bit-rate-read-back-dropped $S/line_config.cpp \
  's/cfgetispeed\(&applied\) != cfgetispeed\(&setting\) \|\|\n        cfgetospeed\(&applied\) != cfgetospeed\(&setting\)/false/' \
  "$G"
fault open-waits-behind-a-close $S/port_table.cpp \
  's/(for \(int each = 0; each < kPortSlots && taken < 0; \+\+each\))\n( *)(if \(claim\(each\)\) taken = each;)/$1 {\n$2while ((atomicRef(portUsers[each]).load() & kClosing) != 0) {}\n$2$3\n}/' \
  "seriallib\.unit\.TableRaces|$G"
fault slot-given-out-before-close-returns $S/port_table.cpp \
  's/    const int result = close\(fd\);\n/    users.store(0, std::memory_order_release);\n    const int result = close(fd);\n/' \
  'seriallib\.unit\.TableRaces'
fault hold-taken-unsynchronised $S/port_table.cpp \
  's/count \+ 1, std::memory_order_acquire,/count + 1, std::memory_order_relaxed,/' 'seriallib\.tsan'
fault modem-set-clear-swapped $S/modem_lines.cpp 's/raise \? TIOCMBIS : TIOCMBIC/raise ? TIOCMBIC : TIOCMBIS/' "$G"
fault modem-wrong-status-bit $S/exports.cpp 's/statusLine\(slot, TIOCM_DSR\)/statusLine(slot, TIOCM_DTR)/' "$G"
fault break-units $S/modem_lines.h 's/return duration \/ 250;/return duration;/' "$G"
fault card-suspend-request $S/card_power.cpp 's/mode == 0 \? DS_SUSPEND_CARD :/mode == 0 ? DS_RESUME_CARD :/' "$J\.FakeKernel"
fault card-status-socket $S/card_power.cpp \
  's/status.Function = static_cast<std::uint8_t>\(cardSlot\);/status.Function = 0;/' "$J\.FakeKernel"
fault card-status-mapping $S/card_power.cpp \
  's/CS_EVENT_PM_SUSPEND\) != 0 \? 0 : 1/CS_EVENT_PM_SUSPEND) != 0 ? 1 : 0/' "$J\.FakeKernel"
fault card-node-minor $S/card_power.cpp 's/static_cast<unsigned>\(slot\)\)/static_cast<unsigned>(slot + 1))/' "$J\.FakeKernel"
fault card-node-unchecked $S/card_power.cpp \
  's/if \(isTheNode\(fd, device\)\) return fd;/if (isTheNode(fd, device) || true) return fd;/' "$J\.FakeKernel"
fault card-lookup-unlocked $S/card_power.cpp 's/    CardLookupLock lock;\n//' "$J\.FakeKernel"
fault apm-packing $S/apm_line.cpp 's/acLine << 16/acLine << 8/' "$J\.FakeKernel|seriallib\.unit\.ApmStatus"
fault tty-inherited-by-exec $S/open_close.cpp 's/O_NONBLOCK \| O_CLOEXEC\);/O_NONBLOCK);/' "$J\.(OpenClose|Transfer)"
fault trace-inherited-by-exec $S/trace.cpp 's/O_NOCTTY \| O_CLOEXEC;/O_NOCTTY;/' "$J\.Transfer"
fault open-without-continue-wake $S/open_close.cpp 's/!prepareContinueLatch\(\)/(prepareContinueLatch() \&\& false)/' \
  "$J\.FakeKernel"
fault continue-latch-half-kept $S/continue_signal.cpp 's/        close\(latches\[0\].fd\);\n        latches\[0\].fd = -1;\n//' \
  "$J\.FakeKernel"
fault continue-handler-not-chained $S/continue_signal.cpp 's/    if \(index == kNoChain\) return;\n/    return;\n/' "$J\.(FakeKernel|Guest)"
# The library as a guest: handlers that chain back, copies in other class loaders, an unload, a fork.
fault continue-one-shot-kept $S/continue_signal.cpp 's/\(action.sa_flags & SA_RESETHAND\) != 0 &&/false \&\&/' 'seriallib\.unit\.ContinueChain'
fault continue-nodefer-ignored $S/continue_signal.cpp 's/if \(\(action.sa_flags & SA_NODEFER\) == 0\) sigaddset/sigaddset/' 'seriallib\.unit\.ContinueChain'
fault continue-stack-ignored $S/continue_signal.cpp 's/ \| \(current.sa_flags & SA_ONSTACK\)//' 'seriallib\.unit\.ContinueChain'
fault unload-leaves-handler $S/exports.cpp 's/closeContinueLatch\(removeContinueHandler\(\)\);/closeContinueLatch(false);/' "$J\.Guest"
fault unload-keeps-ports $S/exports.cpp 's/if \(portDescriptor\(slot\) != kNoDescriptor\) closePort\(slot\);/(void)slot;/' "$J\.Guest"
fault unload-keeps-latch $S/exports.cpp 's/    closeContinueLatch\(removeContinueHandler\(\)\);/    (void)removeContinueHandler();/' "$J\.Guest"
fault forked-close-wakes-parent $S/port_table.cpp 's/if \(openerProcess\[slot\] == getpid\(\)\) \{/if (true) {/' 'seriallib\.unit\.Fork'
fault wake-inherited-by-exec $S/open_close.cpp 's/eventfd\(0, EFD_CLOEXEC \| EFD_NONBLOCK\)/eventfd(0, EFD_NONBLOCK)/' "$J\.OpenClose"
fault break-after-close-began $S/modem_lines.cpp 's/if \(!drained \|\| port.closing\(\)\) return kFailed;/if (!drained) return kFailed;/' "$G"
fault break-behind-output-outlives-close $S/modem_lines.cpp 's/    const PortMark waitingForOutput\(port, PortMark::kWaitingForOutput\);\n//' "$G"
fault break-outlives-close $S/modem_lines.cpp 's/pollfd wake\{port.wakeFd\(\), POLLIN, 0\};/pollfd wake{-1, POLLIN, 0};/' "$G"
fault closed-break-left-on $S/modem_lines.cpp \
  's/    const int cleared = ioctl\(fd, TIOCCBRK\);\n    if \(ended == 0\) return cleared;/    if (ended == 0) return ioctl(fd, TIOCCBRK);/' "$G"
fault send-during-break $S/transfer.cpp 's/if \(port.breaking\(\)\) \{/if (false) {/' "$G"
fault break-length-not-rounded-up $S/modem_lines.h 's/\(units \+ 99\) \/ 100 \* 100/units \/ 100 * 100/' "$G"
fault pty-break-waits $S/modem_lines.cpp 's/isPseudoTerminal\(fd\)\)/(isPseudoTerminal(fd) \&\& false))/' "$J\.Transfer"
fault trace-target-blocks $S/trace.cpp 's/O_WRONLY \| O_APPEND \| O_NONBLOCK \|/O_WRONLY | O_APPEND |/' "$J\.Transfer"
fault trace-stderr-blocks $S/trace.cpp 's/return open\("\/proc\/self\/fd\/2", kFlags\);/return open("\/proc\/self\/fd\/2", kFlags \& ~O_NONBLOCK);/' \
  "$J\.Transfer"
fault trace-loss-unsaid $S/trace.cpp 's/            if \(missed != 0\) \{/            if (false) {/' 'seriallib\.unit\.Trace'
fault trace-cut-line-dropped $S/trace.cpp 's/                    tailEnd = length_ - at;/                    tailEnd = 0;/' 'seriallib\.unit\.Trace'
fault trace-never-retried $S/trace.cpp 's/seen = traceFd >= 0 \? kOn : kRetry;/seen = traceFd >= 0 ? kOn : kOff;/' 'seriallib\.unit\.Trace'
fault trace-time-in-ms $S/trace.cpp 's/start_.tv_nsec \/ 1000\)/start_.tv_nsec \/ 1000000)/' "$J\.Transfer"

# --- The launcher --------------------------------------------------------------------------------
L=launcher W=velmoor_wine_
fault java-path-unquoted $L/core/Launch.cpp \
  's/std::wstring line = L"\\"";\n    line \+= javaPath;\n    line \+= L"\\" -jar/std::wstring line;\n    line += javaPath;\n    line += L" -jar/' \
  "velmoor_core_tests|${W}launch\$"
fault update-copied-in-place $L/core/UpdateCopy.cpp 's/temporary_\(temporaryJarPath\(localJar_\)\)/temporary_(localJar_)/' \
  "${W}jar_damaged"
fault escape-starts-nothing $L/ui/ChangesDialog.cpp \
  's/        case kCancelButton:\n        case IDCANCEL:\n/        case kCancelButton:\n/' "${W}dialog_skip"
fault labels-over-text-box $L/ui/ChangesDialog.cpp \
  's/const DWORD labelStyle = SS_LEFT \| WS_CLIPSIBLINGS;/const DWORD labelStyle = SS_LEFT;/' "${W}dialog_upgrade"
fault update-check-on-ui-thread $L/core/LaunchSession.cpp \
  's/if \(!host_.startWorker\(\[run\]\(Services& services\) \{ run->run\(services\); \}\)\) run->run\(services_\);/run->run(services_);/' \
  "${W}drive_stalled"
fault update-check-patience $L/core/UpdateCheckRun.h 's/kPatienceMs = 2000;/kPatienceMs = 4000;/' "velmoor_core_tests|${W}drive_stalled"
fault manifest-without-dpi $L/ui/Velmoor.manifest.in 's/\n *<dpiAware [^\n]*//' velmoor_executable
fault splash-not-scaled $L/ui/LaunchForm.cpp 's/layOut\(windowDpi\(window_\)\);/layOut(96);/' "${W}launch\$"
fault splash-on-taskbar $L/ui/LaunchForm.cpp 's/WS_EX_TOOLWINDOW \| WS_EX_NOACTIVATE/WS_EX_NOACTIVATE/' "${W}launch\$"
fault failure-box-unnamed $L/core/Messages.cpp 's/std::wstring text\(subject\);/std::wstring text(subject.substr(subject.size()));/' \
  "${W}java_lookup"
fault outlives-last-window $L/ui/OpenWindows.cpp \
  's/if \(--openWindows == 0\) ::PostQuitMessage\(0\);/if (--openWindows == 0) {\n        ::Sleep(2000);\n        ::PostQuitMessage(0);\n    }/' \
  "${W}java_lookup"
fault utf16-byte-order $L/core/TextEncoding.cpp 's/return \{TextEncoding::utf16le, 2\}/return {TextEncoding::utf16be, 2}/' \
  "${W}long_changes"
fault program-files-order $L/core/Launch.cpp \
  's/(L"C:\\\\Program Files\\\\Ostrel RFID\\\\Tarvio\\\\jre\\\\bin\\\\java.exe"),\n            (L"C:\\\\Program Files\\\\Ostrel RFID Tarvio\\\\jre\\\\bin\\\\java.exe")/\2,\n            \1/' \
  "${W}java_lookup"
fault hidden-jar-taken $L/core/FileLookup.cpp 's/return !entry.hidden && /return /' "velmoor_core_tests|${W}launch\$"
fault pipe-reading-end-inherited $L/ui/HiddenStart.cpp \
  's/::CreatePipe\(&readEnd, &writeEnd, nullptr,/::CreatePipe(&readEnd, &writeEnd, &inheritable,/; s/if \(inherited.list\(\)\) \{/if (false) {/' \
  "${W}java_fails"
fault jar-path-as-ansi-mangles-it $L/core/Launch.cpp 's/if \(services.fitsJavaCommandLine\(path\)\) return path;/return path;/' \
  "velmoor_core_tests|${W}ansi_paths"
fault failed-update-kept $L/core/UpdateTrial.cpp 's/!exists\(services, previous\) \|\| !stamp\) \{/true) {/' \
  "velmoor_core_tests|${W}update_undone"
fault refused-update-offered-again $L/core/Update.cpp 's/findings.newer = !refusedNow &&/findings.newer =/' \
  "velmoor_core_tests|${W}update_undone"
fault unreachable-claim-starts-nothing $L/ui/Main.cpp 's/if \(!claim.held\(\) && claim.bringHolderToFront\(\)\)/if (!claim.held())/' \
  "${W}claim_elsewhere"
fault read-only-leftover-stays $L/ui/Win32Services.cpp 's/attributes & FILE_ATTRIBUTE_READONLY\)/attributes \& 0)/' "${W}update_leftover"
# Installs and rollbacks that a cut leaves whole, the trial after the splash, blame, refusals kept.
T=$L/core/UpdateTrial.cpp
fault install-by-two-renames $T 's/if \(keep\) services.linkOrCopy\(localJar, previous\);/if (keep) services.moveReplacing(localJar, previous);/' \
  "${W}install_cut"
fault recorded-rollback-left-half-done $T 's/refusedPublish\(services, localJar\) == installed\) \{/false) {/' \
  "velmoor_core_tests|${W}install_cut"
fault trial-ends-with-splash $L/core/LaunchSession.cpp 's/if \(!watched_ \|\| !trial_ \|\| trialWatched_\) return/if (true) return/' \
  "velmoor_core_tests|${W}update_undone"
fault update-blamed-for-all $T 's/if \(exitCode == undoneExitCode && exists\(services, failed\)\) \{/if ((void)undoneExitCode, false) {/' \
  "velmoor_core_tests"
fault refused-copy-not-recorded $L/core/UpdateCopy.cpp 's/    if \(final_ && publish_\) \{/    if (false) {/' \
  "velmoor_core_tests|${W}jar_damaged"
fault java-by-long-path $L/core/Launch.cpp 's/if \(services.fitsJavaCommandLine\(javaPath\)\) return javaPath;/return javaPath;/' \
  "velmoor_core_tests|${W}ansi_paths"
fault error-output-head-only $L/ui/HiddenStart.cpp 's/for \(DWORD i = 0; i < count; \+\+i\)/for (DWORD i = 0; i < count \&\& length < kKeptBytes; ++i)/' \
  "${W}java_fails"
fault folder-blank-dropped $L/ui/Win32Services.cpp "s/directory.ends_with\(L'\\\\\\\\'\) \? directory : directory \+ L'\\\\\\\\'/directory/" \
  "${W}ansi_paths"

# --- The launcher kit ----------------------------------------------------------------------------
fault kit-ships-unsigned-launcher dist/MakePackages.cmake \
  's/COPY_FILE \$\{SIGNED\}\/Velmoor.exe/COPY_FILE \${KIT_TREE}\/launcher\/Velmoor.exe/' 'dist\.kit'
fault signature-digest-sha1 dist/sign-launcher.sh 's/-h sha256/-h sha1/' 'dist\.kit'
fault test-signed-kit-named-as-release dist/MakePackages.cmake 's/-test-signed-kit\)/-kit)/' 'dist\.kit'

# The jar check and the update's copy.
C=$L/core/JarCheck.cpp Z=$L/core/zip U=velmoor_core_tests
fault deflated-crc-unchecked $Z/EntryCheck.cpp \
  's/if \(!whole \|\| crc_ != entry_->crc\)/if (!whole || (entry_->method == kMethodStored \&\& crc_ != entry_->crc))/' "$U"
fault entry-count-at-least $Z/CentralDirectory.cpp 's/return count == end.entries \|\| wrapped/return count >= end.entries || wrapped/' "$U"
fault entries-may-overlap $Z/CentralDirectory.h \
  's/return index \+ 1 < entries.size\(\) \? entries\[index \+ 1\].start : end.dirStart;/return (void)index, end.dirStart;/' "$U"
fault inflated-total-unbounded $Z/CentralDirectory.cpp 's/inflated > end.fileSize \* kMaxInflatedPerJarByte/false/' "$U"
fault no-manifest-taken $C \
  's/return manifestSlot >= 0 \? JarVerdict::complete : JarVerdict::unrunnable;/return JarVerdict::complete;/; s/(JarVerdict JarPass::State::checkManifest\(\) const \{\n)/$1    if (manifestSlot < 0) return JarVerdict::complete;\n/' \
  "$U"
fault no-main-class-taken $C 's/return named \?/return named || true ?/' "$U"
fault local-name-unchecked $Z/EntryCheck.cpp 's/if \(std::memcmp\(header \+ kLocalFileHeaderSize, name.data\(\), name.size\(\)\) != 0\)/if (false)/' "$U"
fault local-flags-unchecked $Z/EntryCheck.cpp 's/le16\(header \+ 6\) != entry_->flags \|\|//' "$U"
fault descriptor-fields-compared $Z/EntryCheck.cpp 's/if \(\(entry_->flags & kDataDescriptorFlag\) == 0\) \{/if (true) {/' "$U"
fault prefix-refused $Z/EndRecords.cpp 's/(    end.prefix = end.dirStart - fields.dirOffset;\n)/$1    if (end.prefix != 0) return JarVerdict::damaged;\n/' \
  "$U"
fault ring-bytes-unpublished $Z/ChunkRing.cpp 's/flow.arrived.store\(fed\);/flow.arrived.store(fed, std::memory_order_relaxed);/' velmoor_core_tsan
fault offer-walks-the-directory $L/core/Update.cpp \
  's/return checkJarEnd\(\*jar\) == JarVerdict::complete;/JarPass pass;\n        return pass.open(*jar) == JarVerdict::complete;/' \
  "${W}jar_many_entries"
fault incomplete-copy-verified $L/core/UpdateCopy.cpp \
  's/if \(verdict != JarVerdict::complete\) \{\n        report_.end = CopyReport::rejected;/if (verdict != JarVerdict::complete \&\& verdict != JarVerdict::incomplete) {\n        report_.end = CopyReport::rejected;/' "$U"

# Signed installs: Wine's crypt32 compares no messageDigest; a key, not a certificate, is the
# publisher; CNG takes ECDSA's r and s as fixed halves; every entry outside the signature files
# (META-INF's too) must be signed by the publisher; an installed jar with a changed entry is not
# a signed one.
fault block-digest-unchecked $L/ui/Win32Crypto.cpp \
  's/!digest \|\| !attributes \|\| \*digest != signedHash/!digest || !attributes/' "${W}signature_vectors"
fault key-of-certificate $L/ui/Win32Crypto.cpp \
  's/BlockSigner\{sha256Of\(\*this, \*key\)/BlockSigner{sha256Of(*this, {certificate.get()->pbCertEncoded, certificate.get()->cbCertEncoded})/' \
  "${W}signed_updates"
fault ecdsa-signature-as-der $L/ui/Win32Crypto.cpp 's/bytes = std::move\(\*raw\);/(void)raw;/' "${W}signature_vectors"
fault unsigned-entry-taken $L/core/signature/PublisherRule.cpp 's/ && \(e.signedBy >> i & 1\) != 0/ \&\& ((void)i, true)/' \
  "velmoor_core_tests|${W}signed_updates"
fault meta-inf-unsigned $L/core/signature/SignatureNames.cpp \
  's/return name.ends_with\(.\/.\) \|\|/return name.ends_with(\x27\/\x27) || name.starts_with("META-INF\/") ||/' velmoor_core_tests
fault installed-digest-errors-ignored $L/core/signature/PublisherRule.cpp \
  's/return e.listing == JarSignatures::Listing::matches && /return /' velmoor_core_tests
fault publisher-rule-skipped $L/core/UpdateCopy.cpp 's/refusalOf\(publisher, readSignatures/refusalOf(Publisher{}, readSignatures/' "${W}signed_updates"

# What java loads must be what was checked: bytes under a folder's name, a second end record in
# the comment, a name java cannot decode, a signature file that contradicts the manifest or a block
# that does not verify (java refuses the jar), signature files named in small letters (java reads
# them).
fault second-end-record-taken $Z/EndRecords.cpp 's/return metLater \? JarVerdict::damaged : JarVerdict::complete;/return (void)metLater, JarVerdict::complete;/' \
  "$U"
fault undecodable-name-taken $Z/CentralDirectory.cpp 's/!isStrictUtf8\(name\) \|\|//' "$U"
fault section-mismatch-skipped $L/core/signature/SignatureFiles.cpp \
  's/(if \(\*digest != manifest.sectionsDigest\(section.name, algorithm\)\) \{\n\s+)refused = section.name;\n\s+return false;/$1continue;/' "$U"
fault failed-block-ignored $L/core/signature/SignatureFiles.cpp 's/result.refusedByJava = fromUtf8\(part->name\);/(void)0;/' "$U"
fault signature-names-case-kept $L/core/signature/SignatureNames.cpp 's/std::string key = upper\(name\);/std::string key(name);/' "$U"
# The publisher rule: a stranger's co-signature, main attributes nobody signs, keys named without
# the publisher's signature over them, an install signed in a way not read taken for unsigned.
fault cosigner-taken $L/core/signature/PublisherRule.cpp 's/return std::wstring\(kStrangerKey\) \+ nameOf\(signer.who\);/continue;/' \
  "$U"
fault main-attributes-unsigned-taken $L/core/signature/PublisherRule.cpp \
  's/if \(!signer.signsMainAttributes \|\| !signsEveryEntry\(update, i\)\) continue;/if (!signsEveryEntry(update, i)) continue;/' "$U"
fault partial-signer-publishes $L/core/signature/PublisherRule.cpp 's/        if \(!signsEveryEntry\(installed, i\)\) continue;\n//' "$U"
fault unread-install-taken-for-unsigned $L/core/signature/PublisherRule.cpp \
  's/        publisher.unreadAlgorithm = installed.unreadAlgorithm;\n//' "$U"
fault failing-install-taken-for-unsigned $L/core/signature/PublisherRule.cpp 's/        publisher.blockFails = installed.blockFails;\n//' "$U"
# No replay of an older release; a key the platform cannot verify with is not a broken signature.
fault older-release-taken $L/core/signature/PublisherRule.cpp 's/return std::wstring\(kOlderRelease\);/return std::nullopt;/' "$U"
fault token-time-ignored $L/core/signature/SignatureFiles.cpp 's/at = at \? std::min\(\*at, \*times->tokenTime\) : \*times->tokenTime;/(void)0;/' \
  "$U|${W}signed_updates"
fault unverifiable-key-taken-for-broken $L/ui/Win32Crypto.cpp 's/        unsupported = true;\n        return false;/        return false;/' \
  "${W}signature_vectors"
fault sha512-digests-ignored $L/core/signature/SignatureNames.h 's/"SHA-384-Digest",\s+"SHA-512-Digest"\}/"SHA-384-Digest", "SHA-999-Digest"}/' \
  "$U|${W}signed_updates"
# Entries digested with every algorithm, whatever the manifest uses: the copy three times slower.
fault digests-with-every-algorithm $L/core/signature/JarDigests.cpp 's/if \(manifest_\) jar_.algorithms_.store/if (false) jar_.algorithms_.store/' "$U"
# A messageDigest compared as far as the block's goes: a prefix of the content's digest taken.
fault short-message-digest-taken $L/ui/Win32Crypto.cpp \
  's/\*digest != signedHash\)/!std::equal(digest->begin(), digest->end(), signedHash.begin()))/' "${W}signature_vectors"

((${#names[@]})) || { echo "No fault matches: ${only[*]}"; exit 2; }
# A worktree of its own: checking out a new commit rewrites only the files that changed, so the
# build after it is incremental.
git -C "$root" worktree prune
[[ -e $src/.git ]] || git -C "$root" worktree add -q --detach "$src" HEAD || exit 2
git -C "$src" checkout -q -f --detach "$(git -C "$root" rev-parse HEAD)" || exit 2
mkdir -p "$scratch/logs"
log=$scratch/logs
build() { (cd "$src" && cmake --preset linux-x86_64 && cmake --build --preset linux-x86_64) >"$log/build.txt" 2>&1; }
run_tests() {  # regex -> ctest's status
  local args=(--test-dir "$src/build/linux-x86_64" -j2 --timeout 600 --output-on-failure)
  ((full)) || args+=(-R "$1")
  ctest "${args[@]}"
}

echo "Building the scratch copy ($src)"
build || { echo "The scratch copy does not build: see $log/build.txt"; exit 2; }
# A failure proves something only if the same tests pass unplanted.
run_tests "$(printf '%s\n' "${catchers[@]}" | sort -u | paste -sd'|')" >"$log/clean.txt" 2>&1 ||
  { echo "The tests fail unplanted: see $log/clean.txt"; exit 2; }

missed=0
for i in "${!names[@]}"; do
  name=${names[$i]} file=$src/${files[$i]}
  cp "$file" "$scratch/original"
  perl -0pi -e "${edits[$i]}" "$file"
  if cmp -s "$file" "$scratch/original"; then
    printf 'NOT PLANTED  %s\n' "$name" && missed=1
  elif ! build; then
    printf 'NO BUILD     %s (%s)\n' "$name" "$log/$name.txt" && cp "$log/build.txt" "$log/$name.txt" && missed=1
  elif run_tests "${catchers[$i]}" >"$log/$name.txt" 2>&1; then
    grep -q 'No tests were found' "$log/$name.txt" && printf 'NO TESTS     %s\n' "$name" || printf 'MISSED       %s\n' "$name"
    missed=1
  else
    printf 'caught       %-34s by %s\n' "$name" "$(grep -oE '[0-9]+ - [^ ]+ \([A-Z][a-zA-Z ]*\)$' "$log/$name.txt" |
      sed -E 's/^[0-9]+ - //; s/ \(.*//' | paste -sd' ')"
  fi
  cp "$scratch/original" "$file"  # a new time stamp: the next build recompiles it
done
build
exit $missed
