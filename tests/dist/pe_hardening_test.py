#!/usr/bin/env python3
"""The release's hardening check (scripts/pe_hardening.py) passes this build's
executable and names each fault made by hand in a copy of it, and in an
executable built without a stack protector.

  pe_hardening_test.py SOURCE_DIR EXE UNPROTECTED_EXE"""
import os
import struct
import sys

sys.path.insert(0, os.path.join(sys.argv[1], "scripts"))
import pe_hardening  # noqa: E402


def header(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return pe + 24  # the optional header


def clear_dll_characteristic(bit):
    def mutate(data):
        at = header(data) + 70
        struct.pack_into("<H", data, at, struct.unpack_from("<H", data, at)[0] & ~bit)
    return mutate


def writable_text(data):
    image = pe_hardening.Image(bytes(data))
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    for i, section in enumerate(image.sections):
        if section[0] == ".text":
            at = header(data) + optional_size + 40 * i + 36
            struct.pack_into("<I", data, at, section[5] | pe_hardening.MEM_WRITE)


def no_relocations(data):
    at = header(data) + 112 + 8 * pe_hardening.BASE_RELOCATION_DIRECTORY + 4
    struct.pack_into("<I", data, at, 0)


def no_symbols(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    struct.pack_into("<II", data, pe + 12, 0, 0)


CASES = [
    ("no dynamic base", clear_dll_characteristic(pe_hardening.DYNAMIC_BASE),
     "no dynamic base"),
    ("no high-entropy VA", clear_dll_characteristic(pe_hardening.HIGH_ENTROPY_VA),
     "no high-entropy"),
    ("not NX-compatible", clear_dll_characteristic(pe_hardening.NX_COMPAT),
     "not NX-compatible"),
    ("relocations dropped", no_relocations, "no base relocations"),
    ("a writable .text", writable_text, "section .text is both writable"),
    ("stripped", no_symbols, "is not there (or the file is stripped)"),
]


def main():
    failures = 0
    with open(sys.argv[2], "rb") as f:
        built = f.read()
    found = pe_hardening.problems(pe_hardening.Image(built))
    print("%s: the built executable: %s" % ("FAIL" if found else "ok",
                                             "; ".join(found) or "hardened"))
    failures += bool(found)
    for what, mutate, expected in CASES:
        data = bytearray(built)
        mutate(data)
        found = pe_hardening.problems(pe_hardening.Image(bytes(data)))
        hit = [problem for problem in found if expected in problem]
        print("%s: %s: %s" % ("ok" if hit and len(found) == 1 else "FAIL", what,
                              "; ".join(found) or "passed the check"))
        failures += not (hit and len(found) == 1)
    with open(sys.argv[3], "rb") as f:
        found = pe_hardening.problems(pe_hardening.Image(f.read()))
    hit = any("no stack protection" in problem for problem in found)
    print("%s: built without a stack protector: %s" %
          ("ok" if hit else "FAIL", "; ".join(found) or "passed the check"))
    failures += not hit
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
