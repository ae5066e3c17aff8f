"""KstIns.exe against inputs from outside that misbehave: a loaded filter
that answers anything (tests/e2e's stand-in, set up by the values that
drivers/README.md lists) and a trace window whose thread stops answering.
Each prints how long it took; the rules, not the time, are asserted."""
import struct
import time

from test_install import (ATA, CDROM, SCSI, assert_installed, nt_install_lines,
                          seed_class_keys)
from test_window import (DEVICE_LINES, DEVICE_TABLE, SERVICES, TITLE, MainWindow,
                         close_with_button, device_record)

NOT_READY = dict(status=2, sense=bytes([0x70, 0, 0x02] + [0] * 9 + [0x04]).ljust(18, b'\0'))


def install_hostile(machine, table, **dwords):
    """Installs, gives the stand-in filter its table and misbehaviour values,
    and restarts the session so that it loads them."""
    assert machine.run(machine.build.kstins, '/I', '/Q').rc == 0
    machine.reg_add_binary(SERVICES + 'Kestrune', 'Parameters', table)
    for name, number in dwords.items():
        machine.reg_add_dword(SERVICES + 'Kestrune', name, number)
    machine.restart(running=('Kestrune',))


def timed_window(machine, what, dump_timeout=60):
    """Starts KstIns.exe without arguments; (process, MainWindow) once its
    window shows, printing how long that took; no MainWindow when
    dump_timeout is None."""
    started = time.monotonic()
    process = machine.spawn(machine.build.kstins)
    while not machine.shown(TITLE):
        assert time.monotonic() - started < 120, 'the main window was not shown in 120 s'
        time.sleep(0.1)
    seconds = time.monotonic() - started
    print('  %s: window shown after %.1f s' % (what, seconds), flush=True)
    if dump_timeout is None:
        return process, None
    windows = machine.dump(TITLE, timeout=dump_timeout)
    assert windows, 'the main window cannot be read'
    return process, MainWindow(windows)


def check_shown(window, lines, host2, target2):
    """The filter counts as installed; the list and counters as given."""
    assert window['LabelStatus2'].text == 'Install', window['LabelStatus2'].text
    device_list = window['CbDeviceList']
    assert device_list.items == tuple(lines), device_list.items[:8]
    assert device_list.enabled == bool(lines)
    assert device_list.cursel == (0 if lines else -1)
    assert (window['Host2'].text, window['Target2'].text) == (host2, target2)


def test_count_of_two_to_the_31_minus_1_is_refused_whole(machine):
    install_hostile(machine, DEVICE_TABLE, ReportedCount=0x7FFFFFFF)
    trace = machine.start_trace(channels='W')
    process, window = timed_window(machine, 'count 2^31-1')
    check_shown(window, [], '0', '0')
    texts = trace.texts('W')
    start = texts.index('Kestrune SCSI Info Count: 2147483647')
    assert texts[start + 1] == \
        'error: scsi information count 2147483647 is above 4096, entries not requested', texts
    assert 'nScsiInfoCount :2147483647' in texts and 'nDeviceCount :0' in texts, texts
    close_with_button(machine, process)


def test_negative_count_means_no_devices(machine):
    install_hostile(machine, DEVICE_TABLE, ReportedCount=-1)
    trace = machine.start_trace(channels='W')
    process, window = timed_window(machine, 'count -1')
    check_shown(window, [], '0', '0')
    texts = trace.texts('W')
    assert 'Kestrune SCSI Info Count: -1' in texts and 'nScsiInfoCount :-1' in texts, texts
    close_with_button(machine, process)


def test_short_answer_leaves_zero_entries_listed_under_an_empty_name(machine):
    # Five entries announced, two returned: the other three stay as the
    # program zero-filled them, entries of an empty adapter name on HBA 0,
    # path 0, target 0, of which the first is listed on the next host.
    install_hostile(machine, DEVICE_TABLE[:104], ReportedCount=5)
    trace = machine.start_trace(channels='W')
    process, window = timed_window(machine, 'short answer')
    check_shown(window, list(DEVICE_LINES) + ['(?:) (H1 P0 T0 L0)'], '5', '3')
    texts = trace.texts('W')
    start = texts.index('Kestrune SCSI Info Count: 5')
    assert texts[start + 1:start + 3] == ['atapi', ''], texts
    assert 'nLastScsiHost :2' in texts, texts
    close_with_button(machine, process)


def test_ids_of_256_and_more_are_traced_not_listed(machine):
    table = (device_record(256, 0, 0, 0, 0, 'atapi') + device_record(0, 300, 0, 0, 0, 'atapi')
             + device_record(0, 0, 0x1FF, 0, 0, 'atapi') + device_record(0, 0, 1, 0, 3, 'atapi'))
    install_hostile(machine, table)
    trace = machine.start_trace(channels='W')
    process, window = timed_window(machine, 'ids of 256 and more')
    check_shown(window, ['(D:) (H0 P0 T1 L0)'], '4', '1')
    notes = [t for t in trace.texts('W') if t.startswith('error: entry ')]
    assert notes == ['error: entry 0 not listed: HBA256Path0Target0 beyond 255',
                     'error: entry 1 not listed: HBA0Path300Target0 beyond 255',
                     'error: entry 2 not listed: HBA0Path0Target511 beyond 255'], notes
    close_with_button(machine, process)


def test_failing_pass_through_still_lists_every_device(machine):
    install_hostile(machine, DEVICE_TABLE, PassThroughFails=1)
    trace = machine.start_trace(channels='W')
    process, window = timed_window(machine, 'pass-through fails')
    check_shown(window, DEVICE_LINES, '3', '2')
    assert not [t for t in trace.texts('W') if 'inquiry time' in t]
    close_with_button(machine, process)


def never_ready_table(count):
    return b''.join(device_record(i // 256, 0, i % 256, 0, 0, 'atapi', **NOT_READY)
                    for i in range(count))


def test_4096_never_ready_devices_are_listed_within_the_inquiry_budget(machine):
    install_hostile(machine, never_ready_table(4096))
    # Without a viewer first: the time of the status display alone.
    process, window = timed_window(machine, '4096 never-ready devices, no viewer', 600)
    lines = ['(?:) (H%d P0 T%d L0)' % (i // 256, i % 256) for i in range(4096)]
    check_shown(window, lines, '4096', '4096')
    close_with_button(machine, process)

    # With a trace window, whose lines cost most of the time under Wine.
    trace = machine.start_trace(channels='W')
    process, _ = timed_window(machine, '4096 never-ready devices, trace window', None)
    texts = trace.texts('W')
    told = [t for t in texts if 'inquiry time' in t]
    assert told == ['error: inquiry time of 5000 ms used up, 4095 devices listed without inquiry'], told
    # Told right after the first device, the only one inquired.
    assert texts[texts.index(told[0]) - 1] == '(@:) H/T: 0/0 (HBA0Path0Target0Lun0 atapi)'
    shown = texts[texts.index('InitiateKestrune - Already') + 1:]
    assert shown[:4096] == lines, shown[:3]
    assert shown[4097:4100] == ['nScsiInfoCount :4096', 'nDeviceCount :4096', 'nLastScsiHost :16']
    close_with_button(machine, process)


def test_hung_trace_window_is_given_up_on_and_install_completes(machine, build):
    seed_class_keys(machine)
    expected = ['QuietMode'] + nt_install_lines()
    for answered in (0, 3):
        trace = machine.start_trace(channels='W', hang_after=answered)
        started = time.monotonic()
        result = machine.run(build.kstins, '/I', '/Q', timeout=60)
        seconds = time.monotonic() - started
        print('  /I /Q with a trace window hung after %d lines: %.1f s' % (answered, seconds),
              flush=True)
        assert result.rc == 0, result
        # The lines it took are whole and in order; nothing came after.
        assert trace.texts('W') == expected[:answered], trace.texts('W')
        assert_installed(machine, build)
        trace.process.kill()
        machine.run(build.kstins, '/U', '/Q', timeout=60)
