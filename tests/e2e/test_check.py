"""KstCheck.exe in a Wine machine: its lines and its exit code at each stage
of an installation's life, read the way a Windows caller reads them."""
from collections import namedtuple

from lib.wine import winpath
from test_install import (ATA, CDROM, KESTRUNE_SYS, KEY_TEXT, MORVELLIN_SYS, SCSI, SEEDED, SYS,
                          seed_class_keys)
from test_window import DEVICE_LINES, install_with_devices

Checked = namedtuple('Checked', 'code lines errors')


def run_check(machine, *args):
    """Runs KstCheck.exe from a batch file that echoes %errorlevel% after it:
    Wine hands a Unix parent only the exit status modulo 256, cmd sees all of
    it, as a setup script would."""
    bat = machine.new_file('check').with_suffix('.bat')
    bat.write_bytes(('@"%s" %%*\r\n@echo code=%%errorlevel%%\r\n'
                     % winpath(machine.build.kstcheck)).encode('latin-1'))
    result = machine.run('cmd', '/c', winpath(bat), *args)
    lines = result.out.replace('\r\n', '\n').split('\n')
    codes = [l for l in lines if l.startswith('code=')]
    assert len(codes) == 1, result
    return Checked(int(codes[0][5:]), [l for l in lines if l and not l.startswith('code=')],
                   result.err.replace('\r\n', '\n'))


def starting(lines, word):
    return [l for l in lines if l.startswith(word + ' ')]


def service_lines(name, start, error_control, group, image):
    return ['SERVICE %s exists' % name, 'SERVICE %s type ok "1"' % name,
            'SERVICE %s start ok "%d"' % (name, start),
            'SERVICE %s errorcontrol ok "%d"' % (name, error_control),
            'SERVICE %s group ok "%s"' % (name, group),
            'SERVICE %s imagepath ok "%s"' % (name, image)]


def warnings_of(lists):
    """The warnings for entries naming no service, LowerFilters of each key in order."""
    return ['WARNING LowerFilters of %s lists "%s", which names no existing service'
            % (KEY_TEXT[key], entry) for key in (ATA, SCSI, CDROM) for entry in lists.get(key, [])]


def assert_verdict(checked, code, text):
    assert checked.code == code, checked
    assert checked.lines[-1] == 'VERDICT %d %s' % (code, text), checked.lines
    assert len(starting(checked.lines, 'VERDICT')) == 1


def test_fresh_machine_is_not_installed(machine):
    checked = run_check(machine)
    assert_verdict(checked, 1, 'not installed')
    assert checked.lines[:3] == ['FAMILY NT', 'IMAGE missing - ' + KESTRUNE_SYS,
                                 'IMAGE missing - ' + MORVELLIN_SYS], checked.lines
    assert starting(checked.lines, 'SERVICE') == ['SERVICE Kestrune missing', 'SERVICE Morvellin missing']
    assert 'CONTROL unasked' in checked.lines
    assert not starting(checked.lines, 'PROBLEM') and not starting(checked.lines, 'WARNING')


def test_install_restart_uninstall_and_the_other_drivers_entries(machine):
    seed_class_keys(machine)
    before = {key: machine.reg_query(key, 'LowerFilters').raw for key in (ATA, SCSI, CDROM)}
    checked = run_check(machine)
    # The seeded entries name no service: warnings, and the verdict stays.
    assert_verdict(checked, 1, 'not installed')
    assert starting(checked.lines, 'WARNING') == warnings_of(SEEDED), checked.lines
    assert {key: machine.reg_query(key, 'LowerFilters').raw for key in (ATA, SCSI, CDROM)} == before

    assert machine.run(machine.build.kstins, '/I', '/Q').rc == 0
    checked = run_check(machine)
    assert_verdict(checked, 3010, 'installed, restart pending')
    assert starting(checked.lines, 'IMAGE') == ['IMAGE current 1.4.2.11 ' + KESTRUNE_SYS,
                                                'IMAGE current 1.4.2.11 ' + MORVELLIN_SYS]
    assert starting(checked.lines, 'SERVICE') == \
        service_lines('Kestrune', 0, 0, 'System Bus Extender', KESTRUNE_SYS) + \
        service_lines('Morvellin', 3, 1, '', MORVELLIN_SYS), checked.lines
    assert starting(checked.lines, 'LOWERFILTERS') == [
        'LOWERFILTERS %s %d %s %s' % (KEY_TEXT[key], i + 1, 'ours' if i == 0 else 'other', entry)
        for key, ours in ((ATA, 'Kestrune'), (SCSI, 'Kestrune'), (CDROM, 'Morvellin'))
        for i, entry in enumerate([ours] + SEEDED[key])]
    assert starting(checked.lines, 'WARNING') == warnings_of(SEEDED)
    assert 'CONTROL silent' in checked.lines

    # Without the device table the restarted filter answers with no devices.
    install_with_devices(machine)
    checked = run_check(machine)
    assert_verdict(checked, 0, 'installed and running')
    assert 'CONTROL answers' in checked.lines
    assert starting(checked.lines, 'DEVICE') == ['DEVICE ' + l for l in DEVICE_LINES], checked.lines


def test_service_deleted_by_hand_is_inconsistent(machine):
    seed_class_keys(machine)  # a fresh Wine machine has no class keys to list the filters in
    assert machine.run(machine.build.kstins, '/I', '/Q').rc == 0
    assert machine.run('sc', 'delete', 'Kestrune').rc == 0
    checked = run_check(machine)
    assert_verdict(checked, 2, 'inconsistent')
    assert 'SERVICE Kestrune missing' in checked.lines
    assert starting(checked.lines, 'PROBLEM') == ['PROBLEM service Kestrune is missing'], checked.lines


def test_after_uninstall_nothing_is_installed(machine):
    seed_class_keys(machine)
    assert machine.run(machine.build.kstins, '/I', '/Q').rc == 0
    assert run_check(machine).code == 3010
    assert machine.run(machine.build.kstins, '/U', '/Q').rc == 0
    checked = run_check(machine)
    assert_verdict(checked, 1, 'not installed')
    assert starting(checked.lines, 'SERVICE') == ['SERVICE Kestrune missing', 'SERVICE Morvellin missing']


def test_foreign_upper_filter_naming_no_service_warns(machine):
    machine.reg_add_multi_sz(SCSI, 'UpperFilters', ['ghostflt'])
    machine.reg_add_multi_sz(ATA, 'LowerFilters', ['MountMgr'])  # a service Wine has
    checked = run_check(machine)
    assert_verdict(checked, 1, 'not installed')
    assert starting(checked.lines, 'WARNING') == [
        'WARNING UpperFilters of %s lists "ghostflt", which names no existing service' % KEY_TEXT[SCSI]]
    assert machine.reg_query(SCSI, 'UpperFilters').value == ['ghostflt']


def test_usage_and_unknown_switch(machine):
    checked = run_check(machine, '/?')
    assert checked.code == 0, checked
    assert checked.lines[1] == ' KstCheck.exe [/?]', checked.lines
    assert not starting(checked.lines, 'VERDICT')
    checked = run_check(machine, '/X')
    assert checked.code == 87, checked
    assert checked.lines == [] and ' KstCheck.exe [/?]' in checked.errors, checked


def test_9x_family_counts_only_the_image(machine):
    seed_class_keys(machine)  # other drivers' entries, never looked at on this family
    machine.set_win98()
    checked = run_check(machine)
    assert_verdict(checked, 1, 'not installed')
    vxd = SYS + '\\Iosubsys\\Kestrune.vxd'
    assert checked.lines == ['FAMILY 9x', 'IMAGE missing - ' + vxd, 'CONTROL unasked',
                             'VERDICT 1 not installed'], checked.lines
    (machine.system32() / 'iosubsys').mkdir(exist_ok=True)
    assert machine.run(machine.build.kstins, '/I', '/Q').rc == 0
    checked = run_check(machine)
    # The virtual device driver does not load under Wine: the file alone is there.
    assert checked.lines == ['FAMILY 9x', 'IMAGE current 1.4.2.11 ' + vxd, 'CONTROL silent',
                             'VERDICT 3010 installed, restart pending'], checked.lines
    assert checked.code == 3010
