#!/usr/bin/python3
"""Static check of a built Windows program, without Wine: a console PE of the expected
architecture, importing system DLLs only, smaller than 64 KiB, with a version resource
that carries the project version.

    check_pe.py ARCH EXE [ARCH EXE ...]      ARCH: i386 or x86-64

The version expected is the one the build was configured with (CMakeCache.txt beside
the program)."""
import os
import struct
import sys

# machine, optional-header magic, the name `file` gives the format
ARCHES = {"i386": (0x14C, 0x10B, "PE32"), "x86-64": (0x8664, 0x20B, "PE32+")}
CONSOLE = 3  # IMAGE_SUBSYSTEM_WINDOWS_CUI
SIZE_LIMIT = 64 * 1024
# DLLs every Windows installation has; anything else would have to ship beside the program.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll", "ntdll.dll"}
RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD


class PeError(Exception):
    pass


class Pe:
    """The parts of a PE file the check reads."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = self.u16(optional)
        if self.magic not in (0x10B, 0x20B):
            raise PeError("unknown optional header magic 0x%x" % self.magic)
        self.subsystem = self.u16(optional + 68)
        directories = optional + (96 if self.magic == 0x10B else 112)
        count = self.u32(directories - 4)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(sections)]

    def u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw + rva - address
        raise PeError("address 0x%x is in no section" % rva)

    def cstring(self, offset):
        return self.data[offset:self.data.index(b"\0", offset)].decode("ascii")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imports(self):
        """The names of the DLLs the program imports from."""
        rva, _ = self.directory(1)
        names = []
        if rva == 0:
            return names
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunk = struct.unpack_from("<IIIII", self.data, at)
            if (lookup, name, thunk) == (0, 0, 0):
                return names
            names.append(self.cstring(self.offset(name)))
            at += 20

    def version_resource(self):
        """The bytes of the first RT_VERSION resource, or None."""
        rva, _ = self.directory(2)
        if rva == 0:
            return None
        root = self.offset(rva)

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            return [struct.unpack_from("<II", self.data, at + 16 + 8 * i) for i in range(named + ids)]

        for ident, target in entries(root):
            if ident == RT_VERSION and target & 0x80000000:
                at = root + (target & 0x7FFFFFFF)
                while True:  # name, then language: the first of each
                    first = entries(at)
                    if not first:
                        return None
                    target = first[0][1]
                    if not target & 0x80000000:
                        break
                    at = root + (target & 0x7FFFFFFF)
                data_rva, size = struct.unpack_from("<II", self.data, root + target)
                start = self.offset(data_rva)
                return self.data[start:start + size]
        return None


def version_blocks(data, at=0, end=None):
    """Walks a VS_VERSIONINFO tree: yields (key, value bytes, is_text) for every node."""
    end = len(data) if end is None else end
    while at + 6 <= end:
        length, value_length, text = struct.unpack_from("<HHH", data, at)
        if length == 0:
            return
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if text else value_length
        yield key, data[value_at:value_at + value_size], text
        children = (value_at + value_size + 3) & ~3
        yield from version_blocks(data, children, at + length)
        at = (at + length + 3) & ~3


def check_version(resource, version):
    """Problems with the version resource, for `version` as "major.minor.patch"."""
    if resource is None:
        return ["no version resource"]
    problems = []
    nodes = list(version_blocks(resource))
    if not nodes or nodes[0][0] != "VS_VERSION_INFO":
        return ["version resource without VS_VERSION_INFO"]
    fixed = nodes[0][1]
    if len(fixed) < 52 or struct.unpack_from("<I", fixed)[0] != FIXED_SIGNATURE:
        return ["version resource without its fixed part"]
    parts = [int(p) for p in version.split(".")] + [0, 0, 0]
    want = ((parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3])
    file_version = struct.unpack_from("<II", fixed, 8)
    product_version = struct.unpack_from("<II", fixed, 16)
    for name, got in (("file", file_version), ("product", product_version)):
        if got != want:
            problems.append("%s version %d.%d.%d.%d, want %s" % (
                name, got[0] >> 16, got[0] & 0xFFFF, got[1] >> 16, got[1] & 0xFFFF, version))
    strings = {key: value.decode("utf-16-le").rstrip("\0") for key, value, text in nodes[1:] if text}
    for key in ("FileVersion", "ProductVersion"):
        if strings.get(key) != version:
            problems.append("%s is %r, want %r" % (key, strings.get(key), version))
    if not strings.get("FileDescription"):
        problems.append("no FileDescription")
    return problems


def check(data, arch, version):
    """Every problem with the program `data` built for `arch`; empty when it passes."""
    machine, magic, kind = ARCHES[arch]
    try:
        pe = Pe(data)
        problems = []
        if pe.machine != machine or pe.magic != magic:
            problems.append("not %s %s: machine 0x%x, magic 0x%x" % (kind, arch, pe.machine, pe.magic))
        if pe.subsystem != CONSOLE:
            problems.append("subsystem %d, not a console program" % pe.subsystem)
        foreign = [name for name in pe.imports() if name.lower() not in SYSTEM_DLLS]
        if foreign:
            problems.append("imports DLLs that are not the system's: " + ", ".join(foreign))
        if len(data) >= SIZE_LIMIT:
            problems.append("%d bytes, the limit is %d" % (len(data), SIZE_LIMIT))
        problems += check_version(pe.version_resource(), version)
        return problems
    except (PeError, struct.error, ValueError, UnicodeDecodeError) as e:
        return ["not a readable PE file: %s" % e]


def configured_version(build_dir):
    with open(os.path.join(build_dir, "CMakeCache.txt")) as cache:
        for line in cache:
            if line.startswith("CMAKE_PROJECT_VERSION:"):
                return line.strip().split("=", 1)[1]
    raise SystemExit("no CMAKE_PROJECT_VERSION in %s/CMakeCache.txt" % build_dir)


def main(args):
    if not args or len(args) % 2 or any(a not in ARCHES for a in args[::2]):
        print(__doc__, file=sys.stderr)
        return 2
    failed = False
    for arch, path in zip(args[::2], args[1::2]):
        with open(path, "rb") as f:
            data = f.read()
        problems = check(data, arch, configured_version(os.path.dirname(os.path.abspath(path))))
        kind = ARCHES[arch][2]
        if problems:
            failed = True
            for p in problems:
                print("FAIL %s: %s" % (path, p))
        else:
            print("ok   %s: %s %s console program, system DLLs only, %d bytes, version resource"
                  % (path, kind, arch, len(data)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
