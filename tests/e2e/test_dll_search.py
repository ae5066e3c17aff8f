"""No code from the program's folder: a version.dll planted beside
KstIns.exe never gets the program's calls, whatever the program is asked to
do. Wine prefers its own DLLs, so the runs name version=n,b, which is
Windows' own search order (a DLL beside the program first).

Under Wine the planted DLL is loaded in every run all the same: Wine's own
user32.dll imports version.dll (the wide functions), and with version=n,b
that import is looked up beside the program first. Real Windows does not do
this (user32 is a KnownDLL, its dependencies come from the system
directory). So whether the DLL was loaded tells nothing here; the planted
DLL reports instead what only the program can cause:
- "bound": the program's own import table points into it (a static import);
- "called": the program called one of the ANSI functions it reads versions
  with (a run-time binding that found the planted copy).
The wide functions user32 needs are forwarded to kernelbase, so its load
changes nothing the system does.
"""
import shutil

LOADED = 'planted-dll-loaded.txt'
BOUND = 'planted-dll-bound.txt'
CALLED = 'planted-dll-called.txt'
TITLE = 'Kestrune Install Tools'
WINDOWS_ORDER = 'version=n,b'


def downloads_folder(machine, build):
    """A folder, as a downloads folder would be, holding KstIns.exe and the
    planted version.dll; the copied program's path."""
    planted = build.folder / 'planted' / 'version.dll'
    assert planted.is_file(), 'build the planted DLL first: ' + str(planted)
    folder = machine.new_file('downloads')
    folder.mkdir()
    shutil.copy(planted, folder / 'version.dll')
    shutil.copy(build.kstins, folder / 'KstIns.exe')
    return folder


def clear_markers(folder):
    for name in (LOADED, BOUND, CALLED):
        (folder / name).unlink(missing_ok=True)


def assert_planted_dll_unused(folder, what):
    # The load marker proves the planted DLL was really in the process (via
    # Wine's user32); without it the other two would prove nothing.
    assert (folder / LOADED).exists(), 'the planted DLL was never loaded: %s' % what
    assert not (folder / BOUND).exists(), 'imported statically by KstIns.exe %s' % what
    assert not (folder / CALLED).exists(), 'KstIns.exe %s read versions through it' % what


def test_planted_version_dll_gets_no_call_from_the_program(machine, build):
    folder = downloads_folder(machine, build)
    program = folder / 'KstIns.exe'
    for args in (('/Q',), ('/I', '/Q'), ('/U', '/Q')):
        clear_markers(folder)
        result = machine.run(program, *args, dll_overrides=WINDOWS_ORDER)
        assert result.rc == 0, (args, result)
        assert_planted_dll_unused(folder, ' '.join(args))

    # The window reads the image's version for its status display, so here
    # the program binds the version functions at run time.
    clear_markers(folder)
    process = machine.spawn(program, dll_overrides=WINDOWS_ORDER)
    assert machine.wait_window(TITLE, 60000), 'the main window did not appear'
    assert machine.click(TITLE, '&Close')
    assert process.wait(30) == 0
    assert_planted_dll_unused(folder, 'window')
