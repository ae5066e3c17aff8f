#!/usr/bin/env python3
"""Quick checks of scripts/mutate that need no build: how it reads the lists,
which entries it calls broken, that it restores a file however a run ends,
that it refuses to run over uncommitted product files, and that every entry
of the checked-in lists still applies. Ends "N passed, N failed"."""

import contextlib
import io
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutate  # noqa: E402

results = []


def check(name, ok, detail=""):
    results.append(bool(ok))
    print("%s %s%s" % ("PASS" if ok else "FAIL", name, "" if ok else ": " + str(detail)))


def list_error(text):
    """The message of the ListError that reading `text` raises, or None."""
    try:
        mutate.parse_list(text, "t.txt")
    except mutate.ListError as e:
        return str(e)
    return None


GOOD = """\
# a comment
mutant first-one
  file: device/a.cpp
  find: x >= 1
  into: x > 1
  why:  a boundary

mutant deleting
  file: device/a.cpp
  find: foo();
      |   bar();
  into:
  why:  two statements go
  equivalent: nothing reads what they write
"""


def test_parsing():
    ms = mutate.parse_list(GOOD, "t.txt")
    check("two entries read", [m.name for m in ms] == ["first-one", "deleting"],
          [m.name for m in ms])
    first, second = ms
    check("values taken whole", (first.file, first.find, first.into, first.why)
          == ("device/a.cpp", "x >= 1", "x > 1", "a boundary"), first.values)
    check("entry remembers its line", first.line == 2 and second.line == 8,
          (first.line, second.line))
    check("'|' continues a value on a new line, its indent kept",
          second.find == "foo();\n  bar();", repr(second.find))
    check("empty into deletes", second.into == "", repr(second.into))
    check("equivalent carries its reason", second.equivalent == "nothing reads what they write"
          and first.equivalent is None, second.equivalent)

    bad = [
        ("setting before any entry", "  file: a.cpp\n", "before the first"),
        ("entry line without name", "mutant\n", "begins with"),
        ("other word than mutant", "mutate x\n", "begins with"),
        ("name with capitals", "mutant Bad\n", "not lower case"),
        ("unknown key", "mutant a\n  file: device/a.cpp\n  fnd: x\n", "not a setting"),
        ("key twice", "mutant a\n  why: x\n  why: y\n", "given twice"),
        ("no find", "mutant a\n  file: device/a.cpp\n  why: x\n", "lacks \"find\""),
        ("no why", "mutant a\n  file: device/a.cpp\n  find: x\n", "lacks \"why\""),
        ("equivalent without reason",
         "mutant a\n  file: d/a.cpp\n  find: x\n  why: w\n  equivalent:\n", "without a reason"),
        ("change that changes nothing",
         "mutant a\n  file: d/a.cpp\n  find: x\n  into: x\n  why: w\n", "changes nothing"),
        ("'|' after a blank line", "mutant a\n  why: w\n\n  | more\n", "continues no setting"),
    ]
    for what, text, expected in bad:
        message = list_error(text)
        check("refused: " + what, message and expected in message and "t.txt:" in message,
              message)


def write(root, path, text):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "w") as f:
        f.write(text)


def test_locating(root):
    write(root, "device/a.cpp", "int f(int x) {\n  return x >= 1;\n}\nint g() { return 2 + 2; }  // zzz\n")
    write(root, "app/win32/main.cpp", "int main() { return 0; }\n")
    write(root, "tests/b.cpp", "int x;\n")

    def entry(file, find):
        m = mutate.Mutant("m", "t.txt", 1)
        m.values = {"file": file, "find": find, "into": "", "why": "w"}
        return m

    check("found once: its line", mutate.locate(root, entry("device/a.cpp", "x >= 1"))
          == (2, None), mutate.locate(root, entry("device/a.cpp", "x >= 1")))
    cases = [
        ("text not found", "device/a.cpp", "x <= 1", "0 times"),
        ("text found twice", "device/a.cpp", "return", "2 times"),
        # "zz" in "zzz": applying it would be ambiguous although str.count says 1.
        ("text found twice, overlapping", "device/a.cpp", "zz", "2 times"),
        ("file missing", "device/none.cpp", "x", "cannot be read"),
        ("file outside the product", "tests/b.cpp", "int", "not a file of a product"),
        ("path climbing out", "device/../tests/b.cpp", "int", "not a file of a product"),
        ("absolute path", "/etc/hostname", "a", "not a file of a product"),
        ("Windows-only file", "app/win32/main.cpp", "main", "Windows-only"),
    ]
    for what, file, find, expected in cases:
        line, why = mutate.locate(root, entry(file, find))
        check("broken: " + what, line is None and why and expected in why, why)


def test_selection():
    ms = mutate.parse_list(GOOD, "tests/mutants/t.txt")
    names = lambda sel: [m.name for m in mutate.select(ms, sel)]  # noqa: E731
    check("no selector: all", names([]) == ["first-one", "deleting"])
    check("by name", names(["deleting"]) == ["deleting"])
    check("by file", names(["device/a.cpp"]) == ["first-one", "deleting"])
    check("by folder", names(["device/"]) == ["first-one", "deleting"])
    check("by list", names(["tests/mutants/t.txt"]) == ["first-one", "deleting"])
    try:
        mutate.select(ms, ["dev"])
        check("a selector naming nothing is refused", False, "accepted")
    except mutate.ListError as e:
        check("a selector naming nothing is refused", "names no mutant" in str(e), e)


def test_restoring(root):
    path = os.path.join(root, "device", "a.cpp")
    with open(path, "rb") as f:
        before = f.read()
    m = mutate.Mutant("m", "t.txt", 1)
    m.values = {"file": "device/a.cpp", "find": "x >= 1", "into": "x > 1", "why": "w"}
    seen = None
    try:
        with mutate.Applied(root, m):
            with open(path) as f:
                seen = f.read()
            raise KeyboardInterrupt
    except KeyboardInterrupt:
        pass
    with open(path, "rb") as f:
        after = f.read()
    check("the mutant is in the file while applied", seen and "x > 1" in seen, seen)
    check("an interrupted run gives the file its bytes back", after == before)
    mark = mutate.interrupted_mark(root)
    check("and marks the file for the next run", os.path.exists(mark))
    old = os.stat(path).st_mtime_ns - 10**9
    os.utime(path, ns=(old, old))
    mutate.refresh_after_interruption(root)
    check("which dates it anew and drops the mark",
          os.stat(path).st_mtime_ns > old and not os.path.exists(mark))
    with mutate.Applied(root, m):
        pass
    check("a run that ends normally leaves no mark", not os.path.exists(mark))


def git(root, *args):
    return subprocess.run(["git", "-c", "user.name=t", "-c", "user.email=t@t", *args], cwd=root,
                          capture_output=True, text=True, check=True)


def test_refusal(root):
    git(root, "init", "-q")
    write(root, "tests/mutants/t.txt",
          "mutant m\n  file: device/a.cpp\n  find: x >= 1\n  into: x > 1\n  why: w\n")
    git(root, "add", "-A")
    git(root, "commit", "-qm", "start")
    check("clean tree: nothing refused", mutate.uncommitted_product_files(root) == [])

    write(root, "tests/new_test.cpp", "int y;\n")
    check("a new test is no product change", mutate.uncommitted_product_files(root) == [])

    write(root, "device/a.cpp", "int f(int x) { return x > 1; }\n")
    write(root, "install/new.cpp", "int z;\n")
    changed = mutate.uncommitted_product_files(root)
    check("a changed and an untracked product file are named",
          sorted(changed) == ["device/a.cpp", "install/new.cpp"], changed)
    # The run stops before it builds anything.
    told = io.StringIO()
    with contextlib.redirect_stderr(told):
        code = mutate.main([], root=root)
    check("the run refuses with code 2", code == 2, code)
    check("naming the files", "refusing" in told.getvalue() and "device/a.cpp" in told.getvalue(),
          told.getvalue())
    check("and builds nothing",
          not os.path.exists(os.path.join(root, mutate.BUILD_DIR, "CMakeCache.txt")))


def test_checked_in_lists():
    root = mutate.ROOT
    try:
        mutants = mutate.read_lists(root)
    except mutate.ListError as e:
        check("the checked-in lists read", False, e)
        return
    check("the checked-in lists read", True)
    _, broken = mutate.check_lists(root, mutants)
    check("every checked-in entry applies exactly once", not broken,
          "; ".join("%s: %s" % (r.mutant.name, r.detail) for r in broken))


def test_build_settings():
    plain = mutate.configure_arguments(which=lambda name: None)
    check("the mutation build has no sanitizers and no debug information",
          "-DKST_SANITIZE=OFF" in plain and "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g0" in plain, plain)
    check("without lld the system linker is kept",
          not any("fuse-ld" in a for a in plain), plain)
    with_lld = mutate.configure_arguments(which=lambda name: "/usr/bin/" + name)
    check("with lld it links the unit tests",
          "-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld" in with_lld, with_lld)


def main():
    test_parsing()
    test_build_settings()
    test_selection()
    with tempfile.TemporaryDirectory() as root:
        test_locating(root)
        test_restoring(root)
        test_refusal(root)
    test_checked_in_lists()
    passed = sum(results)
    print("%d passed, %d failed" % (passed, len(results) - passed))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
