"""The harness's own checks: KstTrace, KstProbe and the Wine machine work
before any test of the installer relies on them."""
import time

from lib.escape import escape
from lib.probe import find
from lib.regfile import REG_BINARY, REG_MULTI_SZ

SERVICES = 'HKLM\\System\\CurrentControlSet\\Services\\'


def send(machine, *texts):
    result = machine.run(machine.build.sendtrace, '--escaped', *[escape(t) for t in texts])
    assert result.rc == 0, result


def test_trace_receives_both_channels_in_order(machine):
    trace = machine.start_trace(meta=True)
    assert machine.wait_window('TRACE Window', 5000)
    assert machine.wait_window('KstTrace debug client', 5000, cls='DBGVCLNT')
    texts = ['first', 'CR\rLF\nback\\slash\ttab', '', '\xe9\x7f\x01', 'y' * 300]
    send(machine, *texts)
    lines = trace.wait_lines(2 * len(texts))
    expected = []
    for text in texts:
        expected += [('D', text), ('W', text[:254])]
    assert [(l.channel, l.text) for l in lines] == expected, lines
    copies = [l.meta for l in lines if l.channel == 'W']
    assert [m[:3] for m in copies] == [(0, 0, 255)] * len(texts)
    assert [m[3] for m in copies] == [min(len(t), 254) for t in texts]
    assert trace.stop() == 0


def test_trace_debug_stream_outlives_a_writer_killed_while_writing(machine):
    trace = machine.start_trace(channels='D')
    # The buffer taken and never filled, as by a process killed inside
    # OutputDebugStringA: the next writer must not wait for it.
    assert machine.run(machine.build.sendtrace, '--take-buffer').rc == 0
    started = time.monotonic()
    send(machine, 'after the killed writer')
    seconds = time.monotonic() - started
    lines = trace.wait_lines(1, 'D', timeout=5)
    assert [l.text for l in lines] == ['after the killed writer'], (lines, seconds)
    assert seconds < 5, 'the next line waited %.1f s' % seconds


def test_trace_windows_follow_channels_and_decoys(machine):
    trace = machine.start_trace(channels='W', decoys=True)
    listing = machine.probe('list').out
    assert 'TMainFrame\t0\tTRACE Window' in listing
    assert 'TMainFrame\t0\tOther Window' in listing
    assert 'KstDecoyFrame\t0\tTRACE Window' in listing
    assert 'DBGVCLNT' not in listing
    send(machine, 'only the real one')
    # The debug stream is read even without a viewer window.
    assert [(l.channel, l.text) for l in trace.wait_lines(2)] == [
        ('D', 'only the real one'), ('W', 'only the real one')]
    assert trace.stop() == 0


def test_trace_stops_on_wm_close(machine):
    trace = machine.start_trace()
    assert machine.close_window('TRACE Window')
    assert trace.process.wait(15) == 0
    assert machine.wait_gone('TRACE Window', 5000)


def test_probe_reads_and_drives_a_window(machine):
    target = machine.spawn(machine.build.probetarget)
    assert machine.wait_window('Probe Target', 10000)
    windows = machine.dump('Probe Target')
    top = windows[0]
    assert (top.cls, top.parent, top.client_width, top.client_height) == \
        ('KstProbeTarget', -1, 300, 160)
    ask, = find(windows, '&Ask')
    assert (ask.x, ask.y, ask.width, ask.height, ask.visible, ask.enabled, ask.id) == \
        (10, 10, 75, 25, True, True, 101)
    assert not find(windows, 'Hidden')[0].visible
    assert not find(windows, 'Disabled')[0].enabled
    assert [w.checked for w in find(windows, cls='Button')[3:]] == [1, 0]
    combo, = find(windows, cls='ComboBox')
    assert (combo.text, combo.cursel, combo.items) == ('beta', 1, ('alpha', 'beta', 'gamma'))
    assert find(windows, 'Tab\there')

    assert not machine.click('Probe Target', 'Hidden')
    assert not machine.click('Probe Target', 'Disabled')
    assert not machine.click('Probe Target', 'Missing')
    assert machine.answer('Probe Target', 'Go on', 'no', 500) is None
    assert machine.click('Probe Target', 'Ask')
    text, buttons = machine.answer('Probe Target', 'Go on', 'no', 10000)
    assert (text, buttons) == ('First line\nGo on?', ['yes', 'no'])
    assert machine.wait_gone('Probe Target', 5000, cls='#32770')
    assert machine.close_window('Probe Target')
    assert target.wait(15) == 0
    assert target.output().split() == ['READY', 'ANSWER', '7', 'CLOSED']


def test_registry_values_keep_their_bytes(machine):
    key = SERVICES + 'KstHarnessProbe'
    odd = 'A\0\0B\0'.encode('utf-16-le')  # empty item inside, one terminator
    machine.reg_add_multi_sz(key, 'Odd', odd)
    machine.reg_add_multi_sz(key, 'List', ['one', 'two'])
    machine.reg_add_binary(key, 'Blob', bytes(range(0, 256, 7)))
    machine.reg_add_dword(key, 'Start', 3)
    machine.reg_add_sz(key, 'Group', 'Say "hi" \\ there')
    assert machine.reg_query(key, 'odd') == (REG_MULTI_SZ, odd)
    assert machine.reg_query(key, 'List').value == ['one', 'two']
    assert machine.reg_query(key, 'Blob') == (REG_BINARY, bytes(range(0, 256, 7)))
    service = machine.services('KstHarnessProbe')
    assert (service['Start'], service['Group']) == (3, 'Say "hi" \\ there')
    assert machine.reg_delete(key, 'Odd')
    assert machine.reg_query(key, 'Odd') is None
    assert machine.reg_delete(key)
    assert machine.services('KstHarnessProbe') is None
    assert not machine.reg_delete(key)


def test_restart_ends_programs_and_keeps_registry(machine):
    key = SERVICES + 'KstHarnessProbe'
    machine.reg_add_dword(key, 'Start', 1)
    trace = machine.start_trace()
    machine.restart(running=('PlugPlay',))
    assert trace.process.wait(15) is not None
    # A service with no image never runs; one that is not there neither.
    assert not machine.wait_service_running('KstHarnessProbe', 1)
    assert not machine.wait_service_running('KstNoSuchService', 1)
    assert not machine.wait_window('TRACE Window', 0)
    assert machine.reg_query(key, 'Start').value == 1
    machine.set_win98()
    assert machine.reg_query('HKCU\\Software\\Wine', 'Version').value == 'win98'
    assert machine.system32().joinpath('kernel32.dll').is_file()
