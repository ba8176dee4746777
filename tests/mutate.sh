#!/usr/bin/env bash
# Mutation testing of a change: small faults nobody chose are planted, one at a time, into the
# lines the change touched, and the tests that can see each are run. A mutant no test fails is a
# fault a user could meet unnoticed: kill it with a test that pins the edge it moved, or list it
# in tests/mutants-equivalent.txt if no behaviour can tell it from the code.
#   tests/mutate.sh [--base REV] [--budget SECONDS] [--slow [--wine REGEX]] [--list] [--survivors]
#                   [--lines FIRST-LAST] [PATH...]
# REV: the lines added or changed since REV (default: the merge base with the last tag before
# HEAD, or HEAD~1) in the C and C++ files of launcher/ and seriallib/ outside tests/, narrowed to
# PATH. The mutants: a comparison turned (== !=, < <=, > >=), && and || swapped, an if or while
# condition negated, an integer constant moved by one, a return value replaced ({}, or true and
# false swapped), a one-line statement dropped.
# It works in build/mutate/src, a worktree of the committed HEAD (uncommitted changes are not
# mutated), built at -O1 without ASan and UBSan (the thread tests keep TSan) and kept between
# runs: a mutant costs the rebuild of what its file goes into plus the tests that see it, cheapest
# first (after a run, the stage that killed most of the file's mutants per second first), stopping
# at the first that fails (a launcher core mutant about 8 s on a shared two-core machine, 50-70 s
# when it was sanitized):
#   launcher/core  velmoor_core_tests; the fuzz targets built from the file, over their corpora
#                  (the kept seeds and the build tree's work corpus, or in a worktree without one
#                  the main checkout's; no new fuzzing);
#                  --slow: the Wine scenarios as well.
#   seriallib/src  seriallib.unit.* and seriallib.tsan.*; its fuzz targets, likewise; the Java
#                  tests in the amd64 JVM and the built library's checks;
#                  --slow: the i386 JVM and the QEMU guest as well.
#   launcher/ui    only MinGW builds it and only the Wine scenarios run it: without --slow its
#                  mutants are not run (counted apart), with --slow each runs every Wine scenario
#                  (--wine: only those whose names match; a mutant costs the Windows build's
#                  relink and minutes of Wine per scenario set, so name the ones that see the file).
# A test that outlives three times its unmutated time and 15 s counts as failed (the mutant hangs it).
# --budget: no new mutant starts once that many seconds have passed. --list: the mutants only.
# --lines: only those lines of each file (where a budget cut a run short).
# --survivors: only the last run's survivors (build/mutate/results.txt), once tests are added.
# Output: each survivor as "file:line: original -> mutant", then the counts; progress and
# logs (build/mutate/logs, results.txt) beside. Plain bash and Debian's python3.
exec /usr/bin/python3 "$(dirname "$0")/../scripts/mutate.py" "$@"
