"""Reading the resources of a PE image (an .exe or .sys), for checks on what
a build embedded. Pure byte work: no Wine needed."""
import struct

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


class PeError(ValueError):
    """The bytes are not a PE image this reader understands."""


def _sections(image):
    if image[:2] != b'MZ' or len(image) < 0x40:
        raise PeError('no MZ header')
    pe = struct.unpack_from('<I', image, 0x3C)[0]
    if image[pe:pe + 4] != b'PE\0\0':
        raise PeError('no PE signature')
    count, = struct.unpack_from('<H', image, pe + 6)
    optional_size, = struct.unpack_from('<H', image, pe + 20)
    optional = pe + 24
    magic, = struct.unpack_from('<H', image, optional)
    directories = optional + {0x10B: 96, 0x20B: 112}.get(magic, -1)
    if directories < optional:
        raise PeError('unknown optional header magic %#x' % magic)
    resource_rva, resource_size = struct.unpack_from('<II', image, directories + 2 * 8)
    table = optional + optional_size
    sections = []
    for i in range(count):
        _, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from('<8sIIII', image, table + 40 * i)
        sections.append((vaddr, max(vsize, raw_size), raw_ptr))
    return sections, resource_rva, resource_size


def _offset(sections, rva):
    for vaddr, size, raw_ptr in sections:
        if vaddr <= rva < vaddr + size:
            return raw_ptr + rva - vaddr
    raise PeError('address %#x lies in no section' % rva)


def resources(image):
    """All resources as {(type, name, language): bytes}; type and name are
    ints for numeric ids and upper-case strings for named ones."""
    sections, root_rva, _ = _sections(image)
    if root_rva == 0:
        return {}
    base = _offset(sections, root_rva)

    def label(raw):
        if not raw & 0x80000000:
            return raw
        at = base + (raw & 0x7FFFFFFF)
        length, = struct.unpack_from('<H', image, at)
        return image[at + 2:at + 2 + 2 * length].decode('utf-16-le')

    def walk(at, path):
        named, numbered = struct.unpack_from('<HH', image, at + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from('<II', image, at + 16 + 8 * i)
            key = path + (label(name),)
            if target & 0x80000000:
                yield from walk(base + (target & 0x7FFFFFFF), key)
            else:
                data_rva, size = struct.unpack_from('<II', image, base + target)
                start = _offset(sections, data_rva)
                yield key, image[start:start + size]

    return dict(walk(base, ()))


def resource(image, kind, name):
    """The one resource of this type and name, whatever its language; raises
    KeyError when there is none."""
    found = [data for (t, n, _), data in resources(image).items() if t == kind and n == name]
    if not found:
        raise KeyError((kind, name))
    return found[0]


def _version_node(data, at):
    length, value_length, kind = struct.unpack_from('<HHH', data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b'\0\0':
        key_end += 2
    key = data[at + 6:key_end].decode('utf-16-le')
    value_at = (key_end + 2 + 3) & ~3
    value_size = value_length * (2 if kind == 1 else 1)
    value = data[value_at:value_at + value_size]
    children, child = [], (value_at + value_size + 3) & ~3
    while child < end:
        node, child_end = _version_node(data, child)
        children.append(node)
        child = (child_end + 3) & ~3
    return (key, kind, value, children), end


def version_info(data):
    """Parses an RT_VERSION resource into (file_version, product_version,
    strings): the two fixed versions as 4-tuples and the StringFileInfo
    values of the first language as a dict."""
    (key, _, fixed, children), _ = _version_node(data, 0)
    if key != 'VS_VERSION_INFO' or len(fixed) < 52:
        raise PeError('not a version resource')
    signature, _, fms, fls, pms, pls = struct.unpack_from('<IIIIII', fixed, 0)
    if signature != 0xFEEF04BD:
        raise PeError('bad fixed file info signature')

    def split(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    strings = {}
    for name, _, _, tables in children:
        if name == 'StringFileInfo' and tables:
            for entry_key, _, value, _ in tables[0][3]:
                strings[entry_key] = value.decode('utf-16-le').rstrip('\0')
    return split(fms, fls), split(pms, pls), strings
