"""Parsing KstProbe's output (tools/KstProbe.c)."""
from collections import namedtuple

from .escape import unescape_text

Window = namedtuple('Window', 'index parent cls id x y width height client_width client_height '
                              'visible enabled checked style exstyle text cursel items')
Window.__doc__ = """One window of a dump. Positions are relative to the parent's
client area (screen for the top-level window). checked is None for windows
that are not buttons; cursel and items are None/() for non-combo boxes."""


def parse_dump(output):
    """The windows listed by `KstProbe dump`, the top-level one first."""
    windows = []
    for line in output.splitlines():
        if not line or line.startswith('#'):
            continue
        f = line.split('\t')
        if len(f) < 16:
            raise ValueError('short dump line: %r' % line)
        windows.append(Window(
            index=int(f[0]), parent=int(f[1]), cls=unescape_text(f[2]), id=int(f[3]),
            x=int(f[4]), y=int(f[5]), width=int(f[6]), height=int(f[7]),
            client_width=int(f[8]), client_height=int(f[9]),
            visible=f[10] == '1', enabled=f[11] == '1',
            checked=None if f[12] == '-' else int(f[12]),
            style=int(f[13], 16), exstyle=int(f[14], 16), text=unescape_text(f[15]),
            cursel=int(f[16]) if len(f) > 16 else None,
            items=tuple(unescape_text(x) for x in f[17:])))
    return windows


def find(windows, text=None, cls=None):
    """The windows of a dump with this text and/or class name (class
    compared without regard to case)."""
    return [w for w in windows
            if (text is None or w.text == text)
            and (cls is None or w.cls.lower() == cls.lower())]


def parse_answer(output):
    """(message text, [button names]) from `KstProbe answer`."""
    text, buttons = None, []
    for line in output.splitlines():
        tag, _, rest = line.partition('\t')
        if tag == 'TEXT':
            text = unescape_text(rest)
        elif tag == 'BUTTONS':
            buttons = rest.split()
    return text, buttons
