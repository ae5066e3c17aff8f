#!/usr/bin/env python3
"""Runs the end-to-end tests under Wine.

    python3 tests/e2e/run_e2e.py [BUILD_FOLDER] [-k SUBSTRING] [--base-cache DIR]

BUILD_FOLDER holds KstIns.exe, KstTrace.exe, KstProbe.exe and the fixtures
(default build/win64). Tests are the functions named test_* in
tests/e2e/test_*.py, run in file and definition order. A test's parameters
name what it is given:
    machine  a fresh WineMachine (copied from the session's base prefix),
             closed after the test
    build    the Build folder
Each test prints "PASS name" or "FAIL name: reason"; the last line is
"N passed, N failed", and the exit code is 1 when any test failed. A test
stopped by a failure of Wine's own tools (WineToolError) prints "RETRY name:
reason" and runs once more on a fresh machine; its second result counts.
Failed assertions and the programs under test are never retried.
--base-cache DIR (or KST_E2E_BASE_CACHE) keeps the booted base prefix in DIR
for later runs; KST_E2E_TEST_TIMEOUT bounds one test (seconds, default 300).
"""
import argparse
import importlib.util
import inspect
import os
import signal
import sys
import time
import traceback
from contextlib import ExitStack
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from lib.wine import Build, PrefixCache, WineMachine, WineToolError  # noqa: E402


class TestTimeout(Exception):
    pass


def discover(pattern):
    tests = []
    for path in sorted(HERE.glob('test_*.py')):
        module_spec = importlib.util.spec_from_file_location('e2e_' + path.stem, path)
        module = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(module)
        for name, func in vars(module).items():
            if name.startswith('test_') and inspect.isfunction(func) \
                    and func.__module__ == module.__name__:
                full = '%s.%s' % (path.stem, name)
                if not pattern or pattern in full:
                    tests.append((full, func))
    return tests


def reason_of(error):
    text = str(error).strip() or type(error).__name__
    if isinstance(error, AssertionError) and not str(error).strip():
        frame = traceback.extract_tb(error.__traceback__)[-1]
        text = 'assertion failed at %s:%d: %s' % (Path(frame.filename).name, frame.lineno,
                                                 frame.line)
    return ' '.join(text.split())


def run_one(func, build, cache):
    with ExitStack() as stack:
        given = {}
        for name in inspect.signature(func).parameters:
            if name == 'machine':
                given[name] = stack.enter_context(WineMachine(build, cache))
            elif name == 'build':
                given[name] = build
            else:
                raise TypeError('unknown test parameter %r' % name)
        func(**given)


def run_timed(func, build, cache, limit, verbose):
    """Runs one test within `limit` seconds; None, or the exception that
    ended it (every failure is reported, none ends the run)."""
    signal.alarm(limit)
    try:
        run_one(func, build, cache)
        return None
    except Exception as error:
        if verbose:
            traceback.print_exc()
        return error
    finally:
        signal.alarm(0)


def on_alarm(signum, frame):
    raise TestTimeout('test took longer than %ss' % os.environ.get('KST_E2E_TEST_TIMEOUT', 300))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('build', nargs='?', default=str(HERE.parent.parent / 'build' / 'win64'))
    parser.add_argument('-k', dest='pattern', default='')
    parser.add_argument('--base-cache', default=os.environ.get('KST_E2E_BASE_CACHE'))
    parser.add_argument('-v', '--verbose', action='store_true', help='durations, tracebacks')
    args = parser.parse_args(argv)

    build = Build(args.build)
    cache = PrefixCache(args.base_cache)
    limit = int(os.environ.get('KST_E2E_TEST_TIMEOUT', '300'))
    signal.signal(signal.SIGALRM, on_alarm)
    passed = failed = 0
    try:
        for name, func in discover(args.pattern):
            started = time.monotonic()
            error = run_timed(func, build, cache, limit, args.verbose)
            if isinstance(error, WineToolError):
                print('RETRY %s: %s' % (name, reason_of(error)), flush=True)
                error = run_timed(func, build, cache, limit, args.verbose)
            if error is None:
                print('PASS %s' % name, flush=True)
                passed += 1
            else:
                print('FAIL %s: %s' % (name, reason_of(error)), flush=True)
                failed += 1
            if args.verbose:
                print('  %.1fs' % (time.monotonic() - started), file=sys.stderr)
        if args.verbose and cache.boot_seconds is not None:
            print('base prefix booted in %.1fs' % cache.boot_seconds, file=sys.stderr)
    finally:
        cache.close()
    print('%d passed, %d failed' % (passed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
