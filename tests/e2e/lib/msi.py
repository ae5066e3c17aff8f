"""KstIns.msi under Wine: msiexec runs with their full exit codes, the
Windows Installer log, the products Programs and Features lists, and an
older version of the package built on the spot for upgrades."""
import re
import shutil
import subprocess
from collections import namedtuple
from pathlib import Path

from .wine import HarnessError, winpath

ROOT = Path(__file__).resolve().parents[3]
WXS = ROOT / 'msi' / 'KstIns.wxs'
UNINSTALL = 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall'
PROGRAMS = ('KstIns.exe', 'KstCheck.exe', 'KstTrace.exe')

Installed = namedtuple('Installed', 'code log')


def msiexec(machine, *args, timeout=300):
    """Runs msiexec with a verbose log; (exit code read through %errorlevel%,
    since Wine hands a Unix parent only the low byte; the log's text)."""
    log = machine.new_file('msiexec').with_suffix('.log')
    bat = machine.new_file('msiexec').with_suffix('.bat')
    bat.write_bytes(b'@msiexec %*\r\n@echo code=%errorlevel%\r\n')
    result = machine.run('cmd', '/c', winpath(bat), *args, '/l*v', winpath(log), timeout=timeout)
    codes = [l for l in result.out.splitlines() if l.startswith('code=')]
    if len(codes) != 1:
        raise HarnessError('no exit code from msiexec %s: %r' % (' '.join(args), result))
    text = log.read_bytes().decode('latin-1') if log.is_file() else ''
    return Installed(int(codes[0][5:]), text)


def action_lines(log):
    """The lines the package's custom actions wrote to the log."""
    return [l.rstrip('\r') for l in log.splitlines() if l.startswith('Kestrune: ')]


def program_folder(machine):
    """Unix path of C:\\Program Files\\Kestrune (the x86-64 package's folder)."""
    return machine.prefix / 'drive_c' / 'Program Files' / 'Kestrune'


def products(machine, name='Kestrune'):
    """{product code: its Programs and Features values} of the entries named `name`."""
    keys = machine.reg_export(UNINSTALL) or {}
    found = {}
    for key, values in keys.items():
        shown = values.get('DisplayName')
        if shown is not None and shown.value == name:
            found[key.rsplit('\\', 1)[1]] = {k: v.value for k, v in values.items()}
    return found


def build_package(build, version, programs, dest):
    """Builds the package of `build` (its processor and custom action DLL)
    with another version and the programs of the folder `programs`."""
    dll = build.folder / 'msi' / 'KstMsiAction.dll'
    shutil.copy(dll, Path(programs) / dll.name)
    # wixl takes file sources relative to its working directory only.
    args = ['wixl', '-a', 'x64', '-D', 'Version=' + version, '-D', 'ProductName=Kestrune',
            '-D', 'Manufacturer=Kestrune Project', '-D', 'Programs=.', '-D', 'ActionDll=' + dll.name,
            '-D', 'Win64=yes', '-o', str(dest), str(WXS)]
    done = subprocess.run(args, cwd=programs, capture_output=True, timeout=120)
    if done.returncode != 0 or not Path(dest).is_file():
        raise HarnessError('wixl failed: %r' % done)
    return Path(dest)


def older_package(machine, version='1.4.4.12'):
    """An older version of the package whose programs differ from the
    build's by a trailing marker (an overlay Windows ignores), so that an
    upgrade can be seen in the installed files. (package, its programs' bytes)."""
    folder = machine.new_file('older')
    folder.mkdir()
    contents = {}
    for name in PROGRAMS:
        data = machine.build.path(name).read_bytes() + b'older package ' + version.encode()
        (folder / name).write_bytes(data)
        contents[name] = data
    return build_package(machine.build, version, folder, folder / 'KstIns.msi'), contents


def verdict_lines(log):
    """KstCheck's VERDICT and PROBLEM lines as the actions logged them."""
    return [l for l in action_lines(log) if re.match(r'Kestrune: KstCheck\.exe: (VERDICT|PROBLEM) ', l)]
