#!/usr/bin/env python3
"""Takes a PNG picture of the main window under Wine and Xvfb.

    python3 tests/e2e/screenshot.py OUT.png [--build DIR] [--fresh] [--base-cache DIR]

By default the machine is set up as after an installation and a restart,
with the stand-in filter reporting the devices of test_window.DEVICE_TABLE,
so the picture shows the installed state and the device list. --fresh shows
the window of a machine where nothing is installed. The picture is cut to
the window's frame. Needs ImageMagick's `import`.

From another script: prepare(machine) before the window opens, then
screenshot(machine, path) while it shows.
"""
import argparse
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from lib.wine import Build, HarnessError, PrefixCache, WineMachine  # noqa: E402
from test_window import TITLE, install_with_devices, open_window, read_window  # noqa: E402


def prepare(machine):
    """Xvfb runs no window manager, so Wine is told to draw the frames and
    title bars of the windows opened from now on itself."""
    machine.reg_add_sz('HKCU\\Software\\Wine\\X11 Driver', 'Managed', 'N')


def screenshot(machine, out):
    """Writes the main window's picture (it must be showing) to `out`."""
    form = read_window(machine).form
    geometry = '%dx%d+%d+%d' % (form.width, form.height, form.x, form.y)
    result = subprocess.run(
        ['import', '-display', machine.xvfb.display, '-window', 'root',
         '-crop', geometry, '+repage', str(out)],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
    if result.returncode != 0 or not Path(out).is_file():
        raise HarnessError('import failed: %s' % result.stdout.decode('latin-1')[-500:])


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('out', type=Path)
    parser.add_argument('--build', default=str(HERE.parent.parent / 'build' / 'win64'))
    parser.add_argument('--fresh', action='store_true', help='nothing installed')
    parser.add_argument('--base-cache', help='keep the booted base prefix here')
    args = parser.parse_args(argv)

    cache = PrefixCache(args.base_cache)
    try:
        with WineMachine(Build(args.build), cache) as machine:
            if not args.fresh:
                install_with_devices(machine)
            prepare(machine)
            open_window(machine)
            screenshot(machine, args.out.absolute())
            machine.close_window(TITLE)
    finally:
        cache.close()
    print(args.out)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
