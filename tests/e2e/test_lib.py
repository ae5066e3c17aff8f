"""Checks of the harness's pure byte work (no Wine needed)."""
import contextlib
import io
import struct

from lib import pe, regfile
from lib.wine import HarnessError, Result, WineMachine, WineToolError
from lib.escape import escape, unescape
from lib.probe import parse_answer, parse_dump
from lib.regfile import REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_SZ, RegValue


def test_escape_round_trips_every_byte():
    cases = [
        (b'', ''),
        (b'plain text', 'plain text'),
        (b'a\r\nb', 'a\\r\\nb'),
        (b'back\\slash\\', 'back\\\\slash\\\\'),
        (b'\t\x00\x1f\x7f\x80\xff', '\\t\\x00\\x1F\\x7F\\x80\\xFF'),
        (b'\\n literally', '\\\\n literally'),
    ]
    for raw, escaped in cases:
        assert escape(raw) == escaped, raw
        assert unescape(escaped) == raw, escaped
    every = bytes(range(256))
    assert unescape(escape(every)) == every


def test_unescape_keeps_unknown_escapes():
    for text, raw in [('\\q', b'\\q'), ('\\x4', b'\\x4'), ('\\xZZ', b'\\xZZ'), ('end\\', b'end\\')]:
        assert unescape(text) == raw, text


WINE_EXPORT = '\ufeffWindows Registry Editor Version 5.00\r\n\r\n' \
    '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Kestrune]\r\n' \
    '"DisplayName"="Kestrune \\"quoted\\" \\\\ name"\r\n' \
    '"ErrorControl"=dword:00000001\r\n' \
    '"ImagePath"=hex(2):53,00,79,00,73,00,00,00\r\n' \
    '"LowerFilters"=hex(7):61,00,00,00,62,00,63,00,00,00,\\\r\n' \
    '  00,00\r\n' \
    '"Blob"=hex:\r\n' \
    '@="default"\r\n' \
    '\r\n' \
    '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Kestrune\\Enum]\r\n' \
    '"Count"=dword:ffffffff\r\n'


def test_parse_reads_a_wine_export():
    keys = regfile.parse(WINE_EXPORT)
    service = keys['HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\KESTRUNE']
    assert service['DisplayName'].value == 'Kestrune "quoted" \\ name'
    assert service['ErrorControl'] == RegValue(REG_DWORD, b'\x01\0\0\0')
    assert service['ImagePath'] == RegValue(REG_EXPAND_SZ, 'Sys\0'.encode('utf-16-le'))
    assert service['LowerFilters'].value == ['a', 'bc']
    assert service['LowerFilters'].raw == 'a\0bc\0\0'.encode('utf-16-le')
    assert service['Blob'] == RegValue(REG_BINARY, b'')
    assert service[''].value == 'default'
    enum = keys['HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\KESTRUNE\\ENUM']
    assert enum['Count'].value == 0xFFFFFFFF


def test_parse_rejects_garbage():
    for bad in ['[HKLM\\X]\r\n"A"=bogus:1\r\n', '[HKLM\\X]\r\n"A\r\n', '[HKLM\\X]\r\nnoquote=1\r\n']:
        try:
            regfile.parse(bad)
        except ValueError:
            continue
        raise AssertionError('accepted %r' % bad)


def test_multi_sz_values_read_like_windows():
    cases = [
        (b'', []),
        (b'\0\0', []),
        ('a\0\0b\0\0'.encode('utf-16-le'), ['a']),   # an empty item ends the list
        ('a\0b'.encode('utf-16-le'), ['a', 'b']),      # no terminator at all
        (regfile.multi_sz_bytes(['x', 'yz']), ['x', 'yz']),
    ]
    for raw, items in cases:
        assert RegValue(REG_MULTI_SZ, raw).value == items, raw


def test_written_files_read_back_exactly():
    values = {
        'Odd': RegValue(REG_MULTI_SZ, 'A\0\0B\0'.encode('utf-16-le')),
        'Long': RegValue(REG_BINARY, bytes(range(256))),
        'Num': RegValue(REG_DWORD, (7).to_bytes(4, 'little')),
        'Sz': RegValue(REG_SZ, regfile.sz_bytes('a "b" \\ c')),
        '': RegValue(REG_SZ, regfile.sz_bytes('default')),
        'Say "x"': RegValue(REG_BINARY, b'\x01'),
    }
    text = regfile.decode_file(regfile.encode_file(regfile.format_file({'HKLM\\Software\\T': values})))
    assert all(len(line) <= 80 for line in text.splitlines())
    assert regfile.parse(text) == {'HKEY_LOCAL_MACHINE\\SOFTWARE\\T': values}
    deleting = regfile.format_file({'HKCU\\X': {'Gone': None, '': None}})
    assert '"Gone"=-' in deleting and '@=-' in deleting


def test_full_key_names_the_root():
    for short, full in [('HKLM\\A\\B', 'HKEY_LOCAL_MACHINE\\A\\B'), ('hkcu', 'HKEY_CURRENT_USER'),
                        ('HKEY_USERS\\.DEFAULT', 'HKEY_USERS\\.DEFAULT')]:
        assert regfile.full_key(short) == full


def test_dump_lines_parse_into_windows():
    out = ('# header\n'
           '0\t-1\tTMain\t0\t10\t20\t325\t244\t319\t215\t1\t1\t-\t14CA0000\t00000100\tKestrune Install Tools\n'
           '1\t0\tButton\t5\t152\t186\t75\t25\t75\t25\t0\t1\t1\t50000009\t00000000\t&Execute\n'
           '2\t0\tComboBox\t7\t6\t82\t305\t22\t305\t22\t1\t0\t-\t50000013\t00000000\t\t-1\tA\\tB\t\n')
    top, button, combo = parse_dump(out)
    assert (top.parent, top.client_width, top.checked, top.cursel, top.items) == (-1, 319, None, None, ())
    assert (button.visible, button.checked, button.style, button.text) == (False, 1, 0x50000009, '&Execute')
    assert (combo.enabled, combo.cursel, combo.items) == (False, -1, ('A\tB', ''))
    try:
        parse_dump('0\t-1\tshort\n')
    except ValueError:
        pass
    else:
        raise AssertionError('short line accepted')


def test_answer_output_parses():
    assert parse_answer('TEXT\tA\\nB?\nBUTTONS\tyes no \nPRESSED\tno\n') == ('A\nB?', ['yes', 'no'])
    assert parse_answer('TIMEOUT\n') == (None, [])


def _tiny_pe(resource_tree, pe32_plus=False):
    """A minimal PE image with one section holding a resource directory."""
    section_rva, section_raw = 0x1000, 0x200
    optional_size = 240 if pe32_plus else 224
    header = bytearray(section_raw)
    header[0:2] = b'MZ'
    struct.pack_into('<I', header, 0x3C, 0x40)
    header[0x40:0x44] = b'PE\0\0'
    struct.pack_into('<HH', header, 0x44, 0x8664 if pe32_plus else 0x14C, 1)
    struct.pack_into('<H', header, 0x54, optional_size)
    optional = 0x58
    struct.pack_into('<H', header, optional, 0x20B if pe32_plus else 0x10B)
    directories = optional + (112 if pe32_plus else 96)
    struct.pack_into('<II', header, directories + 16, section_rva, len(resource_tree))
    struct.pack_into('<8sIIII', header, optional + optional_size, b'.rsrc', len(resource_tree),
                     section_rva, len(resource_tree), section_raw)
    return bytes(header) + resource_tree


def _resource_tree(type_name, number, data):
    """Type (named) -> id -> language 1033 -> data, laid out from offset 0."""
    def directory(named, entries):
        return struct.pack('<IIHHHH', 0, 0, 0, 0, named, 1 - named) + entries
    name_at = 0x60
    data_entry_at = name_at + 2 + 2 * len(type_name)
    data_entry_at += data_entry_at % 4
    data_at = data_entry_at + 16
    tree = bytearray(data_at + len(data))
    tree[0:24] = directory(1, struct.pack('<II', 0x80000000 | name_at, 0x80000018))
    tree[0x18:0x30] = directory(0, struct.pack('<II', number, 0x80000030))
    tree[0x30:0x48] = directory(0, struct.pack('<II', 1033, data_entry_at))
    struct.pack_into('<H', tree, name_at, len(type_name))
    tree[name_at + 2:name_at + 2 + 2 * len(type_name)] = type_name.encode('utf-16-le')
    struct.pack_into('<II', tree, data_entry_at, 0x1000 + data_at, len(data))
    tree[data_at:] = data
    return bytes(tree)


def test_pe_resources_are_found_in_both_formats():
    for plus in (False, True):
        image = _tiny_pe(_resource_tree('DRIVER', 105, b'image bytes'), plus)
        assert pe.resources(image) == {('DRIVER', 105, 1033): b'image bytes'}
        assert pe.resource(image, 'DRIVER', 105) == b'image bytes'
        try:
            pe.resource(image, 'DRIVER', 104)
        except KeyError:
            pass
        else:
            raise AssertionError('missing resource found')


def test_pe_rejects_what_is_not_an_image():
    for bad in [b'', b'MZ' + bytes(100), b'NOTPE' * 20]:
        try:
            pe.resources(bad)
        except pe.PeError:
            continue
        raise AssertionError('accepted %r' % bad[:8])


class ScriptedReg(WineMachine):
    """A machine whose reg answers come from a list, one per run."""

    def __init__(self, answers):
        super().__init__()
        self.answers = list(answers)
        self.runs = 0

    def run(self, exe, *args, timeout=60):
        self.runs += 1
        return self.answers.pop(0)


def call_reg(machine):
    """The exit code of machine._reg, or the WineToolError it raised; the
    notes it printed on standard error."""
    notes = io.StringIO()
    with contextlib.redirect_stderr(notes):
        try:
            return machine._reg('import', 'x.reg').rc, notes.getvalue()
        except WineToolError as error:
            return error, notes.getvalue()


def test_reg_tries_again_only_after_a_silent_failure():
    import lib.wine
    lib.wine.time.sleep, sleep = (lambda seconds: None), lib.wine.time.sleep
    ok = Result(0, 'The operation completed successfully\r\n', '')
    silent = Result(1, '', '')
    missing = Result(1, 'reg: Unable to find the specified registry key\r\n', '')
    try:
        cases = [
            # (answers, runs expected, exit code expected or None for WineToolError)
            ([ok], 1, 0),                        # plain success: asked once
            ([missing], 1, 1),                   # a missing key is an answer, not a failure
            ([silent, ok], 2, 0),                # one silent failure is tried again
            ([silent, silent, missing], 3, 1),   # the last attempt may still say "missing"
            ([silent, silent, silent], 3, None),  # gives up after three
            ([Result(-9, '', 'killed'), ok], 2, 0),  # a signal is silent too
        ]
        for answers, runs, expected in cases:
            machine = ScriptedReg(answers)
            outcome, notes = call_reg(machine)
            if expected is None:
                assert isinstance(outcome, WineToolError), (answers, outcome)
                assert '(1)' in str(outcome), outcome
                assert notes.count('failed') == runs, notes
            else:
                assert outcome == expected, (answers, outcome)
                assert notes.count('failed') == runs - 1, notes  # each retry is noted
            assert machine.runs == runs, answers
        # Only the writing calls insist on success; a missing key fails them.
        try:
            ScriptedReg([missing])._reg_ok('import', 'x.reg')
            raise AssertionError('missing key accepted by _reg_ok')
        except WineToolError:
            raise AssertionError('a missing key is no tool failure')
        except HarnessError as error:
            assert 'Unable to find' in str(error), error
    finally:
        lib.wine.time.sleep = sleep
