"""The installed drivers as the status display finds them under Wine: the
version check of the driver files and the NT inventory built from what the
loaded stand-in filter reports."""
import struct

from test_window import (DEVICE_TABLE, TITLE, close_with_button, device_record,
                         install_with_devices, open_window, read_window)

SYS = 'C:\\windows\\system32'


def patch_file_version(path, version):
    """Rewrites the fixed file version of a driver image in place."""
    data = bytearray(path.read_bytes())
    at = data.find(struct.pack('<I', 0xFEEF04BD))
    assert at >= 0, 'no fixed version info in %s' % path
    a, b, c, d = version
    struct.pack_into('<II', data, at + 8, a << 16 | b, c << 16 | d)
    path.write_bytes(bytes(data))


def test_nt_builder_traces_count_and_one_line_per_listed_device(machine):
    # Two adapters: the second continues the host numbering where the first stopped.
    table = DEVICE_TABLE + device_record(1, 0, 4, 0, 4, 'scsi2')
    install_with_devices(machine, table)
    trace = machine.start_trace(channels='W')
    process = open_window(machine)
    texts = trace.texts('W')
    assert 'Kestrune SCSI Info Count: 4' in texts, texts
    start = texts.index('Kestrune SCSI Info Count: 4')
    assert texts[start + 1:start + 3] == ['atapi', 'scsi2'], texts
    devices = [t for t in texts if ' H/T: ' in t]
    assert devices == [
        '(D:) H/T: 0/0 (HBA0Path0Target0Lun0 atapi)',
        '(@:) H/T: 0/1 (HBA0Path0Target1Lun0 atapi)',
        '(E:) H/T: 2/4 (HBA1Path0Target4Lun0 scsi2)',
    ], texts
    assert 'nLastScsiHost :3' in texts, texts
    window = read_window(machine)
    assert window['CbDeviceList'].items[-1] == '(E:) (H2 P0 T4 L0)'
    assert (window['Host2'].text, window['Target2'].text) == ('4', '3')
    close_with_button(machine, process)


def test_version_check_passes_then_fails_for_another_version(machine):
    assert machine.run(machine.build.kstins, '/I', '/Q').rc == 0
    trace = machine.start_trace(channels='W')
    process = open_window(machine)
    window = read_window(machine)
    assert (window['Kestrune2'].text, window['Morvellin2'].text) == ('1.4.2.11', '1.4.2.11')
    texts = trace.texts('W')
    assert texts[:4] == ['CheckDriverFliterVersion: \\Drivers\\Kestrune.sys',
                         '\\Drivers\\Kestrune.sys Version: 1.4.2.11',
                         'CheckDriverFliterVersion: \\Drivers\\Morvellin.sys',
                         '\\Drivers\\Morvellin.sys Version: 1.4.2.11'], texts
    # The filter is not loaded before a restart: the files alone do not make it installed.
    assert 'InitiateKestruneNT' in texts
    assert window['LabelStatus2'].text == 'Uninstall'
    close_with_button(machine, process)
    trace.stop()

    # One file of another version, the other missing: both are checked and shown.
    drivers = machine.system32() / 'drivers'
    patch_file_version(drivers / 'Morvellin.sys', (1, 4, 2, 110))
    (drivers / 'Kestrune.sys').unlink()
    trace = machine.start_trace(channels='W')
    process = open_window(machine)
    window = read_window(machine)
    assert window['Kestrune2'].text == ''
    assert window['Morvellin2'].text == '1.4.2.110'
    assert window['LabelStatus2'].text == 'Uninstall'
    texts = trace.texts('W')
    assert 'Lost file: ' + SYS + '\\Drivers\\Kestrune.sys' in texts, texts
    assert '\\Drivers\\Morvellin.sys Version: 1.4.2.110' in texts, texts
    assert 'InitiateKestruneNT' not in texts, 'no device is asked when a file fails the check'
    close_with_button(machine, process)
