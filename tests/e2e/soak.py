#!/usr/bin/env python3
"""Installs and uninstalls KstIns.exe over and over in one Wine machine and
compares what is left with the start after every cycle.

    python3 tests/e2e/soak.py CYCLES [--build DIR]

The class keys are seeded with other drivers' filters first; a class list
is compared by its type and entries, since the program stores a rewritten
list as its whole 2352-byte buffer. A cycle is
`/I /Q` then `/U /Q`; every tenth cycle also restarts the session between
the two, which loads the stand-in filter, and opens the status window,
which must show it installed with its devices. After each cycle the class
lists, the two services (and the names of all services) and the driver
folder are compared with the start.

One allowance, for a removal that the restart finishes: after an uninstall
while the filter is loaded, Kestrune.sys is to be deleted at the restart and
the Kestrune service awaits its deletion then. Those two are reported as
allowed; the session is then restarted, which finishes the uninstall, and
that result is compared without allowance. Every other difference is
reported and makes the exit code 1. Prints one line per cycle and a summary.
"""
import argparse
import hashlib
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from lib import regfile  # noqa: E402
from lib.wine import Build, PrefixCache, WineMachine  # noqa: E402
from test_install import ATA, CDROM, SCSI, seed_class_keys  # noqa: E402
from test_window import (DEVICE_LINES, DEVICE_TABLE, SERVICES, TITLE, close_with_button,  # noqa: E402
                         open_window, read_window)

OURS = ('Kestrune', 'Morvellin')
# What waits for the restart after an uninstall while the filter is loaded.
WAITING_FOR_RESTART = {'drivers\\kestrune.sys present', 'service Kestrune present'}


def snapshot(machine):
    """{what: value} of everything an install or uninstall may touch."""
    state = {}
    # A list is compared by its type and entries: the program stores every
    # list it rewrites as the whole 2352-byte buffer, zeros after the entries,
    # so the stored length changes once, at the first rewrite, by design.
    for key in (ATA, SCSI, CDROM):
        value = machine.reg_query(key, 'LowerFilters')
        state['LowerFilters of ' + key.rsplit('\\', 1)[1]] = \
            (value.type, value.value) if value else None
    tree = machine.reg_export(SERVICES.rstrip('\\')) or {}
    root = regfile.full_key(SERVICES.rstrip('\\')).upper() + '\\'
    children = {k[len(root):].split('\\')[0] for k in tree if k.startswith(root)}
    for name in sorted(children):
        if name.upper() not in (o.upper() for o in OURS):
            state['service ' + name] = 'present'
    for name in OURS:
        values = tree.get(root + name.upper())
        state['service ' + name] = None if values is None else \
            {n: v.raw for n, v in values.items()}
    drivers = machine.system32() / 'drivers'
    for path in sorted(drivers.iterdir()) if drivers.is_dir() else ():
        if path.is_file():
            state['drivers\\' + path.name.lower()] = hashlib.sha1(path.read_bytes()).hexdigest()
    return state


def differences(start, now):
    """One text per difference, '<what> present' / 'absent' / 'changed'."""
    texts = []
    for what in sorted(set(start) | set(now)):
        before, after = start.get(what), now.get(what)
        if before == after:
            continue
        if before is None:
            texts.append(what + ' present')
        elif after is None:
            texts.append(what + ' absent')
        elif what.startswith('LowerFilters'):
            texts.append('%s changed: %r -> %r' % (what, before, after))
        else:
            texts.append(what + ' changed')
    return texts


def status_window_shows_devices(machine):
    process = open_window(machine)
    window = read_window(machine)
    shown = (window['LabelStatus2'].text, window['CbDeviceList'].items)
    close_with_button(machine, process)
    return shown == ('Install', DEVICE_LINES), shown


def cycle(machine, number, start):
    """Runs one cycle; (allowed differences, unexpected ones)."""
    kstins = machine.build.kstins
    problems = []
    if machine.run(kstins, '/I', '/Q').rc != 0:
        problems.append('install exit code not 0')
    restarted = number % 10 == 0
    if restarted:
        machine.reg_add_binary(SERVICES + 'Kestrune', 'Parameters', DEVICE_TABLE)
        machine.restart(running=('Kestrune',))
        ok, shown = status_window_shows_devices(machine)
        if not ok:
            problems.append('status window shows %r' % (shown,))
    if machine.run(kstins, '/U', '/Q').rc != 0:
        problems.append('uninstall exit code not 0')
    found = differences(start, snapshot(machine))
    if not restarted:
        return [], problems + found
    allowed = [d for d in found if d in WAITING_FOR_RESTART]
    problems += [d for d in found if d not in WAITING_FOR_RESTART]
    machine.restart()  # finishes the uninstall
    problems += ['after the restart: ' + d for d in differences(start, snapshot(machine))]
    return allowed, problems


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('cycles', type=int)
    parser.add_argument('--build', default=str(HERE.parent.parent / 'build' / 'win64'))
    args = parser.parse_args(argv)
    build = Build(args.build)
    cache = PrefixCache()
    unexpected = 0
    began = time.monotonic()
    try:
        with WineMachine(build, cache) as machine:
            seed_class_keys(machine)
            start = snapshot(machine)
            for number in range(1, args.cycles + 1):
                started = time.monotonic()
                allowed, problems = cycle(machine, number, start)
                unexpected += len(problems)
                kind = 'install, restart, status window, uninstall' if number % 10 == 0 \
                    else 'install, uninstall'
                print('cycle %d (%s): %.1f s, %s' % (
                    number, kind, time.monotonic() - started,
                    'no difference' if not problems else '%d differences' % len(problems)),
                    flush=True)
                for text in allowed:
                    print('    allowed (finished at the restart): ' + text, flush=True)
                for text in problems:
                    print('    DIFFERENCE: ' + text, flush=True)
    finally:
        cache.close()
    print('%d cycles in %.0f s, %d unexpected differences' % (
        args.cycles, time.monotonic() - began, unexpected))
    return 1 if unexpected else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
