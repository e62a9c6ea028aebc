#!/usr/bin/python3
"""Shows that the static check fails on each fault it is there for, by damaging copies
of the real programs one way at a time.

    check_pe_test.py EXE32 EXE64"""
import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_pe  # noqa: E402

PROGRAMS = {}  # arch: (bytes, configured version), filled in by main()


def replace_once(data, old, new):
    assert len(old) == len(new) and data.count(old) >= 1, old
    return data.replace(old, new, 1)


class CheckPeTest(unittest.TestCase):
    def each(self):
        for arch, (data, version) in PROGRAMS.items():
            with self.subTest(arch=arch):
                yield arch, bytearray(data), version

    def assertFails(self, data, arch, version, words):
        problems = check_pe.check(bytes(data), arch, version)
        self.assertTrue(any(words in p for p in problems), "%r not in %r" % (words, problems))

    def test_the_programs_as_built_pass(self):
        for arch, data, version in self.each():
            self.assertEqual(check_pe.check(bytes(data), arch, version), [])

    def test_the_other_architecture_fails(self):
        for arch, data, version in self.each():
            other = "x86-64" if arch == "i386" else "i386"
            self.assertFails(data, other, version, "not PE32")

    def test_a_gui_program_fails(self):
        for arch, data, version in self.each():
            pe = struct.unpack_from("<I", data, 0x3C)[0]
            struct.pack_into("<H", data, pe + 24 + 68, 2)  # IMAGE_SUBSYSTEM_WINDOWS_GUI
            self.assertFails(data, arch, version, "not a console program")

    def test_a_runtime_dll_beside_the_program_fails(self):
        for arch, data, version in self.each():
            data = replace_once(bytes(data), b"msvcrt.dll\0", b"libgcc.dll\0")
            self.assertFails(data, arch, version, "libgcc.dll")

    def test_64_kib_fails(self):
        for arch, data, version in self.each():
            data += bytes(check_pe.SIZE_LIMIT - len(data))
            self.assertFails(data, arch, version, "the limit is 65536")

    def test_another_version_fails(self):
        for arch, data, version in self.each():
            self.assertFails(data, arch, version + ".1", "file version")
            text = version.encode("utf-16-le")
            renamed = replace_once(bytes(data), "FileVersion".encode("utf-16-le"),
                                   "FileVersio_".encode("utf-16-le"))
            self.assertFails(renamed, arch, version, "FileVersion")
            other = ("9" * len(version)).encode("utf-16-le")
            self.assertFails(bytes(data).replace(text, other), arch, version, "ProductVersion")

    def test_no_version_resource_fails(self):
        for arch, data, version in self.each():
            pe = check_pe.Pe(bytes(data))
            at = struct.unpack_from("<I", data, 0x3C)[0] + 24 + (96 if pe.magic == 0x10B else 112)
            struct.pack_into("<II", data, at + 8 * 2, 0, 0)  # the resource directory
            self.assertFails(data, arch, version, "no version resource")

    def test_not_a_program_fails(self):
        for arch, data, version in self.each():
            self.assertFails(data[:200], arch, version, "not a readable PE file")
            self.assertFails(b"\x7fELF" + data[4:], arch, version, "no MZ header")


def main():
    paths = dict(zip(("i386", "x86-64"), sys.argv[1:3]))
    if len(paths) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    for arch, path in paths.items():
        with open(path, "rb") as f:
            PROGRAMS[arch] = (f.read(), check_pe.configured_version(os.path.dirname(os.path.abspath(path))))
    result = unittest.main(argv=[sys.argv[0]], exit=False, verbosity=1).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
