"""The promise the installer keeps whatever happens, checked on a Wine
machine: every class list that names Kestrune or Morvellin has that driver's
service and its complete image, and every other driver's entry stays where it
was, in its order."""
from pathlib import Path

from .regfile import REG_MULTI_SZ

CLASS = 'HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\'
CLASS_KEYS = tuple(CLASS + guid for guid in (
    '{4D36E97B-E325-11CE-BFC1-08002BE10318}', '{4D36E96A-E325-11CE-BFC1-08002BE10318}',
    '{4D36E965-E325-11CE-BFC1-08002BE10318}'))
# The filter drivers: service name, image below the system directory, and
# the id of the image resource that KstIns.exe carries.
OUR_DRIVERS = {'kestrune': ('Drivers\\Kestrune.sys', 104), 'morvellin': ('Drivers\\Morvellin.sys', 105)}


def _file_below(folder, relative):
    here = Path(folder)
    for part in relative.split('\\'):
        match = [p for p in here.iterdir() if p.name.lower() == part.lower()] if here.is_dir() else []
        if not match:
            return None
        here = match[0]
    return here


def _list_of(machine, key):
    value = machine.reg_query(key, 'LowerFilters')
    if value is None:
        return []
    return value.value if value.type == REG_MULTI_SZ else None


def safe_state_problems(machine, images, others):
    """What breaks the promise on the machine, as texts (empty when it is
    kept). images: {service name in lower case: the complete image's bytes};
    others: {class key: the other drivers' entries in their order}."""
    problems = []
    for key in CLASS_KEYS:
        entries = _list_of(machine, key)
        if entries is None:
            problems.append('%s: LowerFilters is not a list' % key)
            continue
        ours = [e for e in entries if e.lower() in OUR_DRIVERS]
        kept = [e for e in entries if e.lower() not in OUR_DRIVERS]
        if kept != others.get(key, []):
            problems.append('%s: other entries %r, were %r' % (key, kept, others.get(key, [])))
        for name in sorted({e.lower() for e in ours}):
            relative, _ = OUR_DRIVERS[name]
            if machine.services(name) is None:
                problems.append('%s lists %s, which has no service' % (key, name))
            image = _file_below(machine.system32(), relative)
            if image is None or image.read_bytes() != images[name]:
                problems.append('%s lists %s, whose image %s is %s' % (
                    key, name, relative, 'missing' if image is None else 'not the complete image'))
    return problems


def assert_safe_state(machine, images, others):
    problems = safe_state_problems(machine, images, others)
    assert not problems, problems
