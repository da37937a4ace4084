#!/usr/bin/env python3
"""Checks that a 64-bit Windows executable carries the hardening that the
release promises, read from the PE file itself:

- ASLR: the image asks for a dynamic base and a high-entropy (64-bit) address
  space, and keeps its base relocations, without which the loader could not
  move it;
- DEP: the image is marked NX-compatible;
- no section is both writable and executable;
- stack protection: the code calls __stack_chk_fail, which only functions
  compiled with a stack protector do. This needs the COFF symbol table, so
  check the executable before it is stripped.

  pe_hardening.py EXE   exit 0 when all hold; 1, naming each one missing,
                        when one does not; 2 when EXE is no readable PE file.
"""
import struct
import sys

HIGH_ENTROPY_VA = 0x0020
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
RELOCS_STRIPPED = 0x0001
MEM_EXECUTE = 0x20000000
MEM_WRITE = 0x80000000
PE32_PLUS = 0x20B
BASE_RELOCATION_DIRECTORY = 5
CALL_REL32 = 0xE8


class NotPe(Exception):
    pass


class Image:
    """The parts of a PE file that the checks read."""

    def __init__(self, data):
        if data[:2] != b"MZ":
            raise NotPe("not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotPe("no PE header")
        (_, count, _, self.symbol_table, self.symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        if self.magic != PE32_PLUS:
            raise NotPe("not a 64-bit image")
        self.dll_characteristics = struct.unpack_from("<H", data,
                                                      optional + 70)[0]
        directories = optional + 112
        self.relocations_size = struct.unpack_from(
            "<I", data, directories + 8 * BASE_RELOCATION_DIRECTORY + 4)[0]
        self.sections = []
        for i in range(count):
            at = optional + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            flags = struct.unpack_from("<I", data, at + 36)[0]
            self.sections.append((name, rva, max(size, raw_size), raw, raw_size,
                                  flags))
        self.data = data

    def symbol_rva(self, wanted):
        """The address of the symbol `wanted`, or None when the symbol table
        lacks it (or the file has none)."""
        if self.symbol_table == 0:
            return None
        strings = self.symbol_table + 18 * self.symbol_count
        index = 0
        while index < self.symbol_count:
            at = self.symbol_table + 18 * index
            raw_name, value, section, _, _, aux = struct.unpack_from(
                "<8sIhHBB", self.data, at)
            if raw_name[:4] == b"\0\0\0\0":
                offset = strings + struct.unpack_from("<I", raw_name, 4)[0]
                name = self.data[offset:self.data.index(b"\0", offset)]
            else:
                name = raw_name.rstrip(b"\0")
            if name == wanted.encode() and 0 < section <= len(self.sections):
                return self.sections[section - 1][1] + value
            index += 1 + aux
        return None

    def calls_to(self, target):
        """How many call instructions with a 32-bit displacement in the
        executable sections lead to the address `target`."""
        calls = 0
        for _, rva, _, raw, raw_size, flags in self.sections:
            if not flags & MEM_EXECUTE:
                continue
            code = self.data[raw:raw + raw_size]
            at = code.find(CALL_REL32)
            while 0 <= at <= len(code) - 5:
                displacement = struct.unpack_from("<i", code, at + 1)[0]
                if rva + at + 5 + displacement == target:
                    calls += 1
                at = code.find(CALL_REL32, at + 1)
        return calls


def problems(image):
    found = []
    if not image.dll_characteristics & DYNAMIC_BASE:
        found.append("no dynamic base (ASLR)")
    if not image.dll_characteristics & HIGH_ENTROPY_VA:
        found.append("no high-entropy address space (64-bit ASLR)")
    if (image.characteristics & RELOCS_STRIPPED or
            image.relocations_size == 0):
        found.append("no base relocations: the image can't be moved")
    if not image.dll_characteristics & NX_COMPAT:
        found.append("not NX-compatible (DEP)")
    for name, _, _, _, _, flags in image.sections:
        if flags & MEM_WRITE and flags & MEM_EXECUTE:
            found.append("section %s is both writable and executable" % name)
    guard_failure = image.symbol_rva("__stack_chk_fail")
    if guard_failure is None:
        found.append("no stack protection: __stack_chk_fail is not there "
                     "(or the file is stripped)")
    elif image.calls_to(guard_failure) == 0:
        found.append("no stack protection: nothing calls __stack_chk_fail")
    return found


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    try:
        with open(argv[1], "rb") as f:
            image = Image(f.read())
    except (OSError, NotPe, struct.error, ValueError) as error:
        sys.stderr.write("%s: not a readable PE file: %s\n" % (argv[1], error))
        return 2
    found = problems(image)
    for problem in found:
        sys.stderr.write("%s: %s\n" % (argv[1], problem))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
