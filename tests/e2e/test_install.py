"""KstIns.exe on the command line in a Wine machine: image deployment, the
kernel services, the class filter lists, uninstall, the 9x family, the
usage box and the restart request."""
from lib.regfile import REG_MULTI_SZ
from lib.safe_state import ATA, CDROM, SCSI, embedded, find_file

KEY_TEXT = {ATA: 'SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97B-E325-11CE-BFC1-08002BE10318}',
            SCSI: 'SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96A-E325-11CE-BFC1-08002BE10318}',
            CDROM: 'SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E965-E325-11CE-BFC1-08002BE10318}'}

# Other drivers' filters, as a real machine has them; one of them differs
# from ours only by a suffix and must survive every edit.
SEEDED = {ATA: ['scsiflt', 'KestruneX'], SCSI: ['atapiflt'], CDROM: ['imapi', 'redbook', 'imapi']}

SYS = 'C:\\windows\\system32'
KESTRUNE_SYS = SYS + '\\Drivers\\Kestrune.sys'
MORVELLIN_SYS = SYS + '\\Drivers\\Morvellin.sys'


def seed_class_keys(machine, lists=SEEDED):
    for key, items in lists.items():
        machine.reg_add_multi_sz(key, 'LowerFilters', items)


def lower_filters(machine, key):
    """The entries of a LowerFilters value up to its first empty string, or
    None when the value is missing."""
    value = machine.reg_query(key, 'LowerFilters')
    if value is None:
        return None
    assert value.type == REG_MULTI_SZ, value
    return value.value


def stored_characters(machine, key):
    """How many characters the stored LowerFilters data holds (Wine keeps
    the A-variant's bytes as UTF-16, one character each)."""
    return len(machine.reg_query(key, 'LowerFilters').raw) // 2


def copy_lines(path):
    return ['Copy driver to: ' + path, 'Copyfile: CreateFile success!', 'Copyfile: ' + path,
            '===== Copyfile ===========']


def reg_lines(name, key):
    return ['RegLowerFilter: %s: %s' % (name, KEY_TEXT[key]), 'Success to RegLowerFilter ' + KEY_TEXT[key]]


def nt_install_lines(first_time=True):
    kestrune = 'Create Kestrune service success!' if first_time else \
        'Kestrune server exists, Re-update register inforamtiom!'
    morvellin = 'Create Morvellin service success!' if first_time else 'Morvellin server exists!'
    return (copy_lines(KESTRUNE_SYS) + copy_lines(MORVELLIN_SYS) +
            ['InstallKestruneNT', kestrune,
             'Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_ATA!'] + reg_lines('Kestrune', ATA) +
            ['Start RegLowerFilter: REG_KESTRUNE KESTRUNE_REG_KEY_SCSI!'] + reg_lines('Kestrune', SCSI) +
            ['Success to RegLowerFilter Kestrune ATAPI!',
             'InstallMorvellinNT', morvellin,
             'Start RegLowerFilter: REG_MORVELLIN MORVELLIN_REG_KEY_CDVDROM!'] +
            reg_lines('Morvellin', CDROM) + ['Success to RegLowerFilter Morvellin cdvdrom!'])


def assert_installed(machine, build):
    for rel, rid in (('Drivers\\Kestrune.sys', 104), ('Drivers\\Morvellin.sys', 105)):
        path = find_file(machine.system32(), rel)
        assert path is not None, rel + ' missing'
        assert path.read_bytes() == embedded(build, rid), rel + ' differs from the embedded image'
    k = machine.services('Kestrune')
    assert k is not None, 'no Kestrune service'
    assert (k['Type'], k['Start'], k['ErrorControl'], k.get('Group'), k['ImagePath'].lower()) == \
        (1, 0, 0, 'System Bus Extender', KESTRUNE_SYS.lower()), k
    assert k['DisplayName'] == 'Kestrune - Storage Filter Drivers', k
    m = machine.services('Morvellin')
    assert m is not None, 'no Morvellin service'
    assert (m['Type'], m['Start'], m['ErrorControl'], m.get('Group', ''), m['ImagePath'].lower()) == \
        (1, 3, 1, '', MORVELLIN_SYS.lower()), m
    assert m['DisplayName'] == 'Morvellin - Storage Filter Drivers', m
    # Each name once, at the head, the other entries kept in their order.
    assert lower_filters(machine, ATA) == ['Kestrune'] + SEEDED[ATA]
    assert lower_filters(machine, SCSI) == ['Kestrune'] + SEEDED[SCSI]
    assert lower_filters(machine, CDROM) == ['Morvellin'] + SEEDED[CDROM]


def assert_uninstalled(machine):
    assert find_file(machine.system32(), 'Drivers\\Kestrune.sys') is None
    assert find_file(machine.system32(), 'Drivers\\Morvellin.sys') is None
    assert machine.services('Kestrune') is None
    assert machine.services('Morvellin') is None
    for key, items in SEEDED.items():
        assert lower_filters(machine, key) == items, (key, lower_filters(machine, key))


def test_install_quiet_writes_images_registers_and_traces(machine, build):
    seed_class_keys(machine)
    trace = machine.start_trace()
    result = machine.run(build.kstins, '/I', '/Q')
    assert result.rc == 0, result
    expected = ['QuietMode'] + nt_install_lines()
    assert trace.texts('W') == expected, trace.texts('W')
    assert trace.texts('D') == expected, 'the debug stream gets the same lines'
    assert_installed(machine, build)


def test_second_install_changes_nothing_but_rewrites_lists(machine, build):
    seed_class_keys(machine)
    assert machine.run(build.kstins, '/I', '/Q').rc == 0
    before = (machine.services('Kestrune'), machine.services('Morvellin'))
    trace = machine.start_trace(channels='W')
    assert machine.run(build.kstins, '/I', '/Q').rc == 0
    assert trace.texts('W') == ['QuietMode'] + nt_install_lines(first_time=False)
    assert (machine.services('Kestrune'), machine.services('Morvellin')) == before
    assert_installed(machine, build)
    # A rewritten list is the whole 2352-byte buffer.
    assert stored_characters(machine, ATA) == 2352


def test_uninstall_quiet_leaves_exactly_the_other_entries(machine, build):
    seed_class_keys(machine)
    assert machine.run(build.kstins, '/I', '/Q').rc == 0
    trace = machine.start_trace(channels='W')
    result = machine.run(build.kstins, '/U', '/Q')
    assert result.rc == 0, result
    assert_uninstalled(machine)
    lines = trace.texts('W')
    assert lines[:2] == ['QuietMode', KESTRUNE_SYS], lines
    assert 'DeleteFile: Kestrune.sys success!' in lines, lines
    assert 'DeleteFile: Morvellin.sys success!' in lines, lines
    assert not any(l.startswith('Failed') for l in lines), lines


def test_uninstall_of_a_list_holding_only_our_name_removes_the_value(machine, build):
    seed_class_keys(machine, {ATA: [], SCSI: ['atapiflt'], CDROM: ['imapi']})
    machine.reg_delete(ATA, 'LowerFilters')
    assert machine.run(build.kstins, '/I', '/Q').rc == 0
    assert lower_filters(machine, ATA) == ['Kestrune']
    assert stored_characters(machine, ATA) == 10, 'name, zero, zero'
    assert machine.run(build.kstins, '/U', '/Q').rc == 0
    assert lower_filters(machine, ATA) is None
    assert lower_filters(machine, SCSI) == ['atapiflt']


def test_9x_family_writes_and_removes_only_the_vxd(machine, build):
    seed_class_keys(machine)
    machine.set_win98()
    trace = machine.start_trace(channels='W')
    # Without the Iosubsys folder the copy fails. Quiet, the run ends by itself
    # and the failure box's text is a trace line.
    result = machine.run(build.kstins, '/I', '/Q', timeout=20)
    assert result.rc == 0, result
    assert trace.texts('W')[-3:] == [
        'Copyfile: CreateFile failed!' + SYS + '\\Iosubsys\\Kestrune.~nw',
        '===== Copyfile ===========', 'Faile to copy driver to system directory!'], trace.texts('W')

    (machine.system32() / 'iosubsys').mkdir(exist_ok=True)  # as a 9x machine has it
    assert machine.run(build.kstins, '/I', '/Q').rc == 0
    vxd = find_file(machine.system32(), 'Iosubsys\\Kestrune.vxd')
    assert vxd is not None, trace.texts('W')
    assert vxd.read_bytes() == embedded(build, 106)
    assert trace.texts('W')[-5:] == ['QuietMode'] + copy_lines(SYS + '\\Iosubsys\\Kestrune.vxd')
    assert find_file(machine.system32(), 'Drivers\\Kestrune.sys') is None
    assert machine.services('Kestrune') is None
    for key, items in SEEDED.items():
        assert lower_filters(machine, key) == items

    assert machine.run(build.kstins, '/U', '/Q').rc == 0
    assert find_file(machine.system32(), 'Iosubsys\\Kestrune.vxd') is None
    assert trace.texts('W')[-3:] == ['QuietMode', '===== UnInstallKestrune9X ===========',
                                     'Delete driver to: ' + SYS + '\\Iosubsys\\Kestrune.vxd']


USAGE = ('Kestrune Install Tools.\n KstIns.exe /? /I /U /B /Q \n /?\tdisplay this help and exit.\n'
         ' /I\tInstall Kestrune device.\n /U\tUninstall Kestrune device.\n'
         ' /B\tReboot windows. This includes rebooting if necessary.\n /Q\tQuiet mode.\n'
         '    Example:\n \tinstall,\tKstIns.exe /I /Q\n \tuninstall,\tKstIns.exe /U /Q\n')


def test_unrecognised_switch_shows_usage_and_quiet_suppresses_it(machine, build):
    program = machine.spawn(build.kstins, '/X')
    box = machine.answer('Kestrune Install Tools', 'KstIns.exe /? /I /U /B /Q', 'ok', 20000)
    assert box is not None, 'no usage box'
    text, _ = box
    assert text.replace('\r\n', '\n').rstrip('\n') == USAGE.rstrip('\n'), repr(text)
    assert program.wait(20) == 0

    # Quiet before the unknown switch: nothing shown, nothing done, exit 0.
    result = machine.run(build.kstins, '/Q', '/X', timeout=20)
    assert result.rc == 0, result
    assert find_file(machine.system32(), 'Drivers\\Kestrune.sys') is None


def test_install_with_restart_switch_restarts_whatever_the_answer(machine, build):
    seed_class_keys(machine)
    trace = machine.start_trace(channels='W')
    program = machine.spawn(build.kstins, '/I', '/B')
    box = machine.answer('Kestrune installed', 'Do you want to reboot now?', 'no', 30000)
    assert box is not None, trace.texts('W')
    assert 'Kestrune installed success!.' in box[0]
    program.wait(30)
    lines = trace.texts('W')
    assert lines[0] == 'QuietMode' and lines[-1] == 'Install Command: QuietMode', lines
    assert 'InstallKestrune: RebootWindows' not in lines, 'No was answered'
    # The restart request ends the Wine session: every program of the prefix is gone.
    assert not trace.process.running() or trace.process.wait(30) is not None
    machine.restart()
    assert_installed(machine, build)


def test_reinstall_whose_image_does_not_fit_keeps_the_old_image(machine, build):
    seed_class_keys(machine)
    assert machine.run(build.kstins, '/I', '/Q').rc == 0
    installed = find_file(machine.system32(), 'Drivers\\Kestrune.sys')
    older = embedded(build, 104) + b'an earlier version'
    installed.write_bytes(older)
    lists = {key: lower_filters(machine, key) for key in SEEDED}
    trace = machine.start_trace(channels='W')
    # No file may grow past 1 KB: the new image's write fails for real, as on
    # a full disk. Not quiet, the failure shows its box.
    program = machine.spawn(build.kstins, '/I', file_size_limit=1024)
    box = machine.answer('SCSI SRB Command Filters', 'Faile to copy driver to system directory!',
                         'ok', 20000)
    assert box is not None, trace.texts('W')
    assert program.wait(20) == 0
    lines = trace.texts('W')
    assert lines[:2] == ['Copy driver to: ' + KESTRUNE_SYS, 'Copyfile: CreateFile success!'], lines
    assert lines[2].startswith('Copyfile: Failed to write file!'), lines
    assert lines[3:] == ['===== Copyfile ==========='], lines
    assert installed.read_bytes() == older, 'the installed image changed'
    left = sorted(p.name for p in installed.parent.iterdir() if p.name.lower().startswith('kestrune'))
    assert left == [installed.name], 'files of our own left behind: %s' % left
    assert {key: lower_filters(machine, key) for key in SEEDED} == lists
