#!/usr/bin/env python3
"""Inspects the shipping KstIns.exe without running it: PE32 for i386, GUI
subsystem, the resources it must carry, imports from system DLLs only, and
the size budget; and, when a second path is given, KstCheck.exe: PE32 for
i386, console subsystem, imports from system DLLs only, the same budget.
Prints one PASS/FAIL line per check and a closing 'N passed, N failed'
line; exits non-zero on any failure.

    check_exe.py [KstIns.exe [KstCheck.exe]]"""
import struct
import sys

# The DLLs the system always loads from its own directory (KnownDLLs), never
# from the program's folder. The program runs elevated, often from a downloads
# folder, so a static import of any other DLL (version.dll, comctl32.dll...)
# would load a planted copy before the program runs a line; such DLLs are
# bound at run time by full path instead.
KNOWN_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "gdi32.dll", "msvcrt.dll",
    "shell32.dll", "ole32.dll",
}
# Functions that the 9x family's system DLLs lack, or that only later NT
# versions have. A program that imports one of them does not start there at
# all, so each is bound at run time where it exists (GetProcAddress).
LATE_FUNCTIONS = {
    "AllocateAndInitializeSid", "FreeSid", "InitializeAcl", "AddAccessAllowedAce",
    "InitializeSecurityDescriptor", "SetSecurityDescriptorDacl",
    "SetDllDirectoryA", "IsWow64Process", "GetTickCount64",
}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
SIZE_BUDGET = 256 * 1024


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, nsect, _, _, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        dirs = opt + (96 if self.magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", data, dirs + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(nsect):
            off = opt + optsize + 40 * i
            name = data[off:off + 8].rstrip(b"\0").decode()
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, off + 8)
            self.sections.append((name, va, max(vsize, rawsize), rawptr))

    def off(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("rva %#x outside sections" % rva)

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("latin-1")

    def imports(self):
        rva, size = self.dirs[1]
        names, o = [], self.off(rva)
        while True:
            ilt, _, _, name, iat = struct.unpack_from("<IIIII", self.data, o)
            if name == 0:
                return names
            names.append(self.cstr(name).lower())
            o += 20

    def imported_functions(self):
        """Names of the functions imported by name, from every DLL."""
        rva, _ = self.dirs[1]
        names, o = set(), self.off(rva)
        thunk, high = (4, 1 << 31) if self.magic == 0x10B else (8, 1 << 63)
        while True:
            ilt, _, _, name, iat = struct.unpack_from("<IIIII", self.data, o)
            if name == 0:
                return names
            t = self.off(ilt or iat)
            while True:
                entry = int.from_bytes(self.data[t:t + thunk], "little")
                if entry == 0:
                    break
                if not entry & high:
                    names.add(self.cstr(entry + 2))
                t += thunk
            o += 20

    def resources(self):
        """Map of (type, name) -> bytes, types and names as int or str."""
        base_rva, _ = self.dirs[2]
        base = self.off(base_rva)
        out = {}

        def entries(dir_off):
            named, ids = struct.unpack_from("<HH", self.data, dir_off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, dir_off + 16 + 8 * i)
                if name & 0x80000000:
                    so = base + (name & 0x7FFFFFFF)
                    n = struct.unpack_from("<H", self.data, so)[0]
                    key = self.data[so + 2:so + 2 + 2 * n].decode("utf-16-le")
                else:
                    key = name
                yield key, target

        for rtype, t1 in entries(base):
            for rname, t2 in entries(base + (t1 & 0x7FFFFFFF)):
                for _, t3 in entries(base + (t2 & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from("<II", self.data, base + t3)
                    o = self.off(rva)
                    out[(rtype, rname)] = self.data[o:o + size]
        return out


def fixed_version(block):
    i = block.find(struct.pack("<I", 0xFEEF04BD))
    if i < 0:
        return None
    ms, ls = struct.unpack_from("<II", block, i + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def version_string(block, key):
    k = (key + "\0").encode("utf-16-le")
    i = block.find(k)
    if i < 0:
        return None
    j = i + len(k)
    j += (-j) % 4  # the value starts on a 32-bit boundary
    end = block.find(b"\0\0", j)
    while end >= 0 and (end - j) % 2:
        end = block.find(b"\0\0", end + 1)
    return block[j:end].decode("utf-16-le")


def check_console_program(path, check):
    """The console check: built like the shipping program, console subsystem."""
    data = open(path, "rb").read()
    pe = Pe(data)
    name = path.replace("\\", "/").rsplit("/", 1)[-1]
    check(name + " PE32 for i386", pe.magic == 0x10B and pe.machine == 0x14C,
          "magic %#x machine %#x" % (pe.magic, pe.machine))
    check(name + " console subsystem", pe.subsystem == 3, "subsystem %d" % pe.subsystem)
    check(name + " within 256 KB", len(data) <= SIZE_BUDGET, "%d bytes" % len(data))
    imports = pe.imports()
    check(name + " imports only DLLs the system takes from its own directory",
          set(imports) <= KNOWN_DLLS,
          "unexpected: %s" % sorted(set(imports) - KNOWN_DLLS))
    late = pe.imported_functions() & LATE_FUNCTIONS
    check(name + " binds the functions older systems lack at run time", not late,
          "imported: %s" % sorted(late))


def main(path, console_path=None):
    data = open(path, "rb").read()
    results = []

    def check(name, ok, detail=""):
        results.append(ok)
        print(("PASS " if ok else "FAIL ") + name + ("" if ok else ": " + detail))

    pe = Pe(data)
    check("PE32 for i386", pe.magic == 0x10B and pe.machine == 0x14C,
          "magic %#x machine %#x" % (pe.magic, pe.machine))
    check("GUI subsystem", pe.subsystem == 2, "subsystem %d" % pe.subsystem)
    check("within 256 KB", len(data) <= SIZE_BUDGET, "%d bytes" % len(data))
    imports = pe.imports()
    check("imports only DLLs the system takes from its own directory", set(imports) <= KNOWN_DLLS,
          "unexpected: %s" % sorted(set(imports) - KNOWN_DLLS))
    late = pe.imported_functions() & LATE_FUNCTIONS
    check("binds the functions older systems lack at run time", not late,
          "imported: %s" % sorted(late))
    res = pe.resources()
    for rid in (104, 105, 106):
        img = res.get(("DRIVER", rid))
        check("DRIVER %d present" % rid, bool(img), "missing")
        if img:
            check("DRIVER %d carries file version 1.4.2.11" % rid,
                  fixed_version(img) == "1.4.2.11", str(fixed_version(img)))
    ver = next((v for (t, _), v in res.items() if t == RT_VERSION), None)
    check("version resource present", ver is not None, "missing")
    if ver:
        check("file version 1.4.5.12", fixed_version(ver) == "1.4.5.12", str(fixed_version(ver)))
        for key, want in (("Comments", "SCSI Command Filters Install"), ("ProductName", "Kestrune"),
                          ("InternalName", "Kestrune"), ("OriginalFilename", "KestruneInstall.exe")):
            got = version_string(ver, key)
            check("version field %s" % key, got == want, repr(got))
        # Shown beside the signer of a signed program.
        for key in ("CompanyName", "FileDescription"):
            check("version field %s present" % key, bool(version_string(ver, key)), "missing")
    manifest = next((v for (t, _), v in res.items() if t == RT_MANIFEST), b"")
    check("manifest asks for administrator rights", b"requireAdministrator" in manifest,
          "no requireAdministrator")
    check("icon present", any(t == RT_GROUP_ICON for t, _ in res), "no group icon")
    check("form description TMAIN present", any(n == "TMAIN" for _, n in res), "missing")
    if console_path:
        check_console_program(console_path, check)

    passed = sum(results)
    print("%d passed, %d failed" % (passed, len(results) - passed))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "build/win32/KstIns.exe",
                  sys.argv[2] if len(sys.argv) > 2 else "build/win32/KstCheck.exe"))
