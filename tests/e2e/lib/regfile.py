"""Reading and writing .reg files (version 5, UTF-16) as `reg export` writes
and `reg import` reads them. Values keep their exact bytes, so a REG_MULTI_SZ
with a missing terminator or an empty item survives the round trip."""
import re
from collections import namedtuple

REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 0, 1, 2, 3, 4
REG_MULTI_SZ, REG_QWORD = 7, 11

HEADER = 'Windows Registry Editor Version 5.00'

_ROOTS = {
    'HKLM': 'HKEY_LOCAL_MACHINE', 'HKCU': 'HKEY_CURRENT_USER',
    'HKCR': 'HKEY_CLASSES_ROOT', 'HKU': 'HKEY_USERS', 'HKCC': 'HKEY_CURRENT_CONFIG',
}


def full_key(key):
    """The key with its root spelled out: HKLM\\X -> HKEY_LOCAL_MACHINE\\X."""
    root, _, rest = key.partition('\\')
    root = _ROOTS.get(root.upper(), root.upper())
    return root + ('\\' + rest if rest else '')


class RegValue(namedtuple('RegValue', 'type raw')):
    """A registry value: its type number and its data bytes as stored."""

    @property
    def value(self):
        """The data as Python sees it: str for REG_SZ and REG_EXPAND_SZ (up to
        the first NUL), list of str for REG_MULTI_SZ (up to the first empty
        item), int for REG_DWORD and REG_QWORD, bytes otherwise."""
        if self.type in (REG_SZ, REG_EXPAND_SZ):
            return self.raw.decode('utf-16-le', 'replace').split('\0')[0]
        if self.type == REG_MULTI_SZ:
            items = []
            for item in self.raw.decode('utf-16-le', 'replace').split('\0'):
                if not item:
                    break
                items.append(item)
            return items
        if self.type == REG_DWORD and len(self.raw) == 4:
            return int.from_bytes(self.raw, 'little')
        if self.type == REG_QWORD and len(self.raw) == 8:
            return int.from_bytes(self.raw, 'little')
        return self.raw


def multi_sz_bytes(items):
    """REG_MULTI_SZ data for a list of strings, with the usual terminators."""
    return ''.join(item + '\0' for item in items).encode('utf-16-le') + b'\0\0'


def sz_bytes(text):
    return (text + '\0').encode('utf-16-le')


def _logical_lines(text):
    """Lines with the backslash continuations of hex data joined."""
    pending = ''
    for line in text.splitlines():
        if pending:
            line = pending + line.strip()
            pending = ''
        if line.endswith('\\') and re.search(r'=(hex|dword)', line):
            pending = line[:-1]
            continue
        yield line
    if pending:
        yield pending


_STRING_ESCAPES = {'\\': '\\', '"': '"', 'n': '\n', 'r': '\r', '0': '\0'}


def _read_quoted(text, at):
    """The string that starts after the quote at text[at]; returns (string,
    index after the closing quote)."""
    out = []
    i = at + 1
    while i < len(text):
        char = text[i]
        if char == '\\' and i + 1 < len(text):
            out.append(_STRING_ESCAPES.get(text[i + 1], text[i + 1]))
            i += 2
        elif char == '"':
            return ''.join(out), i + 1
        else:
            out.append(char)
            i += 1
    raise ValueError('unterminated string: %r' % text)


def _parse_data(data):
    if data.startswith('"'):
        text, _ = _read_quoted(data, 0)
        return RegValue(REG_SZ, sz_bytes(text))
    if data.startswith('dword:'):
        return RegValue(REG_DWORD, int(data[6:], 16).to_bytes(4, 'little'))
    match = re.match(r'hex(?:\(([0-9a-fA-F]+)\))?:(.*)$', data)
    if not match:
        raise ValueError('unknown value data: %r' % data)
    kind = int(match.group(1), 16) if match.group(1) else REG_BINARY
    digits = [d for d in match.group(2).replace(' ', '').split(',') if d]
    return RegValue(kind, bytes(int(d, 16) for d in digits))


def parse(text):
    """{full key name (upper case): {value name: RegValue}} of a .reg file's
    text. The default value is named ''."""
    keys = {}
    current = None
    for line in _logical_lines(text.lstrip('\ufeff')):
        stripped = line.strip()
        if not stripped or stripped.startswith(';') or stripped == HEADER:
            continue
        if stripped.startswith('[') and stripped.endswith(']'):
            current = keys.setdefault(stripped[1:-1].upper(), {})
            continue
        if current is None:
            continue
        if stripped.startswith('@='):
            name, rest = '', stripped[2:]
        elif stripped.startswith('"'):
            name, end = _read_quoted(stripped, 0)
            rest = stripped[end:].lstrip()
            if not rest.startswith('='):
                raise ValueError('no value data: %r' % line)
            rest = rest[1:].lstrip()
        else:
            raise ValueError('unreadable line: %r' % line)
        current[name] = _parse_data(rest)
    return keys


def _quote(text):
    return '"' + text.replace('\\', '\\\\').replace('"', '\\"') + '"'


def _hex_lines(prefix, data):
    """hex data in lines of moderate length, continued with backslashes."""
    digits = ['%02x' % b for b in data]
    lines, line = [], prefix
    for i, digit in enumerate(digits):
        piece = digit + (',' if i + 1 < len(digits) else '')
        if len(line) + len(piece) > 76:
            lines.append(line + '\\')
            line = '  '
        line += piece
    lines.append(line)
    return '\r\n'.join(lines)


def format_value(name, value):
    """One value line; every type is written as hex so the bytes stay exact,
    except REG_DWORD of four bytes."""
    head = '@=' if name == '' else _quote(name) + '='
    if value.type == REG_DWORD and len(value.raw) == 4:
        return head + 'dword:%08x' % int.from_bytes(value.raw, 'little')
    kind = 'hex:' if value.type == REG_BINARY else 'hex(%x):' % value.type
    return _hex_lines(head + kind, value.raw)


def format_file(entries):
    """The text of a .reg file from {key: {name: RegValue or None}}; a value
    of None deletes that value."""
    out = [HEADER, '']
    for key, values in entries.items():
        out.append('[%s]' % full_key(key))
        for name, value in values.items():
            if value is None:
                out.append(('@' if name == '' else _quote(name)) + '=-')
            else:
                out.append(format_value(name, value))
        out.append('')
    return '\r\n'.join(out) + '\r\n'


def encode_file(text):
    """The bytes of a .reg file as regedit writes version 5 files."""
    return b'\xff\xfe' + text.encode('utf-16-le')


def decode_file(data):
    if data.startswith(b'\xff\xfe'):
        return data[2:].decode('utf-16-le')
    return data.decode('latin-1')
