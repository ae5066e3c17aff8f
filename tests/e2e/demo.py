#!/usr/bin/env python3
"""The whole story in one throwaway Wine machine: install from the command
line with the trace viewer attached, restart, the status window with the
stand-in filter's devices (and its screenshot), the uninstall of the running
filter, which the restart finishes; KstCheck.exe's lines and exit code at
each stage. Then KstIns.msi in a second machine:
msiexec's install and removal, their exit codes and the package's log lines.

    python3 tests/e2e/demo.py [--build DIR] [--screenshot PNG]
"""
import argparse
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from lib.msi import action_lines, msiexec  # noqa: E402
from lib.wine import Build, WineMachine, winpath  # noqa: E402
from screenshot import prepare, screenshot  # noqa: E402
from test_check import run_check  # noqa: E402
from test_install import ATA, CDROM, SCSI, SEEDED, find_file, lower_filters, seed_class_keys  # noqa: E402
from test_window import DEVICE_TABLE, SERVICES, TITLE, open_window, read_window  # noqa: E402

KEY_NAMES = {ATA: 'SCSI adapters {4D36E97B...}', SCSI: 'IDE ATA/ATAPI {4D36E96A...}',
             CDROM: 'CD/DVD-ROM {4D36E965...}'}


def heading(text):
    print('\n== ' + text)


def show_trace(trace):
    for line in trace.texts('W'):
        print('   trace | ' + line.replace('\r', '\\r').replace('\n', '\\n'))


def show_state(machine):
    for rel in ('Drivers\\Kestrune.sys', 'Drivers\\Morvellin.sys'):
        path = find_file(machine.system32(), rel)
        print('   file    %-24s %s' % (rel, '%d bytes' % path.stat().st_size if path else 'absent'))
    for name in ('Kestrune', 'Morvellin'):
        s = machine.services(name)
        if s is None:
            print('   service %-10s absent' % name)
        else:
            print('   service %-10s type %d, start %d, error control %d, group %r, %s'
                  % (name, s['Type'], s['Start'], s['ErrorControl'], s.get('Group', ''),
                     s['ImagePath']))
    for key in (ATA, SCSI, CDROM):
        print('   LowerFilters of %-28s %s' % (KEY_NAMES[key], lower_filters(machine, key)))


def show_check(machine):
    checked = run_check(machine)
    print('   KstCheck.exe, exit code %d:' % checked.code)
    for line in checked.lines:
        print('   check | ' + line)


def show_msiexec(machine, *args):
    print('   msiexec %s' % ' '.join(args))
    done = msiexec(machine, *args)
    print('   exit code', done.code)
    for line in action_lines(done.log):
        # KstCheck's lines in full are in the log; here its verdict and problems.
        if not line.startswith('Kestrune: KstCheck.exe: ') or \
                line.split(': ', 2)[2].split(' ')[0] in ('PROBLEM', 'VERDICT'):
            print('   log   | ' + line)


def package_story(build):
    """KstIns.msi as a deployment tool runs it, in a machine of its own."""
    with WineMachine(build) as machine:
        heading('KstIns.msi: msiexec /i /qn in a fresh Wine machine (the seeded class keys '
                'as before)')
        seed_class_keys(machine)
        package = winpath(build.path('KstIns.msi'))
        show_msiexec(machine, '/i', package, '/qn', 'REBOOT=ReallySuppress')
        show_check(machine)
        heading('KstIns.msi: msiexec /x /qn before the restart')
        show_msiexec(machine, '/x', package, '/qn', 'REBOOT=ReallySuppress')
        show_state(machine)
        show_check(machine)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--build', default=str(HERE.parent.parent / 'build' / 'win64'))
    parser.add_argument('--screenshot', type=Path,
                        default=HERE.parent.parent / 'build' / 'demo' / 'main-window.png')
    args = parser.parse_args(argv)
    build = Build(args.build)

    with WineMachine(build) as machine:
        heading('A fresh Wine machine whose class keys hold other drivers\' filters')
        seed_class_keys(machine)
        show_state(machine)
        show_check(machine)

        heading('KstIns.exe /I /Q, with KstTrace.exe attached')
        trace = machine.start_trace(channels='W')
        print('   exit code', machine.run(build.kstins, '/I', '/Q').rc)
        show_trace(trace)
        trace.stop()
        show_state(machine)
        show_check(machine)

        heading('Restart: the stand-in filter loads and reports the devices of its table')
        machine.reg_add_binary(SERVICES + 'Kestrune', 'Parameters', DEVICE_TABLE)
        machine.restart(running=('Kestrune',))
        prepare(machine)
        trace = machine.start_trace(channels='W')
        process = open_window(machine)
        window = read_window(machine)
        for name in ('Kestrune2', 'Morvellin2', 'LabelStatus2', 'Host2', 'Target2'):
            print('   %-13s %r' % (name, window[name].text))
        print('   CbDeviceList  %r' % (window['CbDeviceList'].items,))
        args.screenshot.parent.mkdir(parents=True, exist_ok=True)
        screenshot(machine, args.screenshot.absolute())
        print('   screenshot:', args.screenshot)
        machine.click(TITLE, '&Close')
        process.wait(30)
        show_trace(trace)
        trace.stop()
        show_check(machine)

        heading('KstIns.exe /U /Q while the filter runs: the lists are cleared, the loaded '
                'image is deleted at the restart, the service awaits deletion then')
        trace = machine.start_trace(channels='W')
        print('   exit code', machine.run(build.kstins, '/U', '/Q').rc)
        show_trace(trace)
        trace.stop()
        show_state(machine)
        show_check(machine)
        heading('KstIns.exe /I /Q before that restart: refused, nothing changes')
        trace = machine.start_trace(channels='W')
        print('   exit code', machine.run(build.kstins, '/I', '/Q').rc)
        show_trace(trace)
        trace.stop()
        show_check(machine)
        heading('Restart: Windows deletes the image and the service (the harness removes a '
                'service marked for deletion as Windows does; Wine alone would keep it)')
        machine.restart()
        show_state(machine)
        show_check(machine)
        print('   (the other drivers\' entries are as seeded: %s)' % all(
            lower_filters(machine, k) == v for k, v in SEEDED.items()))
    package_story(build)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
