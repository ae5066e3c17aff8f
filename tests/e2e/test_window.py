"""The main window under Wine: what it shows and what its buttons do.

The window is read and driven through KstProbe (tools/KstProbe.c). The
framework numbers the controls from 100 in the order of the form
description, so a control's id names it.
"""
import struct
import time

from lib.probe import find

TITLE = 'Kestrune Install Tools'
SERVICES = 'HKLM\\System\\CurrentControlSet\\Services\\'
CLASS_KEYS = {
    'Kestrune': ['{4D36E97B-E325-11CE-BFC1-08002BE10318}', '{4D36E96A-E325-11CE-BFC1-08002BE10318}'],
    'Morvellin': ['{4D36E965-E325-11CE-BFC1-08002BE10318}'],
}
CLASS_ROOT = 'HKLM\\System\\CurrentControlSet\\Control\\Class\\'

# Name, parent, left, top, width, height (None: a label, which sizes itself).
CONTROLS = [
    ('BtnOk', 'Main', 152, 186, 75, 25),
    ('BtnClose', 'Main', 234, 186, 75, 25),
    ('BtnExitWindows', 'Main', 4, 186, 75, 25),
    ('GroupBox1', 'Main', 0, 0, 319, 65),
    ('RadioButton2', 'GroupBox1', 12, 36, 275, 17),
    ('RadioButton1', 'GroupBox1', 12, 14, 275, 17),
    ('GroupBox2', 'Main', 0, 65, 319, 114),
    ('Kestrune1', 'GroupBox2', 12, 18, None, None),
    ('Kestrune2', 'GroupBox2', 72, 18, None, None),
    ('Morvellin1', 'GroupBox2', 12, 39, None, None),
    ('Morvellin2', 'GroupBox2', 72, 39, None, None),
    ('LabelStatus1', 'GroupBox2', 12, 60, None, None),
    ('LabelStatus2', 'GroupBox2', 72, 62, None, None),
    ('Host1', 'GroupBox2', 186, 18, None, None),
    ('Host2', 'GroupBox2', 230, 18, None, None),
    ('Target1', 'GroupBox2', 186, 39, None, None),
    ('Target2', 'GroupBox2', 230, 39, None, None),
    ('CbDeviceList', 'GroupBox2', 6, 82, 305, 22),
]


def device_record(hba, path, target, lun, letter, adapter, status=0, sense=b''):
    """One 52-byte record of the stand-in filter's table: the ScsiInfo entry
    and the canned answer to an INQUIRY sent to it."""
    entry = struct.pack('<5I8sI', hba, path, target, lun, letter,
                        adapter.encode('latin-1').ljust(8, b'\0'), 0)
    return entry + bytes([status, len(sense)]) + sense.ljust(18, b'\0')


# Two targets on one bus, the second with two logical units: three entries,
# two listed devices. The stand-in cannot fill a caller's data buffer, so no
# device answers as a CD/DVD drive and every display name is empty.
DEVICE_TABLE = (device_record(0, 0, 0, 0, 3, 'atapi')
                + device_record(0, 0, 1, 0, 0, 'atapi')
                + device_record(0, 0, 1, 1, 255, 'atapi'))
DEVICE_LINES = ('(D:) (H0 P0 T0 L0)', '(?:) (H0 P0 T1 L0)')


class MainWindow:
    """A dump of the main window with its controls by name."""

    def __init__(self, windows):
        self.windows = windows
        self.form = windows[0]
        by_id = {w.id: w for w in windows[1:]}
        self.controls = {name: by_id.get(100 + i) for i, (name, *_) in enumerate(CONTROLS)}

    def __getitem__(self, name):
        control = self.controls[name]
        assert control is not None, 'no control %s in the dump' % name
        return control


def open_window(machine):
    """Starts KstIns.exe without arguments; the process once its window shows.

    The window exists, hidden, while its creation gathers the status; it is
    shown only after that, so waiting for it to be visible is waiting for
    the status display (and its trace lines) to be complete."""
    process = machine.spawn(machine.build.kstins)
    assert machine.wait_window(TITLE, 60000), 'the main window did not appear'
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        windows = machine.dump(TITLE)
        if windows and windows[0].visible:
            return process
        time.sleep(0.1)
    raise AssertionError('the main window was never shown')


def read_window(machine):
    windows = machine.dump(TITLE)
    assert windows, 'the main window cannot be read'
    return MainWindow(windows)


def close_with_button(machine, process):
    assert machine.click(TITLE, '&Close')
    code = process.wait(30)
    assert code == 0, 'exit code %r' % code
    assert machine.wait_gone(TITLE, 5000)


def install_with_devices(machine, table=DEVICE_TABLE):
    """Installs from the command line, gives the stand-in filter its device
    table and restarts the session, which loads the filter."""
    assert machine.run(machine.build.kstins, '/I', '/Q').rc == 0
    machine.reg_add_binary(SERVICES + 'Kestrune', 'Parameters', table)
    machine.restart(running=('Kestrune',))


def check_layout(window):
    form = window.form
    assert (form.client_width, form.client_height) == (319, 215)
    assert form.cls == 'TMain'
    for name, parent, left, top, width, height in CONTROLS:
        control = window[name]
        parent_index = 0 if parent == 'Main' else window[parent].index
        assert control.parent == parent_index, name
        assert (control.x, control.y) == (left, top), (name, control.x, control.y)
        if width is not None:
            assert (control.width, control.height) == (width, height), \
                (name, control.width, control.height)
        else:
            assert control.width > 0 and control.height > 0, name


def test_fresh_machine_shows_nothing_installed(machine):
    process = open_window(machine)
    window = read_window(machine)

    assert window.form.text == TITLE
    assert window.form.visible
    check_layout(window)
    assert window['BtnExitWindows'].visible
    assert window['BtnExitWindows'].text == 'Exit Windows'
    assert window['RadioButton1'].text == 'Install Kestrune stroge device filter ( 1.4.2.11 )'
    assert window['RadioButton1'].checked == 1
    assert window['RadioButton2'].checked == 0
    assert window['LabelStatus2'].text == 'Uninstall'
    assert window['Kestrune2'].text == '' and window['Morvellin2'].text == ''
    assert window['Morvellin1'].visible and window['Morvellin2'].visible
    assert (window['Host2'].text, window['Target2'].text) == ('0', '0')
    device_list = window['CbDeviceList']
    assert not device_list.enabled
    assert device_list.items == () and device_list.cursel == -1

    close_with_button(machine, process)


def test_title_bar_close_ends_with_exit_code_0(machine):
    process = open_window(machine)
    assert machine.close_window(TITLE)
    assert process.wait(30) == 0


def test_installed_filter_lists_its_devices(machine):
    install_with_devices(machine)
    trace = machine.start_trace()
    process = open_window(machine)
    window = read_window(machine)

    assert window['LabelStatus2'].text == 'Install'
    assert window['Kestrune2'].text == '1.4.2.11'
    assert window['Morvellin2'].text == '1.4.2.11'
    device_list = window['CbDeviceList']
    assert device_list.enabled
    assert device_list.items == DEVICE_LINES
    assert device_list.cursel == 0
    assert (window['Host2'].text, window['Target2'].text) == ('3', '2')

    texts = trace.texts('W')
    for line in ('InitiateKestruneNT', 'Kestrune SCSI Info Count: 3', 'InitiateKestrune - Already',
                 DEVICE_LINES[0], DEVICE_LINES[1], 'nScsiInfoCount :3', 'nDeviceCount :2',
                 'nLastScsiHost :1', 'UnInitiateKestruneNT'):
        assert line in texts, 'trace lacks %r: %r' % (line, texts)
    assert texts.index('InitiateKestruneNT') < texts.index('nScsiInfoCount :3') \
        < texts.index('UnInitiateKestruneNT')

    # Installing over the running filter asks first; No does nothing at all.
    lines_before = len(texts)
    assert machine.click(TITLE, '&Execute')
    answered = machine.answer(TITLE, 'Kestrune alreay installed!', 'no')
    assert answered, 'no re-install question'
    text, buttons = answered
    assert text == 'Kestrune alreay installed!\nRe-install again?'
    assert buttons == ['yes', 'no']
    assert machine.answer('Kestrune installed', 'success', 'no', timeout_ms=3000) is None
    assert trace.texts('W')[lines_before:] == []
    after = read_window(machine)
    assert after['BtnOk'].enabled and after['LabelStatus2'].text == 'Install'

    close_with_button(machine, process)


def test_execute_uninstall_removes_everything(machine):
    # Installed but not yet loaded (no restart): the files are current, the
    # filter does not answer, so the status reads "Uninstall".
    assert machine.run(machine.build.kstins, '/I', '/Q').rc == 0
    drivers = machine.system32() / 'drivers'
    assert (drivers / 'Kestrune.sys').exists() and (drivers / 'Morvellin.sys').exists()
    process = open_window(machine)
    window = read_window(machine)
    assert window['Kestrune2'].text == '1.4.2.11'
    assert window['LabelStatus2'].text == 'Uninstall'

    assert machine.click(TITLE, 'UnInstall Kestrune stroge device filter')
    assert machine.click(TITLE, '&Execute')
    answered = machine.answer('Kestrune uninstalled', 'Kestrune uninstalled success!', 'no')
    assert answered, 'no restart question after the uninstall'

    assert not (drivers / 'Kestrune.sys').exists()
    assert not (drivers / 'Morvellin.sys').exists()
    assert machine.services('Kestrune') is None
    assert machine.services('Morvellin') is None
    for name, keys in CLASS_KEYS.items():
        for key in keys:
            value = machine.reg_query(CLASS_ROOT + key, 'LowerFilters')
            assert value is None or name not in value.value, (key, value)
    # The window still shows what it found at start.
    after = read_window(machine)
    assert after['Kestrune2'].text == '1.4.2.11'
    assert after['RadioButton2'].checked == 1

    close_with_button(machine, process)


def test_exit_windows_restarts_without_question(machine):
    process = open_window(machine)
    assert machine.click(TITLE, 'Exit Windows')
    # The restart ends the Windows session and every program in it.
    assert process.wait(60) is not None, 'KstIns still runs after Exit Windows'


def test_restart_question_holds_the_window_while_another_program_has_the_focus(machine):
    # The user switches to another program while the uninstall runs: the
    # question that follows must still keep Execute, Close and Exit Windows
    # from being pressed until it is answered, and give them back after.
    assert machine.run(machine.build.kstins, '/I', '/Q').rc == 0
    process = open_window(machine)
    assert machine.click(TITLE, 'UnInstall Kestrune stroge device filter')
    assert machine.click(TITLE, '&Execute')
    # A click focuses the button, and so activates the main window: the other
    # program opens during the two-second pause between the drivers.
    other = machine.spawn(machine.build.probetarget)
    assert machine.wait_window('Probe Target', 10000)
    assert machine.foreground() == 'Probe Target', machine.foreground()
    assert machine.wait_window('Kestrune uninstalled', 30000, cls='#32770'), \
        'no restart question after the uninstall'
    assert not read_window(machine).form.enabled, 'the main window takes input under the question'
    assert machine.answer('Kestrune uninstalled', 'Kestrune uninstalled success!', 'no')
    assert read_window(machine).form.enabled, 'the main window stays disabled after the answer'
    other.kill()
    close_with_button(machine, process)
