#!/usr/bin/env python3
"""Signed release builds, end to end, with a throwaway certificate.

    run_sign.py [UNSIGNED_BUILD] [--work DIR]

Makes a root CA and a code-signing certificate (PKCS#12 with a password
file) with openssl, builds the win32 preset signed into DIR/win32-signed (the
stand-in images allowed), and checks with osslsigncode that every shipping
program is signed and valid against that root and no other, that one changed
byte breaks the signature, that the signed KstIns.exe still passes
tests/exe/check_exe.py, that the password appears nowhere in the build
folder or the build log, and that the signature is all signing adds; and
that KstIns.msi is signed and valid against that root and no other, and
holds the signed programs and custom action DLL. Also checks that
configuring to sign refuses the cases it must, and that the programs and the
package of UNSIGNED_BUILD (default build/win32, already built) carry no
signature.

Prints one PASS/FAIL line per check and a closing 'N passed, N failed' line;
exits non-zero on any failure."""
import argparse
import os
import re
import secrets
import shutil
import struct
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "exe"))
import check_exe  # noqa: E402

SECURITY_DIR = 4          # index of the certificate table in the data directories
CHECKSUM_OFFSET = 64      # of the optional header's CheckSum field
SHIPPING_LIST = "shipping-programs.txt"
MUST_SHIP = ("KstIns.exe", "KstTrace.exe", "KstMsiAction.dll")
SIGN_TIMEOUT = 1800       # seconds for a whole build; configure and verify take far less
PACKAGE = "KstIns.msi"
PACKAGE_SIGNATURE_STREAM = "\x05DigitalSignature"


class Results:
    def __init__(self):
        self.outcomes = []

    def check(self, name, ok, detail=""):
        self.outcomes.append(bool(ok))
        print(("PASS " if ok else "FAIL ") + name + ("" if ok else ": " + detail), flush=True)
        return ok

    def summary(self):
        passed = sum(self.outcomes)
        print("%d passed, %d failed" % (passed, len(self.outcomes) - passed))
        return 0 if all(self.outcomes) else 1


def run(args, log=None, timeout=300, cwd=ROOT):
    """Runs a command; returns (exit code, its output as text)."""
    try:
        p = subprocess.run(args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=timeout)
        code, out = p.returncode, p.stdout
    except subprocess.TimeoutExpired as e:
        code, out = -1, (e.output or b"") + b"\n(timed out)\n"
    if log:
        with open(log, "ab") as f:
            f.write(out)
    return code, out.decode("utf-8", "replace")


# ---- certificates -----------------------------------------------------------

def make_root(keys, name):
    key, pem = os.path.join(keys, name + ".key"), os.path.join(keys, name + ".pem")
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", pem,
         "-days", "2", "-subj", "/CN=KstIns throwaway %s" % name,
         "-addext", "basicConstraints=critical,CA:TRUE",
         "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    return key, pem


def make_signer(keys, password):
    """Root CA and a PKCS#12 code-signing identity it issued; returns
    (root pem, pkcs12, password file)."""
    root_key, root_pem = make_root(keys, "root")
    key, csr, pem = (os.path.join(keys, n) for n in ("signer.key", "signer.csr", "signer.pem"))
    ext = os.path.join(keys, "signer.ext")
    with open(ext, "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    password_file = os.path.join(keys, "password")
    with open(password_file, "w") as f:
        f.write(password + "\n")
    p12 = os.path.join(keys, "signer.p12")
    run(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
         "-subj", "/CN=KstIns throwaway signer/O=Kestrune Project"])
    run(["openssl", "x509", "-req", "-in", csr, "-CA", root_pem, "-CAkey", root_key,
         "-CAcreateserial", "-out", pem, "-days", "2", "-extfile", ext])
    run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", pem, "-certfile", root_pem,
         "-out", p12, "-passout", "file:" + password_file])
    return root_pem, p12, password_file


# ---- the PE certificate table -----------------------------------------------

def certificate_table(data):
    """(file offset, size) of the certificate table; (0, 0) when unsigned."""
    return check_exe.Pe(data).dirs[SECURITY_DIR]


def without_signature(data):
    """The bytes a signer started from, minus what differs between two links
    of the same program: certificate table cut off, its directory entry, the
    header checksum and the link time stamps (file header, export and
    resource directories) zeroed, and the same done to every PE image embedded as a
    resource."""
    pe = check_exe.Pe(data)
    offset, size = pe.dirs[SECURITY_DIR]
    out = bytearray(data[:offset] if size else data)
    pe_at = struct.unpack_from("<I", data, 0x3C)[0]
    header = pe_at + 24
    entry = header + (96 if pe.magic == 0x10B else 112) + 8 * SECURITY_DIR
    struct.pack_into("<II", out, entry, 0, 0)
    struct.pack_into("<I", out, header + CHECKSUM_OFFSET, 0)
    struct.pack_into("<I", out, pe_at + 8, 0)
    if pe.dirs[0][1]:
        struct.pack_into("<I", out, pe.off(pe.dirs[0][0]) + 4, 0)
    if pe.dirs[2][1]:
        _zero_resource_stamps(out, pe.off(pe.dirs[2][0]), 0)
        # Embedded driver images are links of their own.
        for image in pe.resources().values():
            at = data.find(image) if image[:2] == b"MZ" else -1
            if at >= 0:
                out[at:at + len(image)] = without_signature(image)
    return bytes(out)


def _zero_resource_stamps(out, base, at, depth=0):
    """Zeroes the time stamp of the resource directory at base+at and of the
    directories below it (three levels: type, name, language)."""
    struct.pack_into("<I", out, base + at + 4, 0)
    named, ids = struct.unpack_from("<HH", out, base + at + 12)
    for i in range(named + ids):
        target, = struct.unpack_from("<I", out, base + at + 16 + 8 * i + 4)
        if target & 0x80000000 and depth < 2:
            _zero_resource_stamps(out, base, target & 0x7FFFFFFF, depth + 1)


def tamper_offsets(data):
    """Named single-byte places across the signed file, each covered by the
    signature: DOS and PE headers, every section's first and last stored byte,
    the byte before the certificate table, and the middle of the signature."""
    pe_at = struct.unpack_from("<I", data, 0x3C)[0]
    count, = struct.unpack_from("<H", data, pe_at + 6)
    optsize, = struct.unpack_from("<H", data, pe_at + 20)
    places = [("DOS header", 2), ("subsystem field", pe_at + 24 + 68)]
    for i in range(count):
        at = pe_at + 24 + optsize + 40 * i
        name = data[at:at + 8].rstrip(b"\0").decode()
        rawsize, raw = struct.unpack_from("<II", data, at + 16)
        if rawsize:
            places.append(("first byte of %s" % name, raw))
            places.append(("last byte of %s" % name, raw + rawsize - 1))
    offset, size = certificate_table(data)
    places.append(("byte before the certificate table", offset - 1))
    places.append(("middle of the signature", offset + size // 2))
    return places


# ---- building ---------------------------------------------------------------

def configure(build, log, options):
    args = ["cmake", "--preset", "win32", "-B", build] + ["-D%s=%s" % kv for kv in options]
    return run(args, log=log)


def shipping_programs(build):
    path = os.path.join(build, SHIPPING_LIST)
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [line.strip() for line in f if line.strip()]


def verify(program, root):
    code, out = run(["osslsigncode", "verify", "-CAfile", root, "-in", program], timeout=60)
    return code == 0 and "Signature verification: ok" in out, out


def files_containing(folder, needle):
    found = []
    for top, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(top, name)
            try:
                with open(path, "rb") as f:
                    if needle in f.read():
                        found.append(os.path.relpath(path, folder))
            except OSError:
                pass
    return found


# ---- the checks -------------------------------------------------------------

def check_refusals(r, work, p12, password_file, unsigned_build):
    """Configurations that must not get as far as building."""
    missing = os.path.join(work, "keys", "no-such-file")
    cases = [
        ("stand-ins built here, not allowed",
         [("KST_SIGN_PKCS12", p12), ("KST_SIGN_PASSWORD_FILE", password_file)],
         "REFUSING TO SIGN"),
        ("stand-ins supplied as the images, not allowed",
         [("KST_SIGN_PKCS12", p12), ("KST_SIGN_PASSWORD_FILE", password_file),
          ("KST_DRIVER_IMAGES_DIR", os.path.join(unsigned_build, "drivers", "images"))],
         "REFUSING TO SIGN"),
        ("no password file given",
         [("KST_SIGN_PKCS12", p12), ("KST_SIGN_ALLOW_STAND_INS", "ON")],
         "KST_SIGN_PASSWORD_FILE is empty"),
        ("password file missing",
         [("KST_SIGN_PKCS12", p12), ("KST_SIGN_PASSWORD_FILE", missing),
          ("KST_SIGN_ALLOW_STAND_INS", "ON")],
         "KST_SIGN_PASSWORD_FILE names no file"),
        ("certificate missing",
         [("KST_SIGN_PKCS12", missing), ("KST_SIGN_PASSWORD_FILE", password_file),
          ("KST_SIGN_ALLOW_STAND_INS", "ON")],
         "KST_SIGN_PKCS12 names no file"),
    ]
    for i, (name, options, message) in enumerate(cases):
        build = os.path.join(work, "refused-%d" % i)
        shutil.rmtree(build, ignore_errors=True)
        code, out = configure(build, None, options)
        r.check("configure refuses: %s" % name, code != 0 and message in out,
                "exit %d, output lacks %r:\n%s" % (code, message, out[-1500:]))


def check_unsigned(r, build):
    programs = shipping_programs(build)
    r.check("unsigned build lists its shipping programs", programs,
            "no %s in %s" % (SHIPPING_LIST, build))
    for program in programs:
        name = os.path.basename(program)
        with open(program, "rb") as f:
            table = certificate_table(f.read())
        r.check("unsigned %s has no certificate table" % name, table == (0, 0), str(table))
    code, out = run(["msiinfo", "streams", os.path.join(build, PACKAGE)], timeout=60)
    r.check("unsigned %s has no signature stream" % PACKAGE,
            code == 0 and PACKAGE_SIGNATURE_STREAM not in out.splitlines(), out[-500:])


def check_package(r, build, root, other_root, scratch):
    """The package signed after what it holds: its own signature valid, and
    every program and the custom action DLL inside it the signed ones."""
    package = os.path.join(build, PACKAGE)
    ok, out = verify(package, root)
    r.check("%s signed and valid against the throwaway root" % PACKAGE, ok, out[-1500:])
    r.check("%s signed with SHA-256" % PACKAGE,
            re.search(r"Message digest algorithm\s*:\s*SHA256", out), out[-800:])
    r.check("%s not valid against another root" % PACKAGE, not verify(package, other_root)[0],
            "verified")
    inside = os.path.join(scratch, "package-contents")
    shutil.rmtree(inside, ignore_errors=True)
    os.makedirs(inside)
    code, out = run(["msiextract", "-C", inside, package], timeout=120)
    found = {name: os.path.join(top, name) for top, _, names in os.walk(inside) for name in names}
    dll = os.path.join(inside, "KstMsiAction.dll")
    with open(dll, "wb") as f:
        subprocess.run(["msiinfo", "extract", package, "Binary.KstMsiAction"], stdout=f,
                       timeout=60)
    found["KstMsiAction.dll"] = dll
    signed = {os.path.basename(p): p for p in shipping_programs(build)}
    for name in ("KstIns.exe", "KstCheck.exe", "KstTrace.exe", "KstMsiAction.dll"):
        if not r.check("%s holds %s" % (PACKAGE, name), name in found and name in signed,
                       "in package: %s; shipping: %s" % (sorted(found), sorted(signed))):
            continue
        with open(found[name], "rb") as a, open(signed[name], "rb") as b:
            same = a.read() == b.read()
        r.check("%s in %s is the signed one, valid against the root" % (name, PACKAGE),
                same and verify(found[name], root)[0], "same bytes: %s" % same)


def check_signed(r, build, root, other_root, unsigned_build):
    programs = shipping_programs(build)
    names = [os.path.basename(p) for p in programs]
    for name in MUST_SHIP:
        r.check("%s is a shipping program" % name, name in names, "listed: %s" % names)
    for program in programs:
        name = os.path.basename(program)
        ok, out = verify(program, root)
        r.check("%s signed and valid against the throwaway root" % name, ok, out[-1500:])
        r.check("%s signed with SHA-256" % name, "Message digest algorithm  : SHA256" in out,
                out[-800:])
        ok, _ = verify(program, other_root)
        r.check("%s not valid against another root" % name, not ok, "verified")
        with open(program, "rb") as f:
            data = f.read()
        ver = next((v for (t, _), v in check_exe.Pe(data).resources().items()
                    if t == check_exe.RT_VERSION), b"")
        for key in ("CompanyName", "FileDescription", "ProductName"):
            r.check("%s version field %s" % (name, key), check_exe.version_string(ver, key),
                    "missing")
        unsigned = os.path.join(unsigned_build, os.path.relpath(program, build))
        if os.path.exists(unsigned):
            with open(unsigned, "rb") as f:
                plain = f.read()
            r.check("%s: the signature is all that signing adds" % name,
                    without_signature(data) == without_signature(plain),
                    "differs from %s beyond the signature" % unsigned)
    return programs


def check_tampering(r, program, root, scratch):
    with open(program, "rb") as f:
        data = f.read()
    name = os.path.basename(program)
    for place, offset in tamper_offsets(data):
        changed = bytearray(data)
        changed[offset] ^= 0x01
        path = os.path.join(scratch, "tampered-" + name)
        with open(path, "wb") as f:
            f.write(changed)
        ok, _ = verify(path, root)
        r.check("%s with one byte changed (%s) fails verification" % (name, place), not ok,
                "still verifies after changing offset %#x" % offset)


def check_failed_signing(r, build, log, p12, password_file, root):
    """A signing step that fails must fail the build and leave no unsigned
    program that looks up to date; the next good build signs it again."""
    program = os.path.join(build, "KstTrace.exe")
    fresh = os.path.join(os.path.dirname(p12), "renewed.p12")
    shutil.copyfile(p12, fresh)  # newer than the program: it links again
    wrong = os.path.join(os.path.dirname(p12), "wrong-password")
    with open(wrong, "w") as f:
        f.write("not-the-password\n")
    for password, good in ((wrong, False), (password_file, True)):
        label = "right" if good else "wrong"
        code, out = configure(build, log, [("KST_SIGN_PKCS12", fresh),
                                           ("KST_SIGN_PASSWORD_FILE", password)])
        if code == 0:
            code, out = run(["cmake", "--build", build, "--target", "KstTrace"], log=log,
                            timeout=SIGN_TIMEOUT)
        r.check("build with the %s password %s" % (label, "succeeds" if good else "fails"),
                (code == 0) == good, out[-1500:])
        r.check("KstTrace.exe %s after signing with the %s password"
                % ("present" if good else "removed", label),
                os.path.exists(program) == good, "")
    r.check("KstTrace.exe signed again and valid", verify(program, root)[0], "")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("unsigned_build", nargs="?", default="build/win32")
    ap.add_argument("--work", default="build/sign")
    a = ap.parse_args()
    unsigned_build = os.path.abspath(os.path.join(ROOT, a.unsigned_build))
    work = os.path.abspath(os.path.join(ROOT, a.work))
    keys, build = os.path.join(work, "keys"), os.path.join(work, "win32-signed")
    log = os.path.join(work, "win32-signed.log")
    r = Results()

    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(keys)
    password = "kst-" + secrets.token_hex(16)
    root, p12, password_file = make_signer(keys, password)
    _, other_root = make_root(keys, "other-root")
    if not r.check("throwaway certificates made", os.path.exists(p12), "openssl failed"):
        return r.summary()

    check_unsigned(r, unsigned_build)
    check_refusals(r, work, p12, password_file, unsigned_build)

    code, out = configure(build, log, [("KST_SIGN_PKCS12", p12),
                                       ("KST_SIGN_PASSWORD_FILE", password_file),
                                       ("KST_SIGN_ALLOW_STAND_INS", "ON")])
    r.check("configure with stand-ins allowed warns loudly", code == 0 and "STAND-IN" in out,
            "exit %d:\n%s" % (code, out[-1500:]))
    code, out = run(["nice", "cmake", "--build", build, "-j2", "--", "VERBOSE=1"], log=log,
                    timeout=SIGN_TIMEOUT)
    if not r.check("signed build", code == 0, out[-3000:]):
        return r.summary()
    r.check("the build log shows the signing command lines", "KstSignFile.cmake" in out,
            "not verbose?")
    r.check("every signing step warns of stand-ins", out.count("STAND-IN driver images") >=
            len(MUST_SHIP), "warnings: %d" % out.count("STAND-IN driver images"))

    programs = check_signed(r, build, root, other_root, unsigned_build)
    kstins = os.path.join(build, "KstIns.exe")
    if os.path.exists(kstins):
        code, out = run([sys.executable, os.path.join(ROOT, "tests", "exe", "check_exe.py"),
                         kstins])
        r.check("signed KstIns.exe passes check_exe.py (size budget included)", code == 0,
                out[-1500:])
    for program in programs:
        check_tampering(r, program, root, work)
    check_package(r, build, root, other_root, work)

    check_failed_signing(r, build, log, p12, password_file, root)

    secret = password.encode()
    r.check("password nowhere in the signed build folder", not files_containing(build, secret),
            str(files_containing(build, secret)))
    with open(log, "rb") as f:
        r.check("password not in the configure and build log", secret not in f.read(), log)
    return r.summary()


if __name__ == "__main__":
    sys.exit(main())
