#!/usr/bin/env python3
"""Checks a built MSI package's tables against what docs/package.md promises:
what Windows Installer will execute, whatever the package's source said.
Nothing here runs Windows Installer's own validation (ICE), so this checks the
rules that matter for the service:

- each custom action's type bits are those of its intent (a rollback action
  is in-script, rollback, not impersonated, its exit code ignored; ...), its
  source the installed executable and its command line the switch;
- every in-script action stands between InstallInitialize and
  InstallFinalize;
- RemoveExistingProducts stands right after InstallExecute, before
  InstallFinalize (ICE63): the earlier version's removal is part of this
  installation's transaction, and the Upgrade row it acts on removes the
  earlier versions;
- in each kind of run (conditions evaluated as Windows Installer evaluates
  them), exactly the expected custom actions run, and every action that
  changes the service has each of its rollback partners scheduled before it.

  msi_tables.py MSI   exit 0 when every rule holds; 1, naming each rule
                      broken, when one does not; 2 when the package can't be
                      read."""
import re
import subprocess
import sys

EXE_FROM_INSTALLED_FILE = 18
CONTINUE = 0x40
ROLLBACK = 0x100
IN_SCRIPT = 0x400
NO_IMPERSONATE = 0x800

EXECUTABLE = "didurozir.exe"  # the File row of the executable

# Every custom action: its switch, how it runs, and whether a failure fails
# the run.
DEFERRED_CHECKED = IN_SCRIPT | NO_IMPERSONATE
DEFERRED_IGNORED = IN_SCRIPT | NO_IMPERSONATE | CONTINUE
ROLLBACK_IGNORED = IN_SCRIPT | ROLLBACK | NO_IMPERSONATE | CONTINUE
ACTIONS = {
    "RegisterService": ("-packageInstall", DEFERRED_CHECKED),
    "UnregisterServiceOnRollback": ("-packageUndoInstall", ROLLBACK_IGNORED),
    "StopServiceForUpgrade": ("-packageStop", DEFERRED_IGNORED),
    "RestoreServiceOnRollback": ("-packageInstall", ROLLBACK_IGNORED),
    "StartServiceOnRollback": ("-start", ROLLBACK_IGNORED),
    "UnregisterService": ("-packageUninstall", DEFERRED_CHECKED),
    "StopServiceForRemoval": ("-packageStop", DEFERRED_CHECKED),
    "ReinstallServiceOnRollback": ("-packageInstall", ROLLBACK_IGNORED),
    "StartServiceOnRemovalRollback": ("-start", ROLLBACK_IGNORED),
}

# What each change to the service needs on the rollback script before it.
# Standard actions (StopServices, InstallFiles, ...) undo themselves.
PARTNERS = {
    # creates the registration, or rewrites ours
    "RegisterService": {
        "fresh": ["UnregisterServiceOnRollback"],
        "kept": ["RestoreServiceOnRollback"],
    },
    # stops the service
    "StopServiceForUpgrade": {"kept": ["StartServiceOnRollback"]},
    # stops and deletes it
    "UnregisterService": {
        "any": ["ReinstallServiceOnRollback", "StartServiceOnRemovalRollback"]
    },
    # stops it
    "StopServiceForRemoval": {"any": ["StartServiceOnRemovalRollback"]},
}

# The kinds of run: the properties and the executable component's action
# state (3 installed, 2 removed, None: no action) that each has, what
# "fresh" or "kept" it is for the registration, and the custom actions that
# must run, in order.
PRODUCT = "{00000000-0000-0000-0000-000000000001}"
EARLIER = "{00000000-0000-0000-0000-000000000002}"
RUNS = [
    ("fresh installation", {"$Executable": 3}, "fresh",
     ["UnregisterServiceOnRollback", "RegisterService"]),
    ("upgrade", {"$Executable": 3, "WIX_UPGRADE_DETECTED": EARLIER}, "kept",
     ["StartServiceOnRollback", "RestoreServiceOnRollback",
      "StopServiceForUpgrade", "RegisterService"]),
    ("repair", {"$Executable": 3, "Installed": "1", "REINSTALL": "ALL"}, "kept",
     ["StartServiceOnRollback", "RestoreServiceOnRollback",
      "StopServiceForUpgrade", "RegisterService"]),
    ("removal", {"$Executable": 2, "Installed": "1", "REMOVE": "ALL"}, None,
     ["StartServiceOnRemovalRollback", "ReinstallServiceOnRollback",
      "UnregisterService"]),
    # The later version shares the executable's component: it keeps its
    # files, and its action is none.
    ("removal by a later version's upgrade",
     {"$Executable": None, "Installed": "1", "REMOVE": "ALL",
      "UPGRADINGPRODUCTCODE": PRODUCT}, None, []),
    ("removal by a later version's upgrade that does not share the "
     "executable's component",
     {"$Executable": 2, "Installed": "1", "REMOVE": "ALL",
      "UPGRADINGPRODUCTCODE": PRODUCT}, None,
     ["StartServiceOnRemovalRollback", "StopServiceForRemoval"]),
]

class Unreadable(Exception):
    pass


def table(msi, name):
    """The rows of a table as dicts of column name to text."""
    try:
        out = subprocess.run(["msiinfo", "export", msi, name], check=True,
                             capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        raise Unreadable("%s: table %s: %s" % (msi, name, error))
    lines = out.splitlines()
    if len(lines) < 3:
        raise Unreadable("%s: table %s is not there" % (msi, name))
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:]]


# Conditions: the part of Windows Installer's grammar that sequence conditions
# use here (properties, $component action states, integers, strings, NOT, AND,
# OR, comparisons, parentheses). A property without a value is false.
TOKEN = re.compile(r'\s*(?:(\()|(\))|(<>|>=|<=|=|<|>)|"([^"]*)"|(-?\d+)|'
                   r'([$!?&]?[A-Za-z_][A-Za-z0-9_.]*))')


def tokens(text):
    at, out = 0, []
    while at < len(text.rstrip()):
        match = TOKEN.match(text, at)
        if not match:
            raise ValueError("condition %r: unreadable at %d" % (text, at))
        at = match.end()
        out.append(match.groups())
    return out


def evaluate(condition, facts):
    """Whether `condition` holds in a run with `facts`; an empty condition
    always holds."""
    if not condition.strip():
        return True
    items = tokens(condition)
    at = 0

    def peek_word():
        return items[at][5].upper() if at < len(items) and items[at][5] else None

    def value():
        nonlocal at
        item = items[at]
        at += 1
        if item[0]:
            result = expression()
            if at >= len(items) or not items[at][1]:
                raise ValueError("condition %r: ( without )" % condition)
            at += 1
            return result
        if item[3] is not None:
            return item[3]
        if item[4] is not None:
            return int(item[4])
        if item[5]:
            return facts.get(item[5], "")
        raise ValueError("condition %r: unexpected %r" % (condition, item))

    def comparison():
        nonlocal at
        left = value()
        if at < len(items) and items[at][2]:
            operator = items[at][2]
            at += 1
            right = value()
            if left is None or right is None:  # a null action state
                return False
            if isinstance(left, str) != isinstance(right, str):
                left, right = str(left), str(right)
            return {"=": left == right, "<>": left != right, "<": left < right,
                    ">": left > right, "<=": left <= right,
                    ">=": left >= right}[operator]
        return left not in ("", 0, None)

    def negation():
        nonlocal at
        if peek_word() == "NOT":
            at += 1
            return not negation()
        return comparison()

    def conjunction():
        nonlocal at
        result = negation()
        while peek_word() == "AND":
            at += 1
            result = negation() and result
        return result

    def expression():
        nonlocal at
        result = conjunction()
        while peek_word() == "OR":
            at += 1
            result = conjunction() or result
        return result

    result = expression()
    if at != len(items):
        raise ValueError("condition %r: left over at token %d" % (condition, at))
    return result


def check(msi):
    problems = []
    sequence = sorted(table(msi, "InstallExecuteSequence"),
                      key=lambda row: int(row["Sequence"]))
    place = {row["Action"]: int(row["Sequence"]) for row in sequence}
    custom = {row["Action"]: row for row in table(msi, "CustomAction")}

    # The type bits by intent.
    for name, (switch, bits) in ACTIONS.items():
        row = custom.get(name)
        if row is None:
            problems.append("%s is not in the CustomAction table" % name)
            continue
        wanted = EXE_FROM_INSTALLED_FILE | bits
        if int(row["Type"]) != wanted:
            problems.append("%s has type %s, not %d" % (name, row["Type"], wanted))
        if row["Source"] != EXECUTABLE or row["Target"] != switch:
            problems.append("%s runs %s %s, not %s %s" %
                            (name, row["Source"], row["Target"], EXECUTABLE,
                             switch))
        if name not in place:
            problems.append("%s is not scheduled" % name)
    for name in custom:
        if name not in ACTIONS:
            problems.append("%s has no intent here: add it" % name)

    # The in-script window.
    first, last = place.get("InstallInitialize"), place.get("InstallFinalize")
    if first is None or last is None:
        problems.append("InstallInitialize or InstallFinalize is missing")
        return problems
    for name, row in custom.items():
        if int(row["Type"]) & IN_SCRIPT and name in place and not (
                first < place[name] < last):
            problems.append("%s (%d) is in-script but outside %d..%d" %
                            (name, place[name], first, last))

    # The earlier version's removal, inside the transaction.
    order = [row["Action"] for row in sequence]
    if "RemoveExistingProducts" not in place:
        problems.append("RemoveExistingProducts is not scheduled")
    elif order[order.index("RemoveExistingProducts") - 1:][:3] != [
            "InstallExecute", "RemoveExistingProducts", "InstallFinalize"]:
        problems.append("RemoveExistingProducts (%d) does not stand right "
                        "after InstallExecute and before InstallFinalize" %
                        place["RemoveExistingProducts"])
    version = next((row["Value"] for row in table(msi, "Property")
                    if row["Property"] == "ProductVersion"), None)
    earlier = [row for row in table(msi, "Upgrade")
               if row["ActionProperty"] == "WIX_UPGRADE_DETECTED"]
    if len(earlier) != 1:
        problems.append("no single Upgrade row sets WIX_UPGRADE_DETECTED")
    else:
        row = earlier[0]
        attributes = int(row["Attributes"] or 0)
        # 2: only detect (nothing removed); 0x200: VersionMax inclusive.
        if row["VersionMax"] != version or attributes & 0x202:
            problems.append("the Upgrade row for earlier versions (VersionMax "
                            "%s, attributes %d) does not remove every version "
                            "before %s, and only those" %
                            (row["VersionMax"], attributes, version))

    # Each kind of run.
    for run, facts, registration, expected in RUNS:
        try:
            ran = [name for name in order if name in custom and
                   evaluate(sequence[order.index(name)]["Condition"], facts)]
        except ValueError as error:
            problems.append(str(error))
            continue
        if ran != expected:
            problems.append("%s runs %s, not %s" %
                            (run, " ".join(ran) or "nothing",
                             " ".join(expected) or "nothing"))
        for change in ran:
            for partner in PARTNERS.get(change, {}).get(
                    registration, []) + PARTNERS.get(change, {}).get("any", []):
                if partner not in ran or place[partner] > place[change]:
                    problems.append("%s: %s runs without %s scheduled before it"
                                    % (run, change, partner))
                elif not int(custom[partner]["Type"]) & ROLLBACK:
                    problems.append("%s: %s, the partner of %s, is no rollback "
                                    "action" % (run, partner, change))
    return problems


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    try:
        problems = check(argv[1])
    except Unreadable as error:
        sys.stderr.write("msi_tables: %s\n" % error)
        return 2
    for problem in problems:
        sys.stderr.write("msi_tables: %s: %s\n" % (argv[1], problem))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
