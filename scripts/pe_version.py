#!/usr/bin/env python3
"""Prints the file version of a Windows executable (VS_FIXEDFILEINFO of its
first VERSIONINFO resource) as a.b.c.d, read from the PE file itself.

  pe_version.py EXE               prints the version
  pe_version.py EXE --expect X.Y.Z
                                  exits 1, saying why, unless the file version
                                  is X.Y.Z.0
Exit code 2 when the file has no readable version resource."""
import struct
import sys

RT_VERSION = 16
FIXED_SIGNATURE = 0xFEEF04BD


class NoVersion(Exception):
    pass


def _u16(data, at):
    return struct.unpack_from("<H", data, at)[0]


def _u32(data, at):
    return struct.unpack_from("<I", data, at)[0]


def _sections(data):
    if data[:2] != b"MZ":
        raise NoVersion("not an MZ executable")
    pe = _u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise NoVersion("no PE header")
    count = _u16(data, pe + 6)
    optional_size = _u16(data, pe + 20)
    optional = pe + 24
    magic = _u16(data, optional)
    directories = optional + (112 if magic == 0x20B else 96)
    resource_rva = _u32(data, directories + 2 * 8)
    table = optional + optional_size
    sections = []
    for i in range(count):
        at = table + 40 * i
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
        sections.append((rva, max(size, raw_size), raw))
    return resource_rva, sections


def _offset(sections, rva):
    for start, size, raw in sections:
        if start <= rva < start + size:
            return raw + rva - start
    raise NoVersion("address 0x%x is in no section" % rva)


def _entries(data, base, directory):
    named, numbered = struct.unpack_from("<HH", data, directory + 12)
    for i in range(named + numbered):
        name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
        yield name, target


def _first(data, base, directory, wanted=None):
    for name, target in _entries(data, base, directory):
        if wanted is None or name == wanted:
            return target
    raise NoVersion("no version resource")


def file_version(data):
    resource_rva, sections = _sections(data)
    if resource_rva == 0:
        raise NoVersion("no resource section")
    base = _offset(sections, resource_rva)
    # Type, then name, then language: each level a directory, subdirectory
    # entries marked by the high bit.
    target = _first(data, base, base, RT_VERSION)
    for _ in range(2):
        if not target & 0x80000000:
            raise NoVersion("malformed resource directory")
        target = _first(data, base, base + (target & 0x7FFFFFFF))
    if target & 0x80000000:
        raise NoVersion("malformed resource directory")
    data_rva, size = struct.unpack_from("<II", data, base + target)
    start = _offset(sections, data_rva)
    block = data[start:start + size]
    at = block.find(struct.pack("<I", FIXED_SIGNATURE))
    if at < 0:
        raise NoVersion("no VS_FIXEDFILEINFO")
    ms, ls = struct.unpack_from("<II", block, at + 8)
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def main(argv):
    if len(argv) not in (2, 4) or (len(argv) == 4 and argv[2] != "--expect"):
        sys.stderr.write(__doc__)
        return 2
    path = argv[1]
    try:
        with open(path, "rb") as f:
            version = file_version(f.read())
    except (OSError, NoVersion, struct.error) as error:
        sys.stderr.write("%s: no file version: %s\n" % (path, error))
        return 2
    if len(argv) == 2:
        print(version)
        return 0
    expected = argv[3] + ".0"
    if version != expected:
        sys.stderr.write("%s: file version %s, expected %s\n" %
                         (path, version, expected))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
