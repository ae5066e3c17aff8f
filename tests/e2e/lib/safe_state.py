"""The one promise the installer makes, checked on a Wine machine: every class
list that names Kestrune or Morvellin has that driver's service and its
complete image, and every other driver's entry stays where it was, in its
order. It must hold whatever happens to a run: a failure, a kill, a second
run at the same moment.

    state = read_state(machine)
    assert_safe(state, images_of(build), seeded, 'after round 3')
    assert installed(state, images_of(build)) or uninstalled(state)
"""
from collections import namedtuple
from pathlib import Path

from . import pe

CLASS = 'HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\'
ATA = CLASS + '{4D36E97B-E325-11CE-BFC1-08002BE10318}'
SCSI = CLASS + '{4D36E96A-E325-11CE-BFC1-08002BE10318}'
CDROM = CLASS + '{4D36E965-E325-11CE-BFC1-08002BE10318}'
SERVICES = 'HKLM\\SYSTEM\\CurrentControlSet\\Services'

# Each filter driver: its image below the system directory, the resource that
# carries it, the class keys that list it.
Driver = namedtuple('Driver', 'image resource keys')
DRIVERS = {
    'Kestrune': Driver('Drivers\\Kestrune.sys', 104, (ATA, SCSI)),
    'Morvellin': Driver('Drivers\\Morvellin.sys', 105, (CDROM,)),
}

# lists: class key -> LowerFilters entries (None: no value); services: name
# -> its ImagePath, for the drivers that have a service; images: name -> the
# bytes of its image file, or None.
MachineState = namedtuple('MachineState', 'lists services images')


def find_file(folder, relative):
    """The file below folder whose path matches relative without regard to
    case (Wine keeps the case a file was created with), or None."""
    here = Path(folder)
    for part in relative.strip('\\').split('\\'):
        if not here.is_dir():
            return None
        match = [p for p in here.iterdir() if p.name.lower() == part.lower()]
        if not match:
            return None
        here = match[0]
    return here


def embedded(build, resource_id):
    """The image KstIns.exe carries as resource DRIVER resource_id."""
    return pe.resource((build.folder / 'KstIns.exe').read_bytes(), 'DRIVER', resource_id)


def images_of(build):
    """The complete image of each driver, as the program carries it."""
    return {name: embedded(build, d.resource) for name, d in DRIVERS.items()}


def _key(tree, key):
    return tree.get(key.replace('HKLM\\', 'HKEY_LOCAL_MACHINE\\').upper())


def read_state(machine):
    """The class lists, our services and our images, read with two exports."""
    classes = machine.reg_export(CLASS.rstrip('\\')) or {}
    services = machine.reg_export(SERVICES) or {}
    lists = {}
    for key in (ATA, SCSI, CDROM):
        values = {n.lower(): v for n, v in (_key(classes, key) or {}).items()}
        lists[key] = values['lowerfilters'].value if 'lowerfilters' in values else None
    found = {}
    for name in DRIVERS:
        values = _key(services, SERVICES + '\\' + name)
        if values is not None:
            by_name = {n.lower(): v for n, v in values.items()}
            found[name] = by_name['imagepath'].value if 'imagepath' in by_name else ''
    images = {}
    for name, driver in DRIVERS.items():
        path = find_file(machine.system32(), driver.image)
        images[name] = path.read_bytes() if path else None
    return MachineState(lists, found, images)


def _ours(entry):
    return entry.lower() in (name.lower() for name in DRIVERS)


def problems(state, images, seeded):
    """What breaks the promise, one text each; empty when it holds."""
    found = []
    for key, others in seeded.items():
        kept = [e for e in (state.lists.get(key) or []) if not _ours(e)]
        if kept != list(others):
            found.append('%s holds %s of the other entries %s' % (key, kept, others))
    for name, driver in DRIVERS.items():
        for key in driver.keys:
            listed = [e for e in (state.lists.get(key) or []) if e.lower() == name.lower()]
            if len(listed) > 1:
                found.append('%s listed %d times in %s' % (name, len(listed), key))
            if not listed:
                continue
            path = state.services.get(name)
            if path is None:
                found.append('%s listed in %s without its service' % (name, key))
            elif not path.lower().endswith(driver.image.lower()):
                found.append('%s listed in %s, its service naming %r' % (name, key, path))
            image = state.images.get(name)
            if image != images[name]:
                found.append('%s listed in %s %s' % (
                    name, key, 'without its image' if image is None else
                    'with an incomplete image (%d bytes)' % len(image)))
    return found


def assert_safe(state, images, seeded, context):
    found = problems(state, images, seeded)
    assert not found, '%s: %s' % (context, '; '.join(found))


def installed(state, images):
    """Every driver listed in each of its keys, with its service and image."""
    return all(name in state.services and state.images[name] == images[name] and
               all(name in (state.lists.get(key) or []) for key in driver.keys)
               for name, driver in DRIVERS.items())


def uninstalled(state):
    """Nothing of ours: no list entry, no service, no image."""
    return all(name not in state.services and state.images[name] is None and
               not any(e.lower() == name.lower() for key in driver.keys
                       for e in (state.lists.get(key) or []))
               for name, driver in DRIVERS.items())
