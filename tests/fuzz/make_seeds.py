#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets, tests/fuzz/corpus/<target>/,
from the cases of the unit test tables, in each target's input layout (see
the head of each *_fuzz.cpp). Run it again after changing a layout."""
import hashlib
import pathlib
import shutil
import struct

HERE = pathlib.Path(__file__).resolve().parent


def multi_sz(*entries):
    return b"".join(e + b"\0" for e in entries) + b"\0"


def filter_list():
    longest = b"L" * 2341
    lists = [
        b"", b"\0", multi_sz(b"A"), multi_sz(b"A", b"kestrune", b"B"),
        multi_sz(b"Kestrune", b"KESTRUNE"), multi_sz(b"A", b"A"),
        multi_sz(b"KestruneX", b"Kestrun", b"XKestrune"), b"A\0\0B\0\0", b"\0A\0\0", b"A\0B",
        b"A\0kestrune", multi_sz(b"\xe4", b"\xc4"), multi_sz(b"A", b"B").ljust(2352, b"\0"),
        multi_sz(longest), multi_sz(b"Kestrune", longest), multi_sz(longest + b"L"),
        multi_sz(b"T" * 2398), b"U" * 2352, multi_sz(b"Morvellin", b"other", b"Kestrune"),
    ]
    names = [b"Kestrune", b"Morvellin", b"", b"\xc4", b"Kes\0trune"]
    for i, old in enumerate(lists):
        for name in names[:2] if i > 1 else names:
            yield struct.pack("<H", len(name)) + name + old


def command_line():
    lines = [
        b"KstIns.exe", b"KstIns.exe   ", b"KstIns.exe /I /Q", b'"C:\\Program Files\\KstIns.exe" /U',
        b"KstIns.exe\t/I\x01/Q\r\n/B", b'p a"b c"d', b'p "/I /Q"', b'p ""', b'p """"/I',
        b'p /I "" /Q', b'p /""I', b'p "/I /Q', b'p /I " /Q', b'p /I "', b"p \xe9/\xff", b"",
        b'"" /I', b"p word", b"p -I", b"p /IU", b"p /", b"p \\I", b"p /i", b"p /u", b"p /q",
        b"p /b", b"p /?", b"p /Q /?", b"p /I /?", b"p /? /I", b"p /I /U", b"p /U /I", b"p /X",
        b"p /Q /X", b"p /X /Q", b"p /X /I", b"p /I /X", b"p //", b"p /I /B", b"p /I /Q /B",
        b"p /U /B", b"p /B /X", b"p /Q /B /X", b"p x /I y", b"p /Q /Q /I",
    ]
    for line in lines:
        for result in (b"\x01", b"\x00"):
            yield result + line


def form_description():
    yield (HERE.parent.parent / "resources" / "form" / "tmain.form").read_bytes()
    rows = [
        "form Main client=1x1",
        "# heading\r\nform Main\r\n  client=319x215 border=single\r\n\t# an indented comment\r\n"
        "\tposition=centred caption=\"a \\\"quoted\\\" \\\\ text\\n\"\r\n\r\nlabel L parent=Main\n"
        "   pos=-3,4 size=5x6 caption=\"\"\n",
        "form Main client=100x50\ngroup G parent=Main pos=0,0 size=10x10 align=top tab=3\n"
        "radio R parent=G pos=1,1 size=5x5 checked=true tag=-7 tab=0 onclick=Pick\n"
        "combo C parent=G pos=1,1 size=5x5 style=ownerdrawfixed itemheight=16 enabled=false\n"
        "label L parent=Main pos=1,1 size=5x5 transparent=true autosize=false visible=false\n"
        "button B parent=Main pos=1,1 size=5x5 onclick=Go tab=0\n",
        "form M client=1x1 focus=B icon=7 fontheight=-11 font=\"MS Sans Serif\"\n"
        "button B parent=M pos=0,0 size=1x1\n",
        "# only\n\n", "  client=1x1\nform Main\n", "button B parent=Main pos=0,0 size=1x1\n",
        "form A client=1x1\nform B client=1x1\n", "form\n", "form 9Lives client=1x1\n",
        "form M client=1x1\nlabel L parent=M pos=0,0 size=1x1\nlabel L parent=M pos=0,0 size=1x1\n",
        "form M client=1x1 caption=\"open\n", "form M client=1x1 caption=\"a\\tb\"\n",
        "form M client=1x1 caption=\"a\\", "form M client=1x1\n  client=2x2\n",
        "form M client=1x1\nlabel L parent=M pos=0,0 size=1x1 tag=99999999999\n",
        "form M client=1x1\nlabel L parent=M pos=40000,0 size=1x1\n",
        "form M client=1x1\nlabel A parent=M pos=0,0 size=1x1\nlabel B parent=A pos=0,0 size=1x1\n",
        "form M client=1x1\ncombo C parent=M pos=0,0 size=1x1 style=ownerdrawfixed\n",
    ]
    for row in rows:
        yield row.encode()


def entry(hba, path, target, lun=0, name=b"scsi0", letter=0, context=0):
    return struct.pack("<5I8sI", hba, path, target, lun, letter, name, context)


def inventory():
    cases = [
        [entry(0, 0, 0), entry(0, 0, 1)],
        [entry(0, 0, 0), entry(1, 0, 0)],
        [entry(2, 0, 0)],
        [entry(0, 0, 0), entry(0, 1, 0), entry(0, 0, 0, name=b"atapi"), entry(1, 0, 2, name=b"atapi")],
        [entry(0, 0, 0, lun=0), entry(0, 0, 0, lun=1)],
        [entry(0, 0, 0, letter=3), entry(0, 0, 1, letter=255), entry(0, 0, 2, letter=256)],
        [entry(256, 0, 0), entry(0, 256, 0), entry(0, 0, 256), entry(0, 0, 0)],
        [entry(255, 255, 255), entry(0, 0, 0, name=b"other")],
        [entry(0, 0, 0, name=b"A\0B")],
        [entry(3, 1, 4, name=b"12345678"), entry(0, 0, 0, name=b"1234567")],
    ]
    for entries in cases:
        body = b"".join(entries)
        for mode in (0, 1, 2, 4):
            yield bytes([mode]) + struct.pack("<i", len(entries)) + body
    for count in (0, -1, 2**31 - 1, 4096, 4097, 3):  # 3: a short answer of two entries
        for mode in (2, 4, 2 | 8):
            yield bytes([mode]) + struct.pack("<i", count) + entry(0, 0, 0) + entry(0, 0, 1)


def answer(done=1, status=0, sense_length=0, sense=b"", type_=0x05, byte1=0x80, seed=0x41):
    return bytes([done, status, sense_length]) + sense.ljust(18, b"\0") + bytes([type_, byte1, seed])


def sense(key, code):
    return bytes([0, 0, key] + [0] * 9 + [code])


def pass_through():
    e = entry(1, 2, 3, lun=4, name=b"scsi0", context=0x12345678)
    cases = [
        [answer()],
        [answer(status=0x12, sense_length=18, sense=sense(5, 0x24))],
        [answer(status=0, sense_length=0, sense=sense(5, 0x24))],
        [answer(status=0, sense_length=1, sense=sense(5, 0x24)), answer()],
        [answer(status=0x02), answer(status=0x02)],
        [answer(type_=0x04)], [answer(byte1=0x00)], [answer(byte1=0x81)], [answer(type_=0x00)],
        [answer(sense_length=18, sense=sense(2, 4)), answer(seed=0x61)],
        [answer(sense_length=18, sense=sense(2, 0x3A))],
        [answer(sense_length=18, sense=sense(6, 0x28)), answer()],
        [answer(sense_length=18, sense=sense(6, 0x29)), answer()],
        [answer(done=0), answer(seed=0x30)],
        [answer(done=0), answer(done=0)],
        [answer(status=2, sense_length=18, sense=sense(2, 4))] * 21,
        [answer(sense_length=18, sense=sense(2, 4))] * 10,
    ]
    for answers in cases:
        yield e + b"".join(answers)


def record(length, signature, ms, ls):
    body = struct.pack("<IIII", signature, 0xCCCCCCCC, ms, ls)
    return (body + b"\xcc" * max(0, length - len(body)))[:length]


def version_record():
    rows = [
        (record(52, 0xFEEF04BD, 0x00010004, 0x0002000B), 52),
        (record(60, 0xFEEF04BD, 0x00010004, 0x0002000B), 60),
        (record(52, 0xFEEF04BD, 0x00010004, 0x0002000B), 51),
        (record(16, 0xFEEF04BD, 1, 2), 16),
        (b"", 0),
        (record(52, 0xBD04EFFE, 1, 2), 52),
        (record(52, 0xFEEF04BC, 1, 2), 52),
        (bytes(52), 52),
        (record(52, 0xFEEF04BD, 0xFFFFFFFF, 0xFFFFFFFF), 52),
        (record(52, 0xFEEF04BD, 1, 2), 0xFFFF),  # a length past the bytes there are
    ]
    for bytes_, length in rows:
        yield struct.pack("<H", length) + bytes_


def check_output():
    ata = b"LOWERFILTERS SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E97B-E325-11CE-BFC1-08002BE10318}"
    outputs = [
        b"", b"VERDICT 1 not installed\n", b"a\r\nb\r\n", b"a\n\n\nb", b"tab\there\x01\x7f\r",
        b"nul\0byte\n", b"ANSI \xe9\xff kept\n", b"a" * 1030 + b"\nnext\n",
        b"FAMILY NT\n" + ata + b" 1 ours Kestrune\n" + ata + b" 2 other scsiflt\nCONTROL silent\n"
        b"VERDICT 3010 installed, restart pending\n",
        b"FAMILY NT\n" + ata + b" 1 other scsiflt\nCONTROL answers\nDEVICE 0:0:0 disk\n"
        b"VERDICT 3010 removal pending\n",
        b"FAMILY 9x\nIMAGE current 1.4.2.11 C:\\WINDOWS\\SYSTEM\\Iosubsys\\Kestrune.vxd\n"
        b"CONTROL silent\nVERDICT 3010 installed, restart pending\n",
        b"FAMILY NT\nPROBLEM service Morvellin is missing\nVERDICT 2 inconsistent\n",
        b"FAMILY NT\nSERVICE Kestrune exists\nSERVICE Kestrune awaiting-deletion\n" + ata +
        b" 1 other scsiflt\nPENDING delete C:\\WINDOWS\\system32\\Drivers\\Kestrune.sys\n"
        b"CONTROL answers\nVERDICT 3010 removal pending\n",
        b"FAMILY NT\n" + ata + b" 1 ours Kestrune\nPENDING replace C:\\k.sys\nPENDING unreadable\n"
        b"CONTROL unasked\nVERDICT 3010 installed, restart pending\n",
        b"VERDICT 12345678901 eleven digits\n", b"VERDICT 4294967295\n", b"VERDICT -1\n",
    ]
    limits = [(255, 255, 7), (6, 8, 1), (4, 8, 3), (0, 3, 2), (3, 0, 2), (0, 0, 4), (16, 16, 255)]
    for i, text in enumerate(outputs):
        head, tail, piece = limits[i % len(limits)]
        yield bytes([head, tail, piece]) + text


def pending_renames():
    image = b"C:\\WINDOWS\\system32\\Drivers\\Kestrune.sys"
    new = b"C:\\WINDOWS\\system32\\Drivers\\Kestrune.~nw"
    nt = b"\\??\\"
    values = [
        b"", b"\0", b"\0\0", multi_sz(nt + new, b"!" + nt + image),
        multi_sz(nt + image, b""), multi_sz(nt + image, b"", nt + new, b"!" + nt + image),
        multi_sz(nt + new, b"!" + nt + image, nt + image, b""),
        multi_sz(nt + new, nt + image), multi_sz(nt + image, b"!" + nt + image),
        multi_sz(nt + b"C:\\t", b"!" + nt + new, nt + new, b"!" + nt + image),
        multi_sz(b"c:\\windows\\system32\\drivers\\KESTRUNE.~NW", b"!" + image),
        multi_sz(nt + b"C:\\a", b"", nt + b"C:\\b", b"!" + nt + b"C:\\c"),
        (nt + image + b"\0!" + nt + new), nt + image, multi_sz(nt + b"C:\\a", b"!"),
    ]
    for i, value in enumerate(values):
        for seed, pick in ((0, 0), (1, 1), (2, 2), (i, 200)):
            yield bytes([seed, pick]) + value


def action_data():
    deep = b"C:\\" + b"d" * 243
    yield from (b"C:\\Program Files\\Kestrune\\", b"C:\\Program Files\\Kestrune", b"d:\\x",
                b"\\\\server\\share\\Kestrune", deep, deep + b"d", b"", b"Kestrune\\",
                b"\\Kestrune\\", b"\\\\\\x", b"C:Kestrune\\", b"1:\\x", b"C:\\Kes\"trune\\",
                b"C:\\Kes\ntrune\\", b"C:\\Kes\0trune\\")


def main():
    for target in (filter_list, command_line, form_description, inventory, pass_through,
                   version_record, check_output, action_data, pending_renames):
        folder = HERE / "corpus" / target.__name__
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        for seed in target():
            (folder / hashlib.sha1(seed).hexdigest()).write_bytes(seed)


if __name__ == "__main__":
    main()
