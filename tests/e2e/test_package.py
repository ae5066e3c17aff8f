"""KstIns.msi under Wine, as deployment tools run it: msiexec /qn, its exit
codes, the Windows Installer log, Programs and Features, the restart, a
failing install, an upgrade from an older version, and the removal."""
from lib.msi import (action_lines, msiexec, older_package, products, program_folder,
                     verdict_lines)
from lib.safe_state import assert_safe, images_of, read_state
from lib.wine import winpath
from test_check import run_check
from test_install import ATA, KESTRUNE_SYS, SEEDED, assert_installed, assert_uninstalled, \
    find_file, lower_filters, seed_class_keys

QUIET = ('/qn', 'REBOOT=ReallySuppress')
# The other drivers' entries of the A-string list, each 39 characters and
# its terminator: 64 of them fill more than the 2352 bytes KstIns.exe edits,
# so it cannot put its entry at the head of this list.
LONG_LIST = ['otherflt%02d' % i + 'x' * 29 for i in range(64)]


def package(machine):
    return winpath(machine.build.path('KstIns.msi'))


def assert_programs(machine, contents):
    folder = program_folder(machine)
    assert folder.is_dir(), 'no program folder'
    assert sorted(p.name for p in folder.iterdir()) == sorted(contents)
    for name, data in contents.items():
        assert (folder / name).read_bytes() == data, name + ' is not the expected program'


def build_programs(build):
    return {name: build.path(name).read_bytes() for name in ('KstIns.exe', 'KstCheck.exe', 'KstTrace.exe')}


def test_package_install_then_restart(machine, build):
    seed_class_keys(machine)
    done = msiexec(machine, '/i', package(machine), *QUIET)
    assert done.code == 3010, (done.code, verdict_lines(done.log))
    assert_programs(machine, build_programs(build))
    assert_installed(machine, build)
    assert run_check(machine).code == 3010
    # The log tells an administrator what happened.
    logged = action_lines(done.log)
    assert logged[0] == 'Kestrune: running "C:\\Program Files\\Kestrune\\KstIns.exe" /I /Q', logged
    assert 'Kestrune: KstCheck.exe: IMAGE current 1.4.2.11 ' + KESTRUNE_SYS in logged, logged
    assert verdict_lines(done.log) == ['Kestrune: KstCheck.exe: VERDICT 3010 installed, restart pending']
    assert 'Kestrune: the install succeeded; Windows must restart to finish it' in logged
    # One entry in Programs and Features, offering removal only.
    (entry,) = products(machine).values()
    assert (entry['DisplayVersion'], entry['Publisher'], entry['NoModify'], entry['NoRepair']) == \
        ('1.4.5.12', 'Kestrune Project', 1, 1), entry

    machine.restart(running=('Kestrune',))
    assert run_check(machine).code == 0


def test_package_removal_before_the_restart(machine, build):
    seed_class_keys(machine)
    assert msiexec(machine, '/i', package(machine), *QUIET).code == 3010
    done = msiexec(machine, '/x', package(machine), *QUIET)
    assert done.code == 0, (done.code, verdict_lines(done.log))
    assert verdict_lines(done.log) == ['Kestrune: KstCheck.exe: VERDICT 1 not installed']
    assert_uninstalled(machine)
    assert not program_folder(machine).exists() or not any(program_folder(machine).iterdir())
    assert products(machine) == {}
    assert run_check(machine).code == 1


def test_package_failed_install_is_undone_and_rolled_back(machine, build):
    others = dict(SEEDED, **{ATA: LONG_LIST})
    seed_class_keys(machine, others)
    done = msiexec(machine, '/i', package(machine), *QUIET)
    assert done.code == 1603, (done.code, verdict_lines(done.log))
    logged = action_lines(done.log)
    assert 'Kestrune: KstCheck.exe: VERDICT 2 inconsistent' in logged, logged
    assert any(l.startswith('Kestrune: KstCheck.exe: PROBLEM ') for l in logged), logged
    assert 'Kestrune: undoing the install' in logged, logged
    assert logged[-2:] == ['Kestrune: KstCheck.exe: VERDICT 1 not installed',
                           'Kestrune: KstCheck.exe ended with exit code 1'], logged
    # The filter undone, the programs rolled back, nothing registered.
    assert_safe(read_state(machine), images_of(build), others, 'after the failed install')
    for image in ('Drivers\\Kestrune.sys', 'Drivers\\Morvellin.sys'):
        assert find_file(machine.system32(), image) is None, image
    assert machine.services('Kestrune') is None and machine.services('Morvellin') is None
    assert {key: lower_filters(machine, key) for key in others} == others
    assert not program_folder(machine).exists() or not any(program_folder(machine).iterdir())
    assert products(machine) == {}
    assert run_check(machine).code == 1


def test_package_upgrade_keeps_the_filter_installed(machine, build):
    seed_class_keys(machine)
    older, older_programs = older_package(machine)
    assert msiexec(machine, '/i', winpath(older), *QUIET).code == 3010
    assert_programs(machine, older_programs)
    (old_code,) = products(machine)

    trace = machine.start_trace(channels='W')
    done = msiexec(machine, '/i', package(machine), *QUIET)
    assert done.code == 3010, (done.code, verdict_lines(done.log))
    # The older version's removal left the filter alone: KstIns.exe ran once,
    # to install, over the installed filter.
    lines = trace.texts('W')
    assert lines.count('QuietMode') == 1, lines
    assert 'Kestrune server exists, Re-update register inforamtiom!' in lines, lines
    assert not [l for l in lines if 'DelLowerFilter' in l or l.startswith('DeleteFile')], lines
    assert 'Kestrune: upgrading; the older version\'s removal keeps the filter installed' \
        in action_lines(done.log)
    assert_programs(machine, build_programs(build))
    assert_installed(machine, build)
    (entry_code, entry), = products(machine).items()
    assert entry_code != old_code and entry['DisplayVersion'] == '1.4.5.12', entry
    assert run_check(machine).code == 3010

    # The older version is refused over the newer one, and changes nothing.
    assert msiexec(machine, '/i', winpath(older), *QUIET).code == 1603
    assert_programs(machine, build_programs(build))
    assert list(products(machine)) == [entry_code]


def test_package_removal_of_the_running_filter_finishes_at_the_restart(machine, build):
    seed_class_keys(machine)
    assert msiexec(machine, '/i', package(machine), *QUIET).code == 3010
    machine.restart(running=('Kestrune',))
    assert run_check(machine).code == 0
    # The loaded image cannot go before the restart: the removal finishes then.
    done = msiexec(machine, '/x', package(machine), *QUIET)
    assert done.code == 3010, (done.code, verdict_lines(done.log))
    assert verdict_lines(done.log)[-1].startswith('Kestrune: KstCheck.exe: VERDICT 3010 '), \
        verdict_lines(done.log)
    assert products(machine) == {}
    machine.restart()
    assert run_check(machine).code == 1
    assert_uninstalled(machine)
