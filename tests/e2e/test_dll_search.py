"""No code from the program's folder: a version.dll planted beside
KstIns.exe is never loaded, whatever the program is asked to do. Wine
prefers its own DLLs, so the runs name version=n,b, which is Windows' own
search order (a DLL beside the program first).

Not collected yet: under Wine the planted DLL is loaded all the same,
because Wine's own user32.dll imports version.dll and, with version=n,b,
that import is looked up beside the program first. Real Windows does not do
this (user32 is a KnownDLL with its dependencies), so the check below cannot
tell the program's own imports apart under Wine. It fails on the build that
imported version.dll statically, and on the current build for that reason.
"""
import shutil

MARKER = 'planted-dll-loaded.txt'
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


def planted_version_dll_is_not_loaded(machine, build):
    folder = downloads_folder(machine, build)
    program = folder / 'KstIns.exe'
    for args in (('/Q',), ('/I', '/Q'), ('/U', '/Q')):
        result = machine.run(program, *args, dll_overrides=WINDOWS_ORDER)
        assert result.rc == 0, (args, result)
        assert not (folder / MARKER).exists(), 'loaded by KstIns.exe %s' % ' '.join(args)

    process = machine.spawn(program, dll_overrides=WINDOWS_ORDER)
    assert machine.wait_window(TITLE, 60000), 'the main window did not appear'
    assert machine.click(TITLE, '&Close')
    assert process.wait(30) == 0
    assert not (folder / CALLED).exists(), 'the window read versions through it'
    assert not (folder / MARKER).exists(), 'loaded by the window'
