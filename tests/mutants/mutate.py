#!/usr/bin/env python3
"""A sampled mutation run over the native unit tests.

Each mutant of the checked-in lists (tests/mutants/*.txt) puts one fault into
one product file: the file is changed, the unit tests are rebuilt in a build
of their own without sanitizers (build/mutate) and run with a time limit,
and the file is given back its bytes, also on Ctrl-C, a termination signal or
an error. A mutant is caught when a test fails, crashes or runs out of time,
and survives when every test passes. The score is caught / (caught +
survived); mutants marked equivalent (no behaviour can differ) are not run.

  scripts/mutate                       every mutant
  scripts/mutate device/ app/main_window.cpp one-device-list
                                       the mutants of a folder, a file, a list
                                       (tests/mutants/device.txt) or a name
  scripts/mutate --check               only checks the lists: each entry's
                                       text is found exactly once

An entry whose text is not found exactly once in its file, or whose mutant
does not compile, is broken: it is reported apart and never counts as a
survivor, so code that moved is noticed at once.

The run refuses to start over uncommitted changes to product files, so a
mutant can never be mistaken for a change of one's own or left behind.

List format, one entry per "mutant" line, settings indented below it:

  mutant one-device-list
    file: device/status_display.cpp
    find: list.Count() >= 1
    into: list.Count() > 1
    why:  with a single device the list stays disabled, nothing selected

"into:" may be empty (the text is deleted). A value runs to the end of its
line; lines "| text" below a key continue its value on a new line.
"equivalent: reason" marks a mutant no test can catch, and says why.
Lines starting with "#" and blank lines are ignored.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LIST_DIR = os.path.join("tests", "mutants")
BUILD_DIR = os.path.join("build", "mutate")
TARGET = "kst_unit_tests"
TEST_BINARY = os.path.join(BUILD_DIR, "tests", "unit", TARGET)
# The folders whose files make up the programs; a change in any of them is
# refused, and only their files may carry mutants.
PRODUCT_DIRS = ("app", "check", "device", "diag", "install", "msi", "platform", "resources",
                "runtime", "drivers", "tools")
KEYS = ("file", "find", "into", "why", "equivalent")
NAME = re.compile(r"^[a-z0-9][a-z0-9-]*$")


class ListError(Exception):
    """A list that cannot be read; the message names the file and line."""


@dataclass
class Mutant:
    name: str
    source: str  # the list file, relative to the root
    line: int    # where the entry begins in it
    values: dict = field(default_factory=dict)

    @property
    def file(self):
        return self.values["file"]

    @property
    def find(self):
        return self.values["find"]

    @property
    def into(self):
        return self.values.get("into", "")

    @property
    def why(self):
        return self.values["why"]

    @property
    def equivalent(self):
        return self.values.get("equivalent")

    def where(self):
        return "%s:%d" % (self.source, self.line)


# ---- Reading the lists --------------------------------------------------------

class ListReader:
    """Reads one list's text line by line; every fault raises ListError
    naming the list and the line."""

    def __init__(self, source):
        self.source = source
        self.mutants = []
        self.last_key = None  # the setting a "|" line continues

    def fail(self, line, message):
        raise ListError("%s:%d: %s" % (self.source, line, message))

    def entry(self, number, line):
        words = line.split()
        if words[0] != "mutant" or len(words) != 2:
            self.fail(number, "an entry begins with \"mutant <name>\"")
        if not NAME.match(words[1]):
            self.fail(number, "mutant name \"%s\" is not lower case letters, digits and '-'"
                      % words[1])
        self.mutants.append(Mutant(words[1], self.source, number))
        self.last_key = None

    def setting(self, number, stripped):
        if not self.mutants:
            self.fail(number, "a setting before the first \"mutant\" line")
        values = self.mutants[-1].values
        if stripped == "|" or stripped.startswith("| "):
            if self.last_key is None:
                self.fail(number, "a \"|\" line continues no setting")
            values[self.last_key] += "\n" + stripped[2:]
            return
        key, colon, value = stripped.partition(":")
        if not colon or key not in KEYS:
            self.fail(number, "\"%s\" is not a setting (%s)" % (key, ", ".join(KEYS)))
        if key in values:
            self.fail(number, "\"%s\" is given twice" % key)
        values[key] = value.strip()
        self.last_key = key

    def check(self, m):
        for key in ("file", "find", "why"):
            if not m.values.get(key):
                self.fail(m.line, "mutant %s lacks \"%s\"" % (m.name, key))
        if "equivalent" in m.values and not m.values["equivalent"]:
            self.fail(m.line, "mutant %s is equivalent without a reason" % m.name)
        if m.find == m.into:
            self.fail(m.line, "mutant %s changes nothing" % m.name)


def parse_list(text, source):
    """The mutants of one list's text; raises ListError on the first fault."""
    reader = ListReader(source)
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.rstrip()
        stripped = line.strip()
        if not stripped:
            reader.last_key = None  # a blank line ends a value
        elif stripped.startswith("#"):
            continue
        elif not line[0].isspace():
            reader.entry(number, line)
        else:
            reader.setting(number, stripped)
    for m in reader.mutants:
        reader.check(m)
    return reader.mutants


def read_lists(root, paths=None):
    """Every mutant of the lists, in list order; names are unique across them."""
    if paths is None:
        folder = os.path.join(root, LIST_DIR)
        paths = sorted(os.path.join(LIST_DIR, n) for n in os.listdir(folder)
                       if n.endswith(".txt"))
    mutants, seen = [], {}
    for path in paths:
        with open(os.path.join(root, path), encoding="utf-8") as f:
            for m in parse_list(f.read(), path):
                if m.name in seen:
                    raise ListError("%s: mutant %s is also at %s" % (m.where(), m.name,
                                                                     seen[m.name]))
                seen[m.name] = m.where()
                mutants.append(m)
    return mutants


def select(mutants, selectors):
    """The mutants that a selector names: a mutant name, a list file, or a
    product file or folder. Raises ListError for a selector naming none."""
    if not selectors:
        return list(mutants)
    chosen = set()
    for s in selectors:
        s = s.rstrip("/")
        hits = {m.name for m in mutants
                if s in (m.name, m.source) or m.file == s or m.file.startswith(s + "/")}
        if not hits:
            raise ListError("\"%s\" names no mutant, list, product file or folder" % s)
        chosen |= hits
    return [m for m in mutants if m.name in chosen]


# ---- Checking an entry against the code ----------------------------------------

def occurrences(text, find):
    """Start offsets of `find` in `text`, overlapping ones included."""
    starts, at = [], text.find(find)
    while at != -1:
        starts.append(at)
        at = text.find(find, at + 1)
    return starts


def locate(root, mutant):
    """(line of the text in the file, None), or (None, why the entry is broken)."""
    path = os.path.normpath(mutant.file)
    parts = path.split(os.sep)
    if os.path.isabs(path) or parts[0] not in PRODUCT_DIRS or ".." in parts:
        return None, "%s is not a file of a product folder" % mutant.file
    if "win32" in parts:
        return None, "%s is Windows-only code, not built into the unit tests" % mutant.file
    try:
        with open(os.path.join(root, path), encoding="utf-8", newline="") as f:
            text = f.read()
    except OSError as e:
        return None, "%s cannot be read: %s" % (mutant.file, e.strerror)
    starts = occurrences(text, mutant.find)
    if len(starts) != 1:
        return None, "its text is found %d times in %s, not once" % (len(starts), mutant.file)
    return text.count("\n", 0, starts[0]) + 1, None


def uncommitted_product_files(root):
    """Product files that differ from the last commit or are not tracked."""
    out = subprocess.run(["git", "status", "--porcelain", "--untracked-files=all", "--"]
                         + list(PRODUCT_DIRS), cwd=root, capture_output=True, text=True)
    if out.returncode != 0:
        raise ListError("git status failed: %s" % out.stderr.strip())
    return [line[3:] for line in out.stdout.splitlines() if line.strip()]


# ---- One mutant at a time -------------------------------------------------------

class Stopped(Exception):
    """A termination signal arrived; raised so that the file is restored."""


def stop_on_signal(signum, frame):
    raise Stopped(signal.Signals(signum).name)


HELD_SIGNALS = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}


def write_whole(path, data):
    """Writes `data` over the file with the stopping signals held back, so
    that a Ctrl-C cannot leave it half written."""
    signal.pthread_sigmask(signal.SIG_BLOCK, HELD_SIGNALS)
    try:
        with open(path, "wb") as f:
            f.write(data)
    finally:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, HELD_SIGNALS)


def interrupted_mark(root):
    return os.path.join(root, BUILD_DIR, "interrupted-mutant")


def refresh_after_interruption(root):
    """After a run that was stopped while a mutant was applied, dates the
    restored file anew, so that no object built from the mutant (by a
    compiler that outlived the stop) is taken as current."""
    mark = interrupted_mark(root)
    if not os.path.exists(mark):
        return
    with open(mark) as f:
        path = os.path.join(root, f.read().strip())
    if os.path.exists(path):
        os.utime(path)
    os.remove(mark)


class Applied:
    """A mutant applied to its file for the life of a `with` block; the
    file's bytes are given back on leaving it, however it is left. Left by
    an exception, it marks the file for refresh_after_interruption."""

    def __init__(self, root, mutant):
        self.root = root
        self.path = os.path.join(root, mutant.file)
        self.mutant = mutant

    def __enter__(self):
        with open(self.path, "rb") as f:
            self.original = f.read()
        os.makedirs(os.path.dirname(interrupted_mark(self.root)), exist_ok=True)
        with open(interrupted_mark(self.root), "w") as f:
            f.write(self.mutant.file)
        text = self.original.decode("utf-8")
        mutated = text.replace(self.mutant.find, self.mutant.into, 1)
        try:
            write_whole(self.path, mutated.encode("utf-8"))
        except BaseException:
            # A signal held back during the write arrives right after it.
            write_whole(self.path, self.original)
            raise
        return self

    def __exit__(self, kind, value, trace):
        write_whole(self.path, self.original)
        if kind is None:
            os.remove(interrupted_mark(self.root))
        return False


def build(root, log):
    """Builds the unit tests in the mutation build; True when it succeeded.
    Stopped, it ends the whole build at once: a compiler left running would
    write an object of the mutant after the file got its bytes back."""
    with open(log, "w") as out:
        proc = subprocess.Popen(["cmake", "--build", BUILD_DIR, "--target", TARGET, "-j2"],
                                cwd=root, stdout=out, stderr=subprocess.STDOUT,
                                start_new_session=True)
        try:
            return proc.wait() == 0
        except BaseException:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
            raise


def configure_arguments(which=shutil.which):
    """The mutation build's settings: unoptimised and without debug
    information, linked by lld where it is installed, since each mutant
    relinks the whole unit test program and the debugger is never used."""
    arguments = ["-DCMAKE_BUILD_TYPE=Debug", "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g0",
                 "-DCMAKE_C_FLAGS_DEBUG=-O0 -g0", "-DKST_SANITIZE=OFF"]
    if which("ld.lld"):
        arguments.append("-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld")
    return arguments


def configure(root):
    if os.path.exists(os.path.join(root, BUILD_DIR, "CMakeCache.txt")):
        return True
    return subprocess.run(["cmake", "-S", ".", "-B", BUILD_DIR] + configure_arguments(),
                          cwd=root, stdout=subprocess.DEVNULL).returncode == 0


FAILED_LINE = re.compile(r"^\[  FAILED  \] (\S+?)(?:,| \(|$)")


def run_tests(root, timeout, fail_fast=True):
    """(outcome, failed test names, seconds): outcome is "passed", "failed",
    "crashed" or "timed out". With `fail_fast` the tests stop at the first
    failure: one failed test is enough to catch a mutant, and a caught
    mutant then costs a fraction of a whole run."""
    start = time.monotonic()
    command = [os.path.join(root, TEST_BINARY), "--gtest_brief=1"]
    if fail_fast:
        command.append("--gtest_fail_fast")
    proc = subprocess.Popen(command, cwd=root,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace", start_new_session=True)
    try:
        output, _ = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        return "timed out", [], time.monotonic() - start
    except BaseException:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        raise
    failed = sorted({m.group(1) for m in map(FAILED_LINE.match, output.splitlines()) if m})
    seconds = time.monotonic() - start
    if proc.returncode < 0:
        return "crashed", failed, seconds
    if proc.returncode != 0:
        return "failed", failed or ["(the test program failed)"], seconds
    return "passed", [], seconds


@dataclass
class Result:
    mutant: Mutant
    line: int = 0
    outcome: str = ""   # caught, survived, equivalent, broken
    detail: str = ""    # the test outcome, or why the entry is broken
    failed: list = field(default_factory=list)


def run_one(root, mutant, line, timeout, log):
    with Applied(root, mutant):
        if not build(root, log):
            kept = os.path.join(os.path.dirname(log), "broken-%s.log" % mutant.name)
            os.replace(log, kept)
            return Result(mutant, line, "broken", "the mutant does not compile (see %s)"
                          % os.path.relpath(kept, root))
        outcome, failed, _ = run_tests(root, timeout)
    caught = outcome != "passed"
    return Result(mutant, line, "caught" if caught else "survived", outcome, failed)


# ---- The report ------------------------------------------------------------------

def one_line(text):
    return text.replace("\n", "\\n")


def summary(results):
    count = {k: sum(r.outcome == k for r in results)
             for k in ("caught", "survived", "equivalent", "broken")}
    judged = count["caught"] + count["survived"]
    score = "%.1f%%" % (100.0 * count["caught"] / judged) if judged else "n/a"
    lines = ["caught %(caught)d, survived %(survived)d, equivalent %(equivalent)d, "
             "broken %(broken)d" % count,
             "score %d of %d = %s" % (count["caught"], judged, score)]
    for kind in ("survived", "broken"):
        for r in results:
            if r.outcome != kind:
                continue
            m = r.mutant
            at = "%s:%d" % (m.file, r.line) if r.line else m.file
            lines.append("%s %s %s (%s)" % (kind.upper(), m.name, at, m.where()))
            lines.append("    %s  ->  %s" % (one_line(m.find), one_line(m.into) or "(deleted)"))
            lines.append("    " + (r.detail if kind == "broken" else m.why))
    return lines


def write_report(path, results):
    with open(path, "w") as f:
        for r in results:
            f.write("%s %s %s\n" % (r.outcome, r.mutant.name, r.detail))
            for name in r.failed:
                f.write("    %s\n" % name)


# ---- Entry ------------------------------------------------------------------------

def check_lists(root, mutants):
    """The located mutants, and a Result for each broken one."""
    located, broken = [], []
    for m in mutants:
        line, why = locate(root, m)
        if why:
            broken.append(Result(m, 0, "broken", why))
        else:
            located.append((m, line))
    return located, broken


class Refused(Exception):
    """The run cannot start; the message says why."""


def parse_arguments(argv):
    parser = argparse.ArgumentParser(prog="scripts/mutate", description=__doc__.split("\n")[0])
    parser.add_argument("selectors", nargs="*",
                        help="mutant names, list files, product files or folders")
    parser.add_argument("--check", action="store_true",
                        help="only check that each entry's text is found exactly once")
    parser.add_argument("--equivalent", action="store_true",
                        help="run the mutants marked equivalent too")
    parser.add_argument("--timeout", type=float, default=0,
                        help="seconds per test run (default: 10 times the run without mutant, "
                             "at least 30)")
    return parser.parse_args(argv)


def require_committed_product(root):
    try:
        changed = uncommitted_product_files(root)
    except ListError as e:
        raise Refused(str(e))
    if changed:
        raise Refused("refusing to run over uncommitted changes to product files (commit them, "
                      "or restore a left-over mutant with git checkout):\n  "
                      + "\n  ".join(changed))


def prepare_build(root, log, timeout):
    """Builds and runs the unit tests without a mutant; returns the time
    limit of a test run: `timeout`, or ten times this run, at least 30 s."""
    os.makedirs(os.path.join(root, BUILD_DIR), exist_ok=True)
    refresh_after_interruption(root)
    if not configure(root) or not build(root, log):
        raise Refused("the unit tests do not build without a mutant (see %s)" % log)
    outcome, failed, seconds = run_tests(root, 600, fail_fast=False)
    if outcome != "passed":
        raise Refused("the unit tests do not pass without a mutant: %s %s"
                      % (outcome, " ".join(failed)))
    limit = timeout or max(30.0, 10 * seconds)
    print("unit tests pass without a mutant in %.1f s; time limit per run %.0f s"
          % (seconds, limit))
    return limit


def progress_line(i, total, r):
    m = r.mutant
    first = ""
    if r.failed:
        more = " and %d more" % (len(r.failed) - 1) if len(r.failed) > 1 else ""
        first = ": " + r.failed[0] + more
    detail = r.detail if r.outcome in ("broken", "caught") else ""
    return "[%d/%d] %-9s %s %s:%d %s%s" % (i, total, r.outcome, m.name, m.file, r.line, detail,
                                          first)


def run_mutants(root, todo, timeout, log):
    results = []
    for i, (m, line) in enumerate(todo, 1):
        r = run_one(root, m, line, timeout, log)
        if m.equivalent and r.outcome == "caught":
            r.outcome, r.detail = "broken", "marked equivalent, but caught: " + r.detail
        elif m.equivalent and r.outcome == "survived":
            r.outcome = "equivalent"
        results.append(r)
        print(progress_line(i, len(todo), r), flush=True)
    return results


def check_only(mutants, broken):
    for r in broken:
        print("BROKEN %s (%s): %s" % (r.mutant.name, r.mutant.where(), r.detail))
    print("%d mutants, %d broken" % (len(mutants), len(broken)))
    return 1 if broken else 0


def run(args, root):
    mutants = select(read_lists(root), args.selectors)
    located, broken = check_lists(root, mutants)
    if args.check:
        return check_only(mutants, broken)
    require_committed_product(root)
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, stop_on_signal)
    log = os.path.join(root, BUILD_DIR, "mutant-build.log")
    timeout = prepare_build(root, log, args.timeout)

    started = time.monotonic()
    todo = [(m, line) for m, line in located if args.equivalent or not m.equivalent]
    results = broken + [Result(m, line, "equivalent", m.equivalent) for m, line in located
                        if m.equivalent and not args.equivalent]
    results += run_mutants(root, todo, timeout, log)
    order = {m.name: i for i, m in enumerate(mutants)}
    results.sort(key=lambda r: order[r.mutant.name])
    write_report(os.path.join(root, BUILD_DIR, "report.txt"), results)
    print("ran %d mutants in %.0f s" % (len(todo), time.monotonic() - started))
    for line in summary(results):
        print(line)
    if any(r.outcome == "broken" for r in results):
        return 2
    return 1 if any(r.outcome == "survived" for r in results) else 0


def main(argv, root=ROOT):
    """Exit code: 0 every mutant caught, 1 survivors, 2 broken entries or
    refused, 130 stopped."""
    args = parse_arguments(argv)
    try:
        return run(args, root)
    except (ListError, Refused) as e:
        print("mutate: %s" % e, file=sys.stderr)
        return 2
    except (KeyboardInterrupt, Stopped):
        print("mutate: stopped; every file has its own bytes again", file=sys.stderr)
        return 130


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
