#!/usr/bin/env python3
"""Writes into a package built by wixl the execution bits of its custom
actions, as the WiX source asks for them: wixl writes every custom action as
an immediate one, whatever its Execute attribute says.

  msi_execution_bits.py WXS MSI

Each CustomAction element of WXS sets, in the row of the same name in MSI's
CustomAction table, the bits that Execute, Impersonate and Return mean (Windows
Installer's "Custom Action In-Script Execution Options" and "Custom Action
Return Processing Options"); every other bit is kept as wixl wrote it. The
changes are made with msibuild (msitools). Exit code 1 on an attribute value
this script does not know, 2 on unusable arguments."""
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

WIX = "{http://schemas.microsoft.com/wix/2006/wi}"

CONTINUE = 0x40  # the exit code is not checked
ASYNC = 0x80
ROLLBACK = 0x100  # with IN_SCRIPT
COMMIT = 0x200  # with IN_SCRIPT
IN_SCRIPT = 0x400
NO_IMPERSONATE = 0x800  # with IN_SCRIPT: runs as LocalSystem
# What this script decides; the rest of the type is wixl's.
DECIDED = CONTINUE | ASYNC | ROLLBACK | COMMIT | IN_SCRIPT | NO_IMPERSONATE

EXECUTE = {
    "immediate": 0,
    "deferred": IN_SCRIPT,
    "rollback": IN_SCRIPT | ROLLBACK,
    "commit": IN_SCRIPT | COMMIT,
}
RETURN = {"check": 0, "ignore": CONTINUE, "asyncWait": ASYNC,
          "asyncNoWait": ASYNC | CONTINUE}


def wanted_bits(element):
    """The decided bits for one CustomAction element; ValueError when an
    attribute's value is unknown."""
    execute = element.get("Execute", "immediate")
    returns = element.get("Return", "check")
    impersonate = element.get("Impersonate", "yes")
    if execute not in EXECUTE or returns not in RETURN or impersonate not in (
            "yes", "no"):
        raise ValueError("%s: Execute=%r Return=%r Impersonate=%r" %
                         (element.get("Id"), execute, returns, impersonate))
    bits = EXECUTE[execute] | RETURN[returns]
    if impersonate == "no" and bits & IN_SCRIPT:
        bits |= NO_IMPERSONATE
    return bits


def current_types(msi):
    out = subprocess.run(["msiinfo", "export", msi, "CustomAction"],
                         check=True, capture_output=True, text=True).stdout
    types = {}
    for line in out.splitlines()[3:]:
        fields = line.split("\t")
        if len(fields) >= 2:
            types[fields[0]] = int(fields[1])
    return types


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    wxs, msi = argv[1], argv[2]
    types = current_types(msi)
    queries = []
    for element in ElementTree.parse(wxs).iter(WIX + "CustomAction"):
        name = element.get("Id")
        try:
            bits = wanted_bits(element)
        except ValueError as error:
            sys.stderr.write("msi_execution_bits: %s\n" % error)
            return 1
        if name not in types:
            sys.stderr.write("msi_execution_bits: %s is not in the package\n" %
                             name)
            return 1
        wanted = (types[name] & ~DECIDED) | bits
        if wanted != types[name]:
            queries.append("UPDATE CustomAction SET Type=%d WHERE Action='%s'" %
                           (wanted, name))
    for query in queries:
        subprocess.run(["msibuild", msi, "-q", query], check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
