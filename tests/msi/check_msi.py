#!/usr/bin/env python3
"""Inspects KstIns.msi without installing it, through msitools' msiinfo and
msiextract: the custom actions' types (deferred, not impersonated), their
places in the execute sequence relative to InstallFiles, RemoveFiles and
InstallFinalize, their conditions, the upgrade rows, the product's
properties, and that the programs and the custom action DLL inside are the
build's own, for the package's processor (the x86 package holds the i686
programs). Prints one PASS/FAIL line per check and a closing
'N passed, N failed' line; exits non-zero on any failure.

    check_msi.py [BUILD_FOLDER]     (default build/win32; the package is BUILD_FOLDER/KstIns.msi)"""
import os
import re
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
UPGRADE_CODE = "{6A0E4D1C-5F42-4B7E-9C3A-1E8B27D5F0A4}"
PROGRAMS = ("KstIns.exe", "KstCheck.exe", "KstTrace.exe")
MACHINES = {"x86": 0x14C, "x64": 0x8664}

# Custom action type bits (msidbCustomActionType...).
DLL_IN_BINARY = 1
PROPERTY_FROM_TEXT = 51
CONTINUE = 64           # Return="ignore"
ROLLBACK, COMMIT = 256, 512
DEFERRED = 1024
NO_IMPERSONATE = 2048

INSTALL_ONLY = "NOT Installed AND NOT REMOVE"
REMOVE_ONLY = 'Installed AND REMOVE~="ALL" AND NOT UPGRADINGPRODUCTCODE'


def table(package, name):
    """The rows of a table as dicts, from `msiinfo export` (CRLF, three header
    lines: column names, column types, table name and keys)."""
    out = subprocess.run(["msiinfo", "export", package, name], capture_output=True, check=True,
                         timeout=60).stdout.decode("utf-8")
    lines = out.replace("\r\n", "\n").split("\n")
    columns = lines[0].split("\t")
    rows = []
    for line in lines[3:]:
        if line:
            rows.append(dict(zip(columns, line.split("\t"))))
    return rows


def version_text():
    with open(os.path.join(ROOT, "resources", "kst_version.h")) as f:
        return re.search(r'#define KST_PROGRAM_VERSION_TEXT "([^"]+)"', f.read()).group(1)


def pe_machine(data):
    at = struct.unpack_from("<I", data, 0x3C)[0]
    if data[at:at + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, at + 4)[0]


class Checks:
    def __init__(self):
        self.results = []

    def check(self, name, ok, detail=""):
        self.results.append(bool(ok))
        print(("PASS " if ok else "FAIL ") + name + ("" if ok else ": " + str(detail)), flush=True)

    def summary(self):
        passed = sum(self.results)
        print("%d passed, %d failed" % (passed, len(self.results) - passed))
        return 0 if all(self.results) else 1


def check_actions(c, package):
    actions = {row["Action"]: row for row in table(package, "CustomAction")}
    for name in ("KstInstall", "KstUninstall"):
        row = actions.get(name, {})
        kind = int(row.get("Type", "0"))
        c.check("%s runs the DLL entry of the same name" % name,
                (row.get("Source"), row.get("Target")) == ("KstMsiAction", name), row)
        c.check("%s is a deferred DLL action, not impersonated, its result checked" % name,
                kind & 0x3F == DLL_IN_BINARY and kind & DEFERRED and kind & NO_IMPERSONATE
                and not kind & (CONTINUE | ROLLBACK | COMMIT), kind)
        data = actions.get(name + "Data", {})
        c.check("%sData gives it the programs' folder" % name,
                (int(data.get("Type", "0")) & 0x3F, data.get("Source"), data.get("Target")) ==
                (PROPERTY_FROM_TEXT, name, "[INSTALLFOLDER]"), data)
    for name in ("KstRestartCheck", "KstUpgradeHandover"):
        row = actions.get(name, {})
        kind = int(row.get("Type", "0"))
        c.check("%s is an immediate DLL action whose failure is ignored" % name,
                kind & 0x3F == DLL_IN_BINARY and kind & CONTINUE and not kind & (DEFERRED | ROLLBACK | COMMIT)
                and (row.get("Source"), row.get("Target")) == ("KstMsiAction", name), row)
    c.check("no other custom actions", sorted(actions) == sorted(
        ["KstInstall", "KstInstallData", "KstUninstall", "KstUninstallData", "KstRestartCheck",
         "KstUpgradeHandover"]), sorted(actions))


def check_sequence(c, package):
    rows = {row["Action"]: row for row in table(package, "InstallExecuteSequence")}
    at = {name: int(row["Sequence"]) for name, row in rows.items()}
    cond = {name: row["Condition"] for name, row in rows.items()}
    standard = ("FindRelatedProducts", "LaunchConditions", "InstallValidate", "RemoveExistingProducts",
                "InstallInitialize", "ProcessComponents", "RemoveFiles", "InstallFiles",
                "RegisterProduct", "PublishProduct", "InstallFinalize")
    missing = [name for name in standard if name not in at]
    c.check("the standard actions are sequenced", not missing, missing)
    if missing:
        return
    numbers = sorted(at.values())
    c.check("every sequence number is used once", len(numbers) == len(set(numbers)), numbers)

    def order(*names):
        return all(at.get(a, -1) < at.get(b, -1) for a, b in zip(names, names[1:]))

    c.check("the removal runs KstIns.exe while the programs are there: "
            "InstallInitialize < KstUninstallData < KstUninstall < RemoveFiles",
            order("InstallInitialize", "KstUninstallData", "KstUninstall", "ProcessComponents",
                  "RemoveFiles"), at)
    latest_standard = max(v for k, v in at.items() if not k.startswith("Kst") and k != "InstallFinalize")
    c.check("the install runs after InstallFiles and every other step of the script, "
            "before InstallFinalize",
            order("InstallFiles", "KstInstallData", "KstInstall", "InstallFinalize")
            and at["KstInstallData"] > latest_standard, at)
    c.check("the restart is asked for after InstallFinalize",
            order("InstallFinalize", "KstRestartCheck") and at["KstRestartCheck"] == max(numbers), at)
    c.check("the older version is removed before the install's transaction: "
            "FindRelatedProducts < KstUpgradeHandover < RemoveExistingProducts, "
            "InstallValidate < RemoveExistingProducts < InstallInitialize",
            order("FindRelatedProducts", "LaunchConditions", "InstallValidate", "KstUpgradeHandover",
                  "RemoveExistingProducts", "InstallInitialize"), at)
    expected = {"KstInstallData": INSTALL_ONLY, "KstInstall": INSTALL_ONLY,
                "KstUninstallData": REMOVE_ONLY, "KstUninstall": REMOVE_ONLY,
                "KstRestartCheck": "(%s) OR (%s)" % (INSTALL_ONLY, REMOVE_ONLY),
                "KstUpgradeHandover": "KSTOLDERVERSION",
                "RemoveExistingProducts": ""}
    for name, text in expected.items():
        c.check("condition of %s: %s" % (name, text or "(none)"), cond.get(name) == text, cond.get(name))


def check_upgrade(c, package, properties):
    version = properties.get("ProductVersion")
    rows = table(package, "Upgrade")
    c.check("two upgrade rows, both of the product's upgrade code",
            len(rows) == 2 and all(r["UpgradeCode"] == UPGRADE_CODE for r in rows), rows)
    older = [r for r in rows if r["ActionProperty"] == "KSTOLDERVERSION"]
    newer = [r for r in rows if r["ActionProperty"] == "KSTNEWERVERSION"]
    if older:
        attrs = int(older[0]["Attributes"])
        c.check("every older version is removed: 0.0.0 up to this one, this one excluded",
                (older[0]["VersionMin"], older[0]["VersionMax"]) == ("0.0.0", version)
                and attrs & 256 and not attrs & 512 and not attrs & 2, older[0])
    else:
        c.check("a row finds older versions", False, rows)
    if newer:
        attrs = int(newer[0]["Attributes"])
        c.check("a newer version is only detected, from this one up, this one excluded",
                newer[0]["VersionMin"] == version and not newer[0]["VersionMax"]
                and attrs & 2 and not attrs & 256, newer[0])
    else:
        c.check("a row detects newer versions", False, rows)
    launch = [r["Condition"].strip() for r in table(package, "LaunchCondition")]
    c.check("a newer version installed refuses the install", launch == ["NOT KSTNEWERVERSION"], launch)
    secure = properties.get("SecureCustomProperties", "").split(";")
    c.check("both upgrade properties pass to the server",
            "KSTOLDERVERSION" in secure and "KSTNEWERVERSION" in secure, secure)


def check_properties(c, properties):
    expected = {"ProductName": "Kestrune", "Manufacturer": "Kestrune Project",
                "ProductVersion": version_text(), "UpgradeCode": UPGRADE_CODE, "ALLUSERS": "1",
                "ARPNOMODIFY": "1", "ARPNOREPAIR": "1"}
    for name, value in expected.items():
        c.check("property %s = %s" % (name, value), properties.get(name) == value, properties.get(name))
    c.check("a product code of its own", re.fullmatch(r"\{[0-9A-F-]{36}\}", properties.get("ProductCode", "")),
            properties.get("ProductCode"))


def check_contents(c, package, build, arch):
    machine = MACHINES[arch]
    components = table(package, "Component")
    c.check("one component per program, %s" % ("64-bit" if arch == "x64" else "32-bit"),
            len(components) == 3 and all((int(r["Attributes"]) & 256 != 0) == (arch == "x64")
                                         for r in components), components)
    folder = {"x86": "ProgramFilesFolder", "x64": "ProgramFiles64Folder"}[arch]
    dirs = {r["Directory"]: r for r in table(package, "Directory")}
    c.check("installed into %s\\Kestrune" % folder,
            dirs.get("INSTALLFOLDER", {}).get("Directory_Parent") == folder
            and dirs["INSTALLFOLDER"].get("DefaultDir") == "Kestrune", dirs.get("INSTALLFOLDER"))
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run(["msiextract", "-C", scratch, package], capture_output=True, check=True, timeout=120)
        found = {}
        for top, _, names in os.walk(scratch):
            for name in names:
                found[name] = os.path.join(top, name)
        c.check("the package holds exactly the three programs", sorted(found) == sorted(PROGRAMS),
                sorted(found))
        for name in PROGRAMS:
            if name not in found:
                continue
            with open(found[name], "rb") as f:
                data = f.read()
            with open(os.path.join(build, name), "rb") as f:
                same = f.read() == data
            c.check("%s is the build's own, for %s" % (name, arch), same and pe_machine(data) == machine,
                    "machine %s, same bytes %s" % (pe_machine(data), same))
        dll = os.path.join(scratch, "KstMsiAction.dll")
        subprocess.run(["msiinfo", "extract", package, "Binary.KstMsiAction"],
                       stdout=open(dll, "wb"), check=True, timeout=60)
        with open(dll, "rb") as f:
            data = f.read()
        with open(os.path.join(build, "msi", "KstMsiAction.dll"), "rb") as f:
            same = f.read() == data
        c.check("the custom action DLL is the build's own, for %s" % arch,
                same and pe_machine(data) == machine, "machine %s, same bytes %s" % (pe_machine(data), same))
        for entry in (b"KstInstall", b"KstUninstall", b"KstRestartCheck", b"KstUpgradeHandover"):
            c.check("the DLL exports %s undecorated" % entry.decode(), entry + b"\0" in data, "")


def main(argv):
    build = os.path.abspath(argv[1] if len(argv) > 1 else os.path.join(ROOT, "build", "win32"))
    package = os.path.join(build, "KstIns.msi")
    c = Checks()
    if not os.path.isfile(package):
        c.check("package built", False, package + " missing")
        return c.summary()
    suminfo = subprocess.run(["msiinfo", "suminfo", package], capture_output=True, check=True,
                             timeout=60).stdout.decode()
    template = re.search(r"^Template: (.*)$", suminfo, re.M)
    arch = {"Intel;1033": "x86", "x64;1033": "x64"}.get(template.group(1) if template else "")
    with open(os.path.join(build, "KstIns.exe"), "rb") as f:
        built = {v: k for k, v in MACHINES.items()}.get(pe_machine(f.read()))
    c.check("the package's processor is the build's (%s)" % built, arch == built, template)
    if arch is None:
        return c.summary()
    properties = {row["Property"]: row["Value"] for row in table(package, "Property")}
    check_actions(c, package)
    check_sequence(c, package)
    check_upgrade(c, package, properties)
    check_properties(c, properties)
    check_contents(c, package, build, arch)
    return c.summary()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
