"""Throwaway Wine machines for the end-to-end tests.

A WineMachine is one Windows installation: its own X server (Xvfb), its own
WINEPREFIX in a temporary folder, its own wineserver. Booting a prefix takes
about ten seconds, so a PrefixCache boots one base prefix per test session and
each machine starts from a copy of it (about two seconds).

    cache = PrefixCache()
    with WineMachine(Build('build/win64'), cache) as m:
        trace = m.start_trace()
        m.run(m.build.kstins, '/I', '/Q')
        print(trace.lines(), m.services('Kestrune'))
    cache.close()

On leaving, a machine stops its wineserver (which ends every Windows process
of its prefix), kills the processes it spawned and its Xvfb by their ids, and
removes its folder. It never touches processes it did not start.
"""
import os
import re
import resource
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from collections import namedtuple
from pathlib import Path

from . import probe as probe_output
from . import regfile
from .escape import unescape

WINE = os.environ.get('KST_WINE', '/usr/lib/wine/wine64')
WINESERVER = os.environ.get('KST_WINESERVER', '/usr/lib/wine/wineserver')
XVFB = os.environ.get('KST_XVFB', 'Xvfb')
# mscoree/mshtml off: no offer to install Mono or Gecko. winemenubuilder off:
# no menu entries or file associations written outside the prefix.
DLL_OVERRIDES = 'mscoree,mshtml=;winemenubuilder.exe=d'

Result = namedtuple('Result', 'rc out err')


class HarnessError(RuntimeError):
    """The harness itself could not do what a test asked (not a test failure
    of the system under test, though the runner reports both alike)."""


class WineToolError(HarnessError):
    """One of Wine's own tools (reg, cmd) failed without saying why, even
    when asked again. It says nothing of the programs under test, so the
    runner runs such a test once more on a fresh machine."""


def winpath(path):
    """The Windows name of a Unix path, through the Z: drive that maps /."""
    return 'Z:' + str(Path(path).absolute()).replace('/', '\\')


def _wait_for(predicate, timeout, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


class Build:
    """The folder with the programs under test and the companion tools."""

    def __init__(self, folder):
        self.folder = Path(folder).absolute()

    def path(self, name):
        path = self.folder / name
        if not path.is_file():
            raise HarnessError('%s not found in %s: build it first' % (name, self.folder))
        return path

    kstins = property(lambda self: self.path('KstIns.exe'))
    kstcheck = property(lambda self: self.path('KstCheck.exe'))
    ksttrace = property(lambda self: self.path('KstTrace.exe'))
    kstprobe = property(lambda self: self.path('KstProbe.exe'))
    sendtrace = property(lambda self: self.path('sendtrace.exe'))
    probetarget = property(lambda self: self.path('probetarget.exe'))


class Xvfb:
    """An X server on a display that it picks itself (-displayfd)."""

    def __init__(self):
        self.proc = None
        self.display = None

    def start(self, timeout=15):
        read_end, write_end = os.pipe()
        try:
            self.proc = subprocess.Popen(
                [XVFB, '-displayfd', str(write_end), '-nolisten', 'tcp',
                 '-screen', '0', '1024x768x24'],
                pass_fds=(write_end,), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_end)
            write_end = None
            number = b''
            deadline = time.monotonic() + timeout
            while not number.endswith(b'\n'):
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([read_end], [], [], left)[0]:
                    raise HarnessError('Xvfb did not report its display')
                chunk = os.read(read_end, 16)
                if not chunk:
                    raise HarnessError('Xvfb ended before reporting its display')
                number += chunk
            self.display = ':' + number.decode().strip()
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        return self

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None


def wine_env(prefix, display, home):
    env = dict(os.environ)
    env.update(WINEPREFIX=str(prefix), WINEARCH='win64', WINEDLLOVERRIDES=DLL_OVERRIDES,
               WINEDEBUG=os.environ.get('KST_E2E_WINEDEBUG', '-all'),
               DISPLAY=display, HOME=str(home))
    return env


def stop_wineserver(env, timeout=60):
    """Ends the prefix's session: every process of it, then the server."""
    if not Path(env['WINEPREFIX']).is_dir():
        return
    for flag in ('-k', '-w'):
        try:
            subprocess.run([WINESERVER, flag], env=env, timeout=timeout,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            raise HarnessError('wineserver %s did not finish in %ds' % (flag, timeout))


# Wine's own MS Sans Serif and Marlett (the title-bar glyphs), from Debian's
# fonts-wine, which this Wine build does not find by itself.
WINE_FONTS = Path('/usr/share/wine/fonts')


def install_system_fonts(env):
    fonts = Path(env['WINEPREFIX']) / 'drive_c' / 'windows' / 'Fonts'
    fonts.mkdir(parents=True, exist_ok=True)
    for name in ('marlett.ttf', 'ms_sans_serif.ttf'):
        if (WINE_FONTS / name).is_file():
            shutil.copy(WINE_FONTS / name, fonts / name)


def boot_prefix(env, timeout=600):
    """Creates the prefix named in env, boots it cleanly and sets it up for
    running without a window manager. `wineboot -i` can leave two service
    managers behind, so that session is ended and the prefix booted once
    more; the second session is left running."""
    def wine(*args):
        # A file, not a pipe: the session's services inherit the output.
        with tempfile.TemporaryFile() as log:
            proc = subprocess.Popen([WINE] + list(args), env=env, stdin=subprocess.DEVNULL,
                                    stdout=log, stderr=subprocess.STDOUT)
            try:
                code = proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                raise HarnessError('wine %s did not end within %ds' % (' '.join(args), timeout))
            if code != 0:
                log.seek(0)
                raise HarnessError('wine %s failed (%d): %s' % (
                    ' '.join(args), code, log.read()[-2000:].decode('latin-1')))
    wine('wineboot', '-i')
    stop_wineserver(env)
    install_system_fonts(env)
    wine('wineboot')
    # No window manager runs on Xvfb: with Wine managing nothing itself, every
    # hidden or destroyed top-level window (a message box, say) would wait two
    # seconds for a window manager's answer.
    wine('reg', 'add', 'HKCU\\Software\\Wine\\X11 Driver', '/v', 'Managed', '/d', 'N', '/f')


# File kinds that Wine only ever reads from a prefix: a copied prefix shares
# them with its base by hard link. Everything else, the registry files and
# every folder that the programs under test write to included, is copied.
_SHARED_SUFFIXES = {'.dll', '.exe', '.drv', '.ocx', '.tlb', '.cpl', '.acm', '.ax',
                    '.msstyles', '.nls', '.mui', '.ds', '.ttf', '.fon', '.tsp', '.com'}
_NEVER_SHARED = ('/system32/drivers/', '/syswow64/drivers/', '/iosubsys/')


def clone_prefix(base, dest):
    def place(src, dst):
        lower = src.lower()
        if Path(lower).suffix in _SHARED_SUFFIXES and not any(p in lower for p in _NEVER_SHARED):
            try:
                os.link(src, dst)
                return dst
            except OSError:
                pass  # another file system: copy instead
        return shutil.copy2(src, dst)
    shutil.copytree(base, dest, symlinks=True, copy_function=place)


class PrefixCache:
    """One booted base prefix for a whole test session. With `folder`, the
    base is kept there and reused by later sessions (delete the folder when
    Wine is updated); without, it lives in a temporary folder until close()."""

    def __init__(self, folder=None):
        self.owned = folder is None
        self.root = Path(folder or tempfile.mkdtemp(prefix='kst-e2e-base-')).absolute()
        self.boot_seconds = None

    @property
    def prefix(self):
        return self.root / 'prefix'

    def base(self):
        if (self.prefix / 'system.reg').is_file():
            return self.prefix
        home = self.root / 'home'
        home.mkdir(parents=True, exist_ok=True)
        xvfb = Xvfb().start()
        env = wine_env(self.prefix, xvfb.display, home)
        started = time.monotonic()
        try:
            boot_prefix(env)
        finally:
            stop_wineserver(env)
            xvfb.stop()
        self.boot_seconds = time.monotonic() - started
        return self.prefix

    def close(self):
        if self.owned:
            shutil.rmtree(self.root, ignore_errors=True)


class Spawned:
    """A program started in the background; its output goes to files."""

    def __init__(self, proc, out_path, err_path):
        self.proc = proc
        self.out_path = out_path
        self.err_path = err_path

    @property
    def pid(self):
        return self.proc.pid

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout=30):
        """Exit code, or None when it is still running after timeout."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def output(self):
        return self.out_path.read_bytes().decode('latin-1')

    def errors(self):
        return self.err_path.read_bytes().decode('latin-1')

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()


TraceLine = namedtuple('TraceLine', 'channel text raw meta')
TraceLine.__doc__ = """One line of KstTrace: channel 'W' (trace window), 'D'
(debug-output stream) or 'X' (a decoy or other window); text as Latin-1 str;
raw the exact bytes; meta the framing numbers when started with meta=True:
(wParam, dwData, cbData, zero offset) for W and X, (pid,) for D."""


class TraceViewer:
    """KstTrace.exe running in a machine, writing to a file of the machine."""

    def __init__(self, machine, channels='WD', decoys=False, meta=False, timeout=30,
                 hang_after=None):
        stem = machine.new_file('trace')
        self.out = stem.with_suffix('.out')
        self.ready = stem.with_suffix('.ready')
        self.stop_file = stem.with_suffix('.stop')
        self.meta = meta
        args = ['--out', winpath(self.out), '--ready', winpath(self.ready),
                '--stop', winpath(self.stop_file), '--channels', channels]
        args += ['--decoys'] if decoys else []
        args += ['--meta'] if meta else []
        args += ['--hang-after', str(hang_after)] if hang_after is not None else []
        self.process = machine.spawn(machine.build.ksttrace, *args)
        if not _wait_for(lambda: self.ready.exists() or not self.process.running(), timeout) \
                or not self.ready.exists():
            self.process.kill()
            code, errors = self.process.proc.poll(), self.process.errors()[-500:]
            # KstTrace ends only with 0, 2, 3 or 4, each time with a message;
            # a silent end with another code is Wine's (seen once, right after
            # a restart, under load).
            error = WineToolError if code not in (0, 2, 3, 4) and not errors.strip() else HarnessError
            raise error('KstTrace did not start: rc=%s %s' % (code, errors))

    def _parse(self, line):
        channel, _, rest = line.partition(b'|')
        channel = channel.decode('latin-1')
        meta = None
        if self.meta:
            count = 1 if channel == 'D' else 4
            parts = rest.split(b'|', count)
            meta, rest = tuple(int(p) for p in parts[:count]), parts[count]
        raw = unescape(rest)
        return TraceLine(channel, raw.decode('latin-1'), raw, meta)

    def lines(self, channel=None):
        """Every complete line received so far, optionally of one channel."""
        if not self.out.exists():
            return []
        data = self.out.read_bytes()
        complete = data[:data.rfind(b'\n') + 1]
        parsed = [self._parse(line) for line in complete.split(b'\n') if line]
        return [l for l in parsed if channel is None or l.channel == channel]

    def texts(self, channel='W'):
        return [line.text for line in self.lines(channel)]

    def wait_lines(self, count, channel=None, timeout=10):
        """The lines once at least `count` (of the channel) have arrived, or
        what arrived when timeout ran out."""
        _wait_for(lambda: len(self.lines(channel)) >= count, timeout)
        return self.lines(channel)

    def stop(self, timeout=15):
        """Asks KstTrace to end and waits; its exit code, or None when it had
        to be killed."""
        if not self.process.running():
            return self.process.proc.returncode
        self.stop_file.touch()
        code = self.process.wait(timeout)
        if code is None:
            self.process.kill()
        return code


class WineMachine:
    """One throwaway Windows machine; use it as a context manager."""

    def __init__(self, build=None, cache=None):
        self.build = build
        self.cache = cache
        self.dir = None
        self.xvfb = None
        self.env = None
        self._spawned = []
        self._traces = []
        self._counter = 0
        self._keeper = None
        self.setup_seconds = None

    # --- life cycle -------------------------------------------------------
    def __enter__(self):
        started = time.monotonic()
        self.dir = Path(tempfile.mkdtemp(prefix='kst-e2e-'))
        try:
            home = self.dir / 'home'
            home.mkdir()
            self.xvfb = Xvfb().start()
            self.env = wine_env(self.dir / 'prefix', self.xvfb.display, home)
            if self.cache:
                clone_prefix(self.cache.base(), self.prefix)
            else:
                boot_prefix(self.env)
            self.start_session()
        except BaseException:
            self.close()
            raise
        self.setup_seconds = time.monotonic() - started
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        for trace in self._traces:
            if trace.process.running():
                trace.stop(timeout=5)
        try:
            if self.env:
                stop_wineserver(self.env)
        finally:
            for spawned in self._spawned:
                spawned.kill()
            if self.xvfb:
                self.xvfb.stop()
            if self.dir and not os.environ.get('KST_E2E_KEEP'):
                shutil.rmtree(self.dir, ignore_errors=True)
            self._spawned, self._traces, self._keeper = [], [], None

    @property
    def prefix(self):
        return Path(self.env['WINEPREFIX'])

    def new_file(self, stem):
        """A fresh path in the machine's folder (no file is made)."""
        self._counter += 1
        return self.dir / ('%s-%d' % (stem, self._counter))

    def start_session(self, timeout=120):
        """Starts the Windows session unless it runs, and keeps it running.

        Wine winds a session down (services and all) once its last ordinary
        program has ended, and the next program then waits about two seconds
        for a new one. A sleeping KstProbe keeps the session up between the
        programs of a test, so each costs a fraction of a second."""
        if self._keeper is None or not self._keeper.running():
            if self.build and (self.build.folder / 'KstProbe.exe').is_file():
                self._keeper = self.spawn(self.build.kstprobe, 'sleep', '4000000000')
        self.run('cmd', '/c', 'exit 0', timeout=timeout)  # returns once booted

    def restart(self, timeout=120, running=()):
        """Ends the Windows session (every process of the prefix) and starts
        a new one, which loads the boot-start and system-start services.

        Windows removes a driver's service marked for deletion (deleted while
        the driver was loaded) when it next starts; Wine forgets the mark
        when its session is ended. So each running driver service that is
        marked is stopped first, which makes Wine's service manager remove
        it as Windows would at the restart (KstProbe.exe finish-deletions).

        The session counts as started before the service manager has loaded
        those: name in `running` the services a test needs, and restart
        returns once each runs (HarnessError when one does not in time)."""
        if self.build and (self.build.folder / 'KstProbe.exe').is_file():
            self.probe('finish-deletions')
        stop_wineserver(self.env)
        self.start_session(timeout)
        for name in running:
            if not self.wait_service_running(name, timeout):
                raise HarnessError('service %s not running %ss after the restart' % (name, timeout))

    def wait_service_running(self, name, timeout=60):
        """True once the service manager reports the service RUNNING, False
        when it does not within timeout seconds."""
        deadline = time.monotonic() + timeout
        while True:
            result = self.run('sc', 'query', name, timeout=30)
            if result.rc == 0 and re.search(r'STATE\s*:\s*4\b', result.out):
                return True
            if time.monotonic() > deadline:
                return False
            time.sleep(0.2)

    # --- programs -----------------------------------------------------------
    def _command(self, exe, args):
        return [WINE, str(exe)] + [str(a) for a in args]

    def run(self, exe, *args, timeout=60, **options):
        """Runs a program (a Unix path or a Windows program name) to its end.
        Output is decoded as Latin-1; a timeout raises HarnessError.

        Output goes through files, not pipes: a program that starts the Wine
        session hands its handles down to the session's services, and a pipe
        would stay open as long as they run."""
        spawned = self.spawn(exe, *args, **options)
        code = spawned.wait(timeout)
        if code is None:
            spawned.kill()
            raise HarnessError('%s %s did not end within %ss' % (
                Path(str(exe)).name, ' '.join(map(str, args)), timeout))
        self._spawned.remove(spawned)
        return Result(code, spawned.output(), spawned.errors())

    def spawn(self, exe, *args, dll_overrides=None, file_size_limit=None):
        """Starts a program in the background; stopped at close() at the
        latest. `dll_overrides` is added to WINEDLLOVERRIDES for this program
        only. With `file_size_limit` (bytes), no file it writes can grow past
        that size: the write fails with EFBIG, as on a full disk (SIGXFSZ is
        ignored so that the process is not killed)."""
        stem = self.new_file(Path(str(exe)).stem)
        out, err = stem.with_suffix('.stdout'), stem.with_suffix('.stderr')
        env = dict(self.env)
        if dll_overrides:
            env['WINEDLLOVERRIDES'] = env['WINEDLLOVERRIDES'] + ';' + dll_overrides

        def limit():
            if file_size_limit is not None:
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))

        with open(out, 'wb') as out_file, open(err, 'wb') as err_file:
            proc = subprocess.Popen(self._command(exe, args), env=env, preexec_fn=limit,
                                    stdin=subprocess.DEVNULL, stdout=out_file, stderr=err_file)
        spawned = Spawned(proc, out, err)
        self._spawned.append(spawned)
        return spawned

    def start_trace(self, channels='WD', decoys=False, meta=False, hang_after=None):
        """Starts KstTrace.exe and waits until its windows exist. channels:
        W trace window, D "DBGVCLNT" window, V "dbgviewClass" window.
        hang_after: the trace window's thread stops taking messages once it
        has taken that many copy-data texts (0: at once)."""
        trace = TraceViewer(self, channels, decoys, meta, hang_after=hang_after)
        self._traces.append(trace)
        return trace

    # --- Windows settings and files ---------------------------------------
    def set_version(self, version):
        """The Windows version Wine reports to programs started from now on
        (for example 'win98', 'winxp', 'win10')."""
        self._reg_ok('add', 'HKCU\\Software\\Wine', '/v', 'Version', '/t', 'REG_SZ',
                     '/d', version, '/f')

    def set_win98(self):
        self.set_version('win98')

    def system32(self):
        """Unix path of C:\\windows\\system32."""
        return self.prefix / 'drive_c' / 'windows' / 'system32'

    # --- registry -------------------------------------------------------------
    # reg says this, exit code 1, when the key or value asked for is missing.
    REG_MISSING = 'Unable to find the specified registry'
    REG_ATTEMPTS = 3

    def _reg(self, *args):
        """Runs reg; the result once it succeeded or said the key or value is
        missing. A failure without that message (seen very rarely: a failure
        code and no output at all) is tried again, since every use here can be
        repeated; after REG_ATTEMPTS it raises WineToolError."""
        for attempt in range(1, self.REG_ATTEMPTS + 1):
            result = self.run('reg', *args)
            if result.rc == 0 or self.REG_MISSING in result.out:
                return result
            print('  reg %s: attempt %d failed (%s): %r' % (
                ' '.join(args), attempt, result.rc, (result.out + result.err)[-300:]),
                file=sys.stderr, flush=True)
            time.sleep(0.5 * attempt)
        raise WineToolError('reg %s failed (%s): %s%s' % (
            ' '.join(args), result.rc, result.out, result.err))

    def _reg_ok(self, *args):
        result = self._reg(*args)
        if result.rc != 0:
            raise HarnessError('reg %s failed (%s): %s%s' % (
                ' '.join(args), result.rc, result.out, result.err))
        return result

    def reg_export(self, key):
        """{key name (upper case): {value name: RegValue}} for the key and its
        subkeys, or None when the key does not exist."""
        path = self.new_file('export').with_suffix('.reg')
        if self._reg('export', key, winpath(path), '/y').rc != 0:
            return None
        return regfile.parse(regfile.decode_file(path.read_bytes()))

    def reg_values(self, key):
        """{value name: RegValue} of the key itself, or None when it is
        missing."""
        keys = self.reg_export(key)
        if keys is None:
            return None
        return keys.get(regfile.full_key(key).upper(), {})

    def reg_query(self, key, value):
        """The RegValue, or None when the key or value is missing. Value names
        are compared without regard to case, as Windows does."""
        values = self.reg_values(key) or {}
        for name, data in values.items():
            if name.lower() == value.lower():
                return data
        return None

    def reg_key_exists(self, key):
        return self._reg('query', key).rc == 0

    def reg_import(self, entries):
        """Writes {key: {name: RegValue or None (delete)}} through a .reg file,
        byte for byte."""
        path = self.new_file('import').with_suffix('.reg')
        path.write_bytes(regfile.encode_file(regfile.format_file(entries)))
        self._reg_ok('import', winpath(path))

    def reg_set(self, key, value, reg_value):
        self.reg_import({key: {value: reg_value}})

    def reg_add_multi_sz(self, key, value, items):
        """items: a list of str, or the exact data bytes."""
        raw = items if isinstance(items, bytes) else regfile.multi_sz_bytes(items)
        self.reg_set(key, value, regfile.RegValue(regfile.REG_MULTI_SZ, raw))

    def reg_add_binary(self, key, value, data):
        self.reg_set(key, value, regfile.RegValue(regfile.REG_BINARY, bytes(data)))

    def reg_add_sz(self, key, value, text):
        self.reg_set(key, value, regfile.RegValue(regfile.REG_SZ, regfile.sz_bytes(text)))

    def reg_add_dword(self, key, value, number):
        self.reg_set(key, value,
                     regfile.RegValue(regfile.REG_DWORD, (number & 0xFFFFFFFF).to_bytes(4, 'little')))

    def reg_delete(self, key, value=None):
        """Deletes a value, or the whole key when value is None; True when it
        was there."""
        args = ['delete', key] + (['/v', value] if value is not None else []) + ['/f']
        return self._reg(*args).rc == 0

    def services(self, name):
        """The values of HKLM\\System\\CurrentControlSet\\Services\\<name> as
        Python values (Type, Start, ErrorControl, Group, ImagePath,
        DisplayName and whatever else is there), or None without the key."""
        values = self.reg_values('HKLM\\System\\CurrentControlSet\\Services\\' + name)
        if values is None:
            return None
        return {key: data.value for key, data in values.items()}

    # --- windows ----------------------------------------------------------------
    def probe(self, *args, cls=None, timeout=60):
        """Runs KstProbe.exe with these arguments (see tools/KstProbe.c)."""
        prefix = ('--class', cls) if cls else ()
        return self.run(self.build.kstprobe, *(prefix + args), timeout=timeout)

    def wait_window(self, caption, timeout_ms=10000, cls=None):
        return self.probe('wait-window', caption, timeout_ms, cls=cls,
                          timeout=timeout_ms / 1000 + 30).rc == 0

    def wait_gone(self, caption, timeout_ms=10000, cls=None):
        return self.probe('wait-gone', caption, timeout_ms, cls=cls,
                          timeout=timeout_ms / 1000 + 30).rc == 0

    def dump(self, caption, cls=None, timeout=60):
        """The window and its descendants (lib.probe.Window), or None.
        Reading a list of thousands of lines takes a while: pass a longer
        timeout (seconds) for it."""
        result = self.probe('dump', caption, cls=cls, timeout=timeout)
        return probe_output.parse_dump(result.out) if result.rc == 0 else None

    def shown(self, caption):
        """True when a visible top-level window has this caption. Unlike
        dump, it sends the window no message, so it neither waits for a busy
        program nor slows it down."""
        result = self.probe('list')
        return any(line.split('\t')[2:4] == ['1', caption]
                   for line in result.out.splitlines() if line.startswith('WINDOW\t'))

    def foreground(self):
        """The caption of the window with the desktop's focus, or None."""
        result = self.probe('foreground')
        return unescape(result.out.rstrip('\r\n').encode('latin-1')).decode('latin-1') \
            if result.rc == 0 else None

    def click(self, caption, button, cls=None):
        return self.probe('click', caption, button, cls=cls).rc == 0

    def close_window(self, caption, cls=None):
        return self.probe('close', caption, cls=cls).rc == 0

    def answer(self, caption, part, button, timeout_ms=10000):
        """Presses yes/no/ok/cancel on the message box with this caption whose
        text contains part; (its text, its button names), or None."""
        result = self.probe('answer', caption, part, button, timeout_ms,
                            timeout=timeout_ms / 1000 + 30)
        return probe_output.parse_answer(result.out) if result.rc == 0 else None
