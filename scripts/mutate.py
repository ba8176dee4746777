#!/usr/bin/python3
"""The engine of tests/mutate.sh (which says what it does): the mutants of the lines a change
touched, each built into a scratch worktree and run against the tests that can see its file."""
import argparse, json, os, re, subprocess, sys, time

ap = argparse.ArgumentParser(prog="tests/mutate.sh")
ap.add_argument("--base"), ap.add_argument("--budget", type=float), ap.add_argument("paths", nargs="*")
ap.add_argument("--slow", action="store_true"), ap.add_argument("--list", action="store_true")
ap.add_argument("--wine", default=".", help="with --slow, the Wine scenarios whose names match")
ap.add_argument("--survivors", action="store_true", help="only the last run's survivors, again")
ap.add_argument("--lines", help="FIRST-LAST: only these lines of each file (a run its budget cut)")
opt = ap.parse_args()
first, last = map(int, (opt.lines or "0-0").split("-"))
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def out(*cmd, cwd=root, check=True, strip=True):
    p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if check and p.returncode:
        sys.exit(f"{' '.join(cmd)}: {p.stderr.strip()}")
    return "" if p.returncode else p.stdout.strip() if strip else p.stdout


head = out("git", "rev-parse", "HEAD")
base = opt.base or out("git", "describe", "--tags", "--abbrev=0", "HEAD~1", check=False)
base = out("git", "merge-base", base, head) if base else "HEAD~1"
base = out("git", "rev-parse", base)
paths = opt.paths or [f"{root}/launcher", f"{root}/seriallib"]
diff = out("git", "diff", "-U0", "--no-color", "--no-ext-diff", base, head, "--", *paths, cwd=os.getcwd())
touched, name = {}, None
for line in diff.splitlines():
    if line.startswith("+++ "):
        name = line[6:] if line.startswith("+++ b/") else None
    elif line.startswith("@@") and name and re.search(r"\.(c|cc|cpp|h|hpp)$", name) \
            and re.match(r"(launcher|seriallib)/", name) and "/tests/" not in "/" + name:
        m = re.match(r"@@ -\S+ \+(\d+)(?:,(\d+))? @@", line)
        touched.setdefault(name, set()).update(range(int(m[1]), int(m[1]) + int(m[2] or 1)))


def mask(lines):  # comments and the insides of literals blanked, so no operator is found there
    masked, block = [], False
    for line in lines:
        m, i = list(line), 0
        while i < len(line):
            if block or line.startswith("/*", i):
                j = line.find("*/", i + (0 if block else 2))
                end = len(line) if j < 0 else j + 2
                m[i:end], i, block = " " * (end - i), end, j < 0
            elif line.startswith("//", i):
                m[i:] = " " * (len(line) - i)
                break
            elif line[i] in "\"'" and not (line[i] == "'" and re.search(r"\b\d[\w']*$", line[:i])):
                j = i + 1
                while j < len(line) and line[j] != line[i]:
                    j += 2 if line[j] == "\\" else 1
                m[i + 1:j], i = " " * (min(j, len(line)) - i - 1), j + 1
            else:
                i += 1
        masked.append("".join(m))
    return masked


def closing(s, i):  # the parenthesis that closes the one at i
    depth = 0
    for j in range(i, len(s)):
        depth += {"(": 1, ")": -1}.get(s[j], 0)
        if depth == 0:
            return j
    return -1


balanced = lambda s: all(s.count(a) == s.count(b) for a, b in ("()", "[]", "{}"))
declaration = re.compile(r"(const|constexpr|static|auto|unsigned|signed|inline|extern|mutable)\b"
                         r"|[A-Za-z_][\w:]*(<.*>)?[\s*&]+[A-Za-z_]\w*\s*([=({\[;,]|$)")
turned = {"==": "!=", "!=": "==", "<": "<=", "<=": "<", ">": ">=", ">=": ">", "&&": "||", "||": "&&"}


def mutants_of(lines, masked, n):  # the mutated texts of line n (1-based)
    src, m = lines[n - 1], masked[n - 1]
    s, found = m.strip(), []
    if not s or s.startswith("#") or s.startswith("static_assert"):
        return []
    put = lambda i, j, text: found.append(src[:i] + text + src[j:])
    for x in re.finditer(r"(?<= )(==|!=|<=|>=|<|>|&&|\|\|)(?= )", m):
        put(x.start(), x.end(), turned[x[1]])
    for x in re.finditer(r"\b(if|while) \(", m):
        close = closing(m, x.end() - 1)
        start = x.end() if close < 0 else max(x.end(), m.rfind(";", x.end(), close) + 1)
        start += len(m[start:close]) - len(m[start:close].lstrip())
        if close > 0 and not declaration.match(m[start:close]):
            put(start, close, "!(" + src[start:close] + ")")
    for x in re.finditer(r"(?<![\w.'])(0[xX][0-9a-fA-F']+|\d[\d']*)(?=[uUlL]*(?![\w.']))", m):
        digits = x[1].replace("'", "")
        if digits[1:2] in ("x", "X"):
            put(x.start(), x.end(), hex(int(digits, 16) + 1))
        else:  # octal too (file modes)
            put(x.start(), x.end(), "0%o" % (int(digits, 8) + 1) if digits[:1] == "0" != digits else str(int(digits) + 1))
    prev = next((p.strip() for p in reversed(masked[:n - 1]) if p.strip()), ";")
    starts = re.search(r"[;{}:]$|^else$|^(\} )?(else )?(if|for|while) \(.*\)$", prev)
    if starts and s.endswith(";") and balanced(s):
        r = re.match(r"return (.+);$", s)
        if r and r[1] not in ("{}", "0", "std::nullopt", "nullptr"):  # what {} would be anyway
            i = src.index("return ") + 7
            put(i, src.rindex(";"), {"true": "false", "false": "true"}.get(r[1], "{}"))
        elif not r and not declaration.match(s) and not re.match(
                r"(break|continue|case|default|goto|using|typedef|friend|enum|struct|class|"
                r"template|namespace|public|private|protected|return)\b|\}", s):
            put(len(src) - len(src.lstrip()), len(src), "{}")
    return list(dict.fromkeys(t for t in found if t != src))


def area(f):
    return next((a for a in ("launcher/core/", "launcher/ui/", "seriallib/src/") if f.startswith(a)), None)


equivalent = set()
listed = os.path.join(root, "tests/mutants-equivalent.txt")
for line in open(listed, encoding="utf-8") if os.path.exists(listed) else []:
    if line.strip() and not line.startswith("#"):
        equivalent.add(line.split("  # ")[0].strip())
todo, skipped_equal, not_run = [], 0, {}
# In the order the paths were given, so that what matters most comes first within a budget.
given = [os.path.relpath(os.path.abspath(p), root) for p in paths]
rank = lambda f: next((i for i, p in enumerate(given) if p == "." or f == p or f.startswith(p + "/")), 0)
for f in sorted(touched, key=lambda f: (rank(f), f)):
    lines = out("git", "show", f"{head}:{f}", strip=False).split("\n")
    masked = mask(lines)
    for n in sorted(n for n in touched[f] if not opt.lines or first <= n <= last):
        for text in mutants_of(lines, masked, n) if n <= len(lines) else []:
            key = f"{f}: {lines[n - 1].strip()} -> {text.strip()}"
            if key in equivalent:
                skipped_equal += 1
            elif area(f) is None or (area(f) == "launcher/ui/" and not opt.slow):
                not_run[area(f) or f] = not_run.get(area(f) or f, 0) + 1
            else:
                todo.append((f, n, lines, text, f"{f}:{n}: {lines[n - 1].strip()} -> {text.strip()}"))
if opt.survivors:  # by file and texts, as the equivalents are, so that lines may have moved
    last = os.path.join(root, "build/mutate/results.txt")
    again = {re.sub(r":\d+: ", ": ", m[1], count=1) for m in map(
        re.compile(r"survived +\S+ +[\d.]+s  (.*)").match, open(last, encoding="utf-8")) if m}
    todo = [t for t in todo if f"{t[0]}: {t[2][t[1] - 1].strip()} -> {t[3].strip()}" in again]
if opt.list:
    print("\n".join(t[4] for t in todo))
    print(f"mutants: {len(todo)}, equivalent: {skipped_equal}, not run: {sum(not_run.values())}")
    sys.exit(0)

scratch = os.path.join(root, "build/mutate")
src, logs = os.path.join(scratch, "src"), os.path.join(scratch, "logs")
tree = os.path.join(src, "build/linux-x86_64")
os.makedirs(logs, exist_ok=True)
setup_log = os.path.join(logs, "setup.txt")
open(setup_log, "w").close()


def run(cmd, log, timeout=None, cwd=None):  # the exit status, or "timeout"
    with open(log, "a") as f:
        f.write("$ " + " ".join(cmd) + "\n")
        f.flush()
        p = subprocess.Popen(cmd, cwd=cwd, stdout=f, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                             start_new_session=True)
        try:
            return p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, 9)
            p.wait()
            f.write("TIMEOUT\n")
            return "timeout"


# A worktree of its own: checking out a new commit rewrites only the files that changed, so the
# build after it is incremental.
out("git", "worktree", "prune")
if not os.path.exists(os.path.join(src, ".git")):
    out("git", "worktree", "add", "-q", "--detach", src, head)
out("git", "reset", "-q", "--hard", cwd=src)
out("git", "checkout", "-q", "-f", "--detach", head, cwd=src)
# A mutant that only a warning stops (a variable left unused, && beside a turned ||) is still one
# a user could meet: the scratch copy takes those warnings as warnings, in the i386 and Windows
# builds too (else the guest and Wine stages skipped it as not built).
quiet = " ".join("-Wno-error=" + w for w in (
    "parentheses unused-variable unused-but-set-variable unused-parameter unused-function unused-value "
    "unused-result empty-body type-limits bool-compare logical-not-parentheses int-in-bool-context "
    "tautological-compare maybe-uninitialized uninitialized").split())
# Built without the sanitizers and at -O1 without debug information: a mutant of a core file
# then costs seconds to rebuild, not a minute. The sanitizers find faults of memory, which the
# fuzz targets (always sanitized) and the main tree's run still look for; a mutant moves logic.
# The library that the Java tests load keeps its own sanitized build, and the thread tests keep
# ThreadSanitizer: a lock or an ordering dropped is what they are there to see.
flags = [f"-DTARVIO_WARNINGS_NOT_ERRORS={quiet}", "-DTARVIO_SANITIZE=OFF", "-DTARVIO_THREAD_SANITIZE=ON", "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -DNDEBUG",
         "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -DNDEBUG"]
# Configured on every run, not only the first: the test list and build graph read next must be
# those of the tree as committed now (a test folded into another since the last run is gone).
if run(["cmake", "--preset", "linux-x86_64", *flags], setup_log, cwd=src):
    sys.exit(f"The scratch copy does not configure: see {setup_log}")
tests = json.loads(subprocess.run(["ctest", "--test-dir", tree, "--show-only=json-v1"],
                                  capture_output=True, text=True).stdout)["tests"]
ninja = open(os.path.join(tree, "build.ninja")).read().replace("$\n", "")


# In a worktree, the main checkout: its build tree holds the fuzz runs' work corpora.
main_checkout = os.path.dirname(os.path.join(root, subprocess.run(
    ["git", "rev-parse", "--git-common-dir"], cwd=root, capture_output=True, text=True).stdout.strip()))


def corpus_of(work):  # the work corpus a fuzz run left, here or else in the main checkout
    here = work.replace(src, root)
    return here if os.path.isdir(here) and os.listdir(here) else work.replace(src, main_checkout)


def fuzz_stage(f):  # the fuzz targets whose objects take in the file, each over its corpora
    targets, runs = [], []
    for t in tests:
        cmd = t.get("command", [])
        if len(cmd) > 3 and cmd[0].endswith("run_fuzz.sh") and re.search(
                rf"^build {re.escape(os.path.relpath(cmd[1], tree))}(\.objects/\S*)?[ :][^\n]*"
                rf"{re.escape(os.path.join(src, f))}\b",
                ninja, re.M):
            kept = corpus_of(cmd[3])
            targets.append(t["name"] + ".build")
            runs.append([cmd[1], "-runs=0", f"-artifact_prefix={logs}/", cmd[2]] + [kept] * os.path.isdir(kept))
    return ("fuzz", targets, runs) if runs else None


def ctest_stage(name, targets, *selection):
    return name, targets, [["ctest", "--test-dir", tree, "-j2", "--stop-on-failure", "--no-tests=error",
                            "--output-on-failure", *selection]]


wine = ctest_stage("wine", ["velmoor_windows", "velmoor_windows64", "velmoor_test_jars"], "-L", "wine", "-R", opt.wine)


def stages(f):
    a = area(f)
    if a == "launcher/core/":
        found = [ctest_stage("unit", ["velmoor_core_tests"], "-R", "^velmoor_core_tests$"), fuzz_stage(f)]
    elif a == "seriallib/src/":
        java = ["Pellusk", "PelluskAsan", "PtyKit", "KernelFake", "KitChild", "pellusk_java_classes"]
        found = [ctest_stage("unit", ["pellusk_unit_tests", "pellusk_guest_tests", "pellusk_driver_test",
                                      "pellusk_thread_tests"],
                             "-R", r"^seriallib\.(unit|tsan)\."), fuzz_stage(f),
                 ctest_stage("java", java, "-R", r"^seriallib\.(java|binary)\.x86_64")]
        if opt.slow:
            found.append(ctest_stage("guest", ["pellusk_i386"], "-R", r"^seriallib\.(java\.i386|qemu)\."))
    else:
        found = []
    # The Wine scenarios run only the launcher: a library mutant's would cost minutes for nothing.
    return [s for s in found if s] + ([wine] if opt.slow and a != "seriallib/src/" else [])


def attempt(stage_list, log, limits=None):  # -> (outcome, stage); unmutated, times each stage
    for stage in stage_list:
        name, targets, commands = stage
        if run(["cmake", "--build", tree, "-j2", "--target", *targets], log):
            return "skipped", name
        began = time.time()
        for cmd in commands:
            if run(cmd, log, timeout=limits and limits[repr(stage)], cwd=logs) != 0:
                return "killed", name
        clean_times[repr(stage)] = time.time() - began
    return "survived", None


os.environ["GTEST_FAIL_FAST"] = "1"
clean_times, files_stages = {}, {}
for t in todo:
    files_stages.setdefault(t[0], stages(t[0]))
distinct = {repr(s): s for ss in files_stages.values() for s in ss}
# A failure proves something only if the same tests pass unmutated.
print(f"Building and testing the scratch copy ({src}): {len(distinct)} stages", file=sys.stderr)
# Twice: the first run also makes what the tests' fixtures keep (the signed jars take minutes),
# and a mutant's time limit comes from the second.
for _ in range(2):
    outcome, stage = attempt(list(distinct.values()), setup_log)
    if outcome != "survived":
        sys.exit(f"The unmutated scratch copy fails ({stage}): see {setup_log}")
limits = {key: 3 * t + 15 for key, t in clean_times.items()}
# A file's stages in the order of what each killed of its mutants in the last run, per second of
# its unmutated time: a mutant that only the Java tests see then does not wait for the unit tests'
# build and run first. Only the order changes; a survivor still meets every stage.
kills, last = {}, os.path.join(scratch, "results.txt")
for m in map(re.compile(r"killed +(\S+) +[\d.]+s  ([^:]+):").match, open(last) if os.path.exists(last) else []):
    if m:
        kills[m[2], m[1]] = kills.get((m[2], m[1]), 0) + 1
for f, found in files_stages.items():
    found.sort(key=lambda s: -kills.get((f, s[0]), 0) / max(clean_times[repr(s)], 0.1))

began, counts, cost, survivors = time.time(), {"killed": 0, "survived": 0, "skipped": 0}, {}, []
results = open(os.path.join(scratch, "results.txt"), "w")
not_reached, originals = 0, {}
try:
    for i, (f, n, lines, text, shown) in enumerate(todo):
        if opt.budget and time.time() - began > opt.budget:
            not_reached = len(todo) - i
            break
        path = os.path.join(src, f)
        for other, saved in originals.items():  # one mutant at a time: the file before is put back
            if other != path and saved is not None:
                with open(other, "w") as w:
                    w.write(saved)
                originals[other] = None
        originals[path] = "\n".join(lines)
        with open(path, "w") as w:  # a fresh time stamp each time, so the next build sees it
            w.write("\n".join(lines[:n - 1] + [text] + lines[n:]))
        log, t0 = os.path.join(logs, f"{i + 1}.txt"), time.time()
        open(log, "w").write(shown + "\n")
        outcome, stage = attempt(files_stages[f], log, limits)
        took = time.time() - t0
        counts[outcome] += 1
        cost.setdefault(area(f), []).append(took)
        results.write(f"{outcome:9} {stage or '-':6} {took:6.1f}s  {shown}\n")
        results.flush()
        print(f"[{i + 1}/{len(todo)}] {outcome} {stage or ''} {took:.1f} s  {f}:{n}", file=sys.stderr)
        if outcome == "survived":
            print(shown, flush=True)
finally:  # never a time stamp older than the mutant's build: the restored file is rebuilt
    for path, text in originals.items():
        if text is not None:
            with open(path, "w") as w:
                w.write(text)
for a, times in cost.items():
    print(f"cost per mutant in {a}: {sum(times) / len(times):.1f} s over {len(times)}")
for a, count in not_run.items():
    why = "only the Wine scenarios see it: --slow runs them" if a == "launcher/ui/" else "no tests see it"
    print(f"not run: {count} in {a} ({why})")
if not_reached:
    print(f"not reached: {not_reached} (the budget ran out)")
if skipped_equal:
    print(f"listed as equivalent: {skipped_equal} (tests/mutants-equivalent.txt)")
n = sum(counts.values())
print(f"mutants: {n}, killed: {counts['killed']}, survived: {counts['survived']}, "
      f"skipped: {counts['skipped']} (did not build)")
sys.exit(1 if counts["survived"] else 0)
