"""The running filter's life under Wine, KstCheck.exe's exit code at every
step: installed and loaded, an older release loaded, an upgrade and an
uninstall that the restart finishes, and an install refused before it."""
from lib.safe_state import assert_safe, embedded, images_of, read_state
from test_check import run_check, starting
from test_device import patch_file_version
from test_install import (KESTRUNE_SYS, MORVELLIN_SYS, SEEDED, find_file, lower_filters,
                          seed_class_keys)
from test_window import install_with_devices

REFUSED = ('Failed to install Kestrune: the Kestrune service awaits deletion, '
           'Windows must restart first!')


def image(machine):
    return find_file(machine.system32(), 'Drivers\\Kestrune.sys')


def test_upgrade_and_uninstall_of_the_running_filter_finish_at_the_restart(machine, build):
    seed_class_keys(machine)
    images = images_of(build)
    # 1. Installed, restarted: the filter is loaded.
    install_with_devices(machine)
    assert run_check(machine).code == 0

    # 2. The installed image an older release, loaded.
    older = image(machine)
    patch_file_version(older, (1, 4, 2, 10))
    older_bytes = older.read_bytes()
    machine.restart(running=('Kestrune',))
    checked = run_check(machine)
    assert checked.code == 2, checked
    assert 'IMAGE other 1.4.2.10 ' + KESTRUNE_SYS in checked.lines, checked.lines

    # 3. The upgrade cannot replace the loaded image: it waits for the restart.
    trace = machine.start_trace(channels='W')
    assert machine.run(build.kstins, '/I', '/Q').rc == 0
    lines = trace.texts('W')
    trace.stop()
    assert 'Copyfile: ' + KESTRUNE_SYS + ' in use, replaced at restart' in lines, lines
    assert 'Copyfile: ' + MORVELLIN_SYS in lines, 'Morvellin is not loaded: replaced at once'
    assert image(machine).read_bytes() == older_bytes, 'the old image stays until the restart'
    checked = run_check(machine)
    assert checked.code == 3010, checked
    assert starting(checked.lines, 'PENDING') == ['PENDING replace ' + KESTRUNE_SYS], checked.lines
    assert checked.lines[-1] == 'VERDICT 3010 installed, restart pending'
    assert_safe(read_state(machine), {**images, 'Kestrune': older_bytes}, SEEDED, 'upgrade waiting')
    machine.restart(running=('Kestrune',))
    assert image(machine).read_bytes() == embedded(build, 104)
    assert run_check(machine).code == 0

    # 4. The uninstall clears the lists; the loaded image goes at the restart.
    trace = machine.start_trace(channels='W')
    assert machine.run(build.kstins, '/U', '/Q').rc == 0
    lines = trace.texts('W')
    trace.stop()
    assert 'DeleteFile: Kestrune.sys in use, deleted at restart' in lines, lines
    assert {key: lower_filters(machine, key) for key in SEEDED} == SEEDED
    checked = run_check(machine)
    assert checked.code == 3010, checked
    assert checked.lines[-1] == 'VERDICT 3010 removal pending', checked.lines
    assert 'SERVICE Kestrune awaiting-deletion' in checked.lines, checked.lines
    assert starting(checked.lines, 'PENDING') == ['PENDING delete ' + KESTRUNE_SYS], checked.lines

    # 5. An install before the restart is refused and changes nothing.
    kept = image(machine).read_bytes()
    trace = machine.start_trace(channels='W')
    assert machine.run(build.kstins, '/I', '/Q').rc == 0
    lines = trace.texts('W')
    trace.stop()
    assert lines[:2] == ['QuietMode', REFUSED], lines
    assert not [l for l in lines if l.startswith('Copy driver to')], lines
    assert {key: lower_filters(machine, key) for key in SEEDED} == SEEDED, 'nothing listed'
    assert image(machine).read_bytes() == kept
    assert run_check(machine).code == 3010

    # 6. The restart deletes the image and the service (the harness's restart
    # removes a service marked for deletion, as Windows does, which Wine
    # alone would keep); one more uninstall finds nothing.
    machine.restart()
    assert image(machine) is None
    assert machine.services('Kestrune') is None and machine.services('Morvellin') is None
    assert run_check(machine).code == 1
    assert machine.run(build.kstins, '/U', '/Q').rc == 0
    assert run_check(machine).code == 1
