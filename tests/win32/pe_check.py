#!/usr/bin/env python3
"""Reads built Windows modules (PE files) and checks what a real Windows
loader will make of them, without running them:

    pe_check.py imports --allow LIST [--max-version 5.1] MODULE...
        Every function each module imports (plain and delay-loaded) must be
        in the allow-list LIST, and the PE header's operating-system and
        subsystem versions must not exceed --max-version: otherwise the
        loader of that Windows version refuses the module.
    pe_check.py manifest --version-header Version.h EXE
        The application manifest (RT_MANIFEST 1) asks for administrator
        rights, names Vista to 10/11 as supported, declares no DPI awareness
        and no Common Controls 6; the VERSIONINFO record carries the version
        that Version.h defines.

Exit status 0 when every check passes, 1 otherwise; each failure is one line
on stdout.
"""
import argparse
import re
import struct
import sys
import xml.etree.ElementTree as ET

RT_VERSION, RT_MANIFEST = 16, 24
MACHINES = {0x14C: "i386", 0x8664: "x86_64"}

# supportedOS ids, from the Windows SDK's documentation of the manifest.
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Windows Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}


class PeError(Exception):
    pass


class PeFile:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise PeError("%s: no MZ header" % path)
        pe = self.u32(0x3C)
        if d[pe:pe + 4] != b"PE\0\0":
            raise PeError("%s: no PE signature" % path)
        self.machine, nsections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        magic = self.u16(opt)
        if magic not in (0x10B, 0x20B):
            raise PeError("%s: unknown optional header magic %#x" % (path, magic))
        self.pe32plus = magic == 0x20B
        (self.os_version, self.image_version, self.subsystem_version) = [
            (self.u16(opt + off), self.u16(opt + off + 2)) for off in (40, 44, 48)]
        self.subsystem = self.u16(opt + 68)
        ndirs_at = opt + (108 if self.pe32plus else 92)
        ndirs = self.u32(ndirs_at)
        self.dirs = [struct.unpack_from("<II", d, ndirs_at + 4 + 8 * i) for i in range(ndirs)]
        self.sections = []
        for i in range(nsections):
            at = opt + opt_size + 40 * i
            vsize, va, raw_size, raw_at = struct.unpack_from("<IIII", d, at + 8)
            self.sections.append((va, max(vsize, raw_size), raw_at, raw_size))

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for va, size, raw_at, raw_size in self.sections:
            if va <= rva < va + size:
                if rva - va >= raw_size:
                    raise PeError("%s: RVA %#x lies in a section's zero fill" % (self.path, rva))
                return raw_at + rva - va
        raise PeError("%s: RVA %#x lies in no section" % (self.path, rva))

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def directory(self, index):
        return self.dirs[index] if index < len(self.dirs) else (0, 0)

    def _thunks(self, rva):
        """The names (or "#ordinal") an import name table lists."""
        size, flag = (8, 1 << 63) if self.pe32plus else (4, 1 << 31)
        names = []
        at = self.offset(rva)
        while True:
            value = int.from_bytes(self.data[at:at + size], "little")
            if value == 0:
                return names
            if value & flag:
                names.append("#%d" % (value & 0xFFFF))
            else:
                names.append(self.cstring((value & 0x7FFFFFFF) + 2))  # past the hint
            at += size

    def imports(self):
        """[(dll, function)], plain imports first, then delay-loaded ones."""
        result = []
        rva, _ = self.directory(1)
        if rva:
            at = self.offset(rva)
            while True:
                lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
                if name == 0:
                    break
                dll = self.cstring(name)
                result += [(dll, f) for f in self._thunks(lookup or first)]
                at += 20
        rva, _ = self.directory(13)
        if rva:
            at = self.offset(rva)
            while True:
                attrs, name, _, _, names = struct.unpack_from("<IIIII", self.data, at)
                if name == 0:
                    break
                if not attrs & 1:
                    raise PeError("%s: delay-load table uses virtual addresses" % self.path)
                dll = self.cstring(name)
                result += [(dll, f) for f in self._thunks(names)]
                at += 32
        return result

    def resources(self):
        """{(type, name, language): bytes}; ids as ints, names as strings."""
        rva, _ = self.directory(2)
        found = {}
        if not rva:
            return found
        base = self.offset(rva)

        def walk(at, path):
            named, numbered = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if key & 0x80000000:
                    s = base + (key & 0x7FFFFFFF)
                    key = self.data[s + 2:s + 2 + 2 * self.u16(s)].decode("utf-16-le")
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), path + [key])
                else:
                    data_rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(data_rva)
                    found[tuple(path + [key])] = self.data[start:start + size]

        walk(base, [])
        return found


def read_allow_list(path):
    """{dll in lower case: set of function names}."""
    allowed, dll = {}, None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            m = re.fullmatch(r"\[([^\]]+)\]", line)
            if m:
                dll = m.group(1).lower()
                allowed.setdefault(dll, set())
            elif dll is None:
                raise PeError("%s:%d: a function before any [dll] line" % (path, number))
            else:
                allowed[dll].add(line)
    return allowed


def check_imports(args):
    allowed = read_allow_list(args.allow)
    limit = tuple(int(x) for x in args.max_version.split("."))
    failures = []
    for path in args.modules:
        pe = PeFile(path)
        if pe.machine != 0x14C:
            failures.append("%s: machine %s, not i386" % (path, MACHINES.get(pe.machine, hex(pe.machine))))
        for what, version in (("operating-system", pe.os_version), ("subsystem", pe.subsystem_version)):
            if version > limit:
                failures.append("%s: PE %s version %d.%d is above %s" % (path, what, *version, args.max_version))
        imports = pe.imports()
        if not imports:
            failures.append("%s: imports nothing (the import table was not read)" % path)
        for dll, function in imports:
            if function not in allowed.get(dll.lower(), ()):
                failures.append("%s: %s!%s is not in the allow-list" % (path, dll, function))
        print("%s: %d imports from %d DLLs, OS version %d.%d, subsystem version %d.%d" % (
            path, len(imports), len({d.lower() for d, _ in imports}), *pe.os_version, *pe.subsystem_version))
    return failures


def parse_version_header(path):
    with open(path, encoding="utf-8") as f:
        defs = dict(re.findall(r"^#define MORVEK_VERSION_(\w+) (.+?)\s*$", f.read(), re.M))
    fields = tuple(int(defs[k]) for k in ("MAJOR", "MINOR", "YEAR", "MONTHDAY"))
    return fields, defs["TEXT"].strip('"')


def version_info(blob):
    """(file version fields, product version fields, {string name: value})."""
    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", blob, at)
        end_key = at + 6
        while blob[end_key:end_key + 2] != b"\0\0":
            end_key += 2
        key = blob[at + 6:end_key].decode("utf-16-le")
        value_at = (end_key + 2 + 3) & ~3
        value_size = value_length * 2 if kind == 1 else value_length
        value = blob[value_at:value_at + value_size]
        children, child = [], (value_at + value_size + 3) & ~3
        while child < at + length:
            children.append(node(child))
            child = (child + children[-1][3] + 3) & ~3
        return key, value, children, length

    key, fixed, children, _ = node(0)
    if key != "VS_VERSION_INFO" or len(fixed) != 52 or struct.unpack_from("<I", fixed)[0] != 0xFEEF04BD:
        raise PeError("VERSIONINFO has no fixed file information")
    fms, fls, pms, pls = struct.unpack_from("<IIII", fixed, 8)
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    strings = {}
    for name, _, tables, _ in children:
        if name == "StringFileInfo":
            for _, _, entries, _ in tables:
                for entry, value, _, _ in entries:
                    strings[entry] = value.decode("utf-16-le").rstrip("\0")
    return split(fms, fls), split(pms, pls), strings


def local(tag):
    return tag.rsplit("}", 1)[-1]


def check_manifest(args):
    failures = []
    pe = PeFile(args.exe)
    resources = pe.resources()
    manifests = [(k, v) for k, v in resources.items() if k[0] == RT_MANIFEST]
    if [k[1] for k, _ in manifests] != [1]:
        return ["%s: wants one RT_MANIFEST resource with id 1 (the one a process starts with), has %s"
                % (args.exe, [k[1] for k, _ in manifests])]
    text = manifests[0][1]
    root = ET.fromstring(text)
    elements = list(root.iter())
    levels = [e for e in elements if local(e.tag) == "requestedExecutionLevel"]
    if len(levels) != 1:
        failures.append("%s: %d requestedExecutionLevel elements, wants 1" % (args.exe, len(levels)))
    for e in levels:
        if e.get("level") != "requireAdministrator":
            failures.append("%s: execution level %r, wants requireAdministrator" % (args.exe, e.get("level")))
        if e.get("uiAccess", "false") != "false":
            failures.append("%s: uiAccess %r, wants false" % (args.exe, e.get("uiAccess")))
    ids = {e.get("Id", "").lower() for e in elements if local(e.tag) == "supportedOS"}
    for guid, system in SUPPORTED_OS.items():
        if guid not in ids:
            failures.append("%s: supportedOS of %s (%s) missing" % (args.exe, system, guid))
    for e in elements:
        if local(e.tag) in ("dpiAware", "dpiAwareness"):
            failures.append("%s: declares DPI awareness (%s)" % (args.exe, local(e.tag)))
        if local(e.tag) == "assemblyIdentity" and e.get("name") == "Microsoft.Windows.Common-Controls":
            failures.append("%s: depends on Common Controls %s" % (args.exe, e.get("version")))

    versions = [v for k, v in resources.items() if k[0] == RT_VERSION]
    if len(versions) != 1:
        return failures + ["%s: %d VERSIONINFO resources, wants 1" % (args.exe, len(versions))]
    fields, text = parse_version_header(args.version_header)
    file_version, product_version, strings = version_info(versions[0])
    for name, value in (("FILEVERSION", file_version), ("PRODUCTVERSION", product_version)):
        if value != fields:
            failures.append("%s: %s %s, %s defines %s" % (args.exe, name, value, args.version_header, fields))
    for name in ("FileVersion", "ProductVersion"):
        if strings.get(name) != text:
            failures.append("%s: %s string %r, %s defines %r" % (args.exe, name, strings.get(name),
                                                                  args.version_header, text))
    print("%s: manifest %d bytes, level %s, %d supportedOS; version %s" % (
        args.exe, len(manifests[0][1]), levels[0].get("level") if levels else None, len(ids),
        strings.get("FileVersion")))
    return failures


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    imports = commands.add_parser("imports")
    imports.add_argument("--allow", required=True)
    imports.add_argument("--max-version", default="5.1")
    imports.add_argument("modules", nargs="+")
    manifest = commands.add_parser("manifest")
    manifest.add_argument("--version-header", required=True)
    manifest.add_argument("exe")
    args = parser.parse_args(argv)
    try:
        failures = check_imports(args) if args.command == "imports" else check_manifest(args)
    except (PeError, OSError, ET.ParseError, KeyError, struct.error) as e:
        failures = ["%s" % e]
    for failure in failures:
        print("FAIL " + failure)
    print("pe_check %s: %s" % (args.command, "%d failures" % len(failures) if failures else "all checks passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
