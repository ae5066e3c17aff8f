"""The line escaping of KstTrace and KstProbe (tools/escape.h), undone."""
import re

_ESCAPE = re.compile(rb'\\(\\|r|n|t|x[0-9A-Fa-f]{2})')
_SIMPLE = {b'\\': b'\\', b'r': b'\r', b'n': b'\n', b't': b'\t'}


def unescape(text):
    """The original bytes of one escaped field (str or bytes in, bytes out).
    A backslash that starts no known escape is kept as it is."""
    if isinstance(text, str):
        text = text.encode('latin-1')

    def one(match):
        code = match.group(1)
        return _SIMPLE.get(code) or bytes([int(code[1:], 16)])

    return _ESCAPE.sub(one, text)


def unescape_text(text):
    """Like unescape, decoded as Latin-1 so every byte maps to one character."""
    return unescape(text).decode('latin-1')


def escape(data):
    """The escaped form of bytes (or a Latin-1 str), as the tools write it."""
    if isinstance(data, str):
        data = data.encode('latin-1')
    out = []
    for byte in data:
        char = bytes([byte])
        if char in (b'\\', b'\r', b'\n', b'\t'):
            out.append({b'\\': '\\\\', b'\r': '\\r', b'\n': '\\n', b'\t': '\\t'}[char])
        elif byte < 0x20 or byte >= 0x7F:
            out.append('\\x%02X' % byte)
        else:
            out.append(chr(byte))
    return ''.join(out)
