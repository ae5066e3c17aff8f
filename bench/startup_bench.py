#!/usr/bin/env python3
"""How much more KstIns.exe costs on the command line than starting a
process at all, measured in one Wine machine in the same run.

    python3 bench/startup_bench.py [BUILD_FOLDER] [--runs N]

The baseline is sendtrace.exe without arguments, a static program that does
nothing. Prints the median wall time of each command and its ratio to the
baseline; "/I /Q" re-installs every time (files, services, class lists)."""
import argparse
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / 'tests' / 'e2e'))

from lib.wine import Build, WineMachine  # noqa: E402
from test_install import seed_class_keys  # noqa: E402


def median_seconds(machine, exe, args, runs):
    times = []
    for _ in range(runs):
        started = time.perf_counter()
        result = machine.run(exe, *args)
        times.append(time.perf_counter() - started)
        assert result.rc == 0, result
    return statistics.median(times)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('build', nargs='?', default=str(ROOT / 'build' / 'win64'))
    parser.add_argument('--runs', type=int, default=15)
    args = parser.parse_args(argv)
    build = Build(args.build)
    with WineMachine(build) as machine:
        seed_class_keys(machine)
        machine.run(build.kstins, '/I', '/Q')  # first install out of the way
        cases = [('baseline: sendtrace.exe', build.sendtrace, []),
                 ('KstIns.exe /Q', build.kstins, ['/Q']),
                 ('KstIns.exe /I /Q', build.kstins, ['/I', '/Q'])]
        # Interleave the cases so a slow spell of the machine hits them all alike.
        medians = {name: [] for name, _, _ in cases}
        for _ in range(3):
            for name, exe, extra in cases:
                medians[name].append(median_seconds(machine, exe, extra, max(1, args.runs // 3)))
        base = statistics.median(medians[cases[0][0]])
        for name, _, _ in cases:
            m = statistics.median(medians[name])
            print('%-26s %7.1f ms   %.2fx baseline' % (name, m * 1000, m / base))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
