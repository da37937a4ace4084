#!/usr/bin/env bash
# The package as make dist builds it (scripts/package.sh) from this build's
# executable and message DLL passes the check of its tables
# (scripts/msi_tables.py); each fault that the check exists for, made by hand
# in a copy with msibuild, fails it.
#   package_tables.sh SOURCE_DIR EXE DLL VERSION WORK_DIR
set -euo pipefail
for tool in wixl msibuild msiinfo python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (scripts/setup.sh installs it): package not checked"
    exit 77
  fi
done
readonly kSource=$(realpath -e "$1") kVersion=$4 kWork=$5
rm -rf "$kWork"
mkdir -p "$kWork/stage"
cp "$2" "$3" "$kWork/stage/"
cd "$kWork"
"$kSource/scripts/package.sh" stage "$kVersion" package.msi
echo "ok: the built package passes"

failures=0
# Each: what the fault is, then the SQL queries that make it.
while IFS='|' read -r what rest; do
  IFS='|' read -ra queries <<<"$rest"
  cp package.msi faulty.msi
  for query in "${queries[@]}"; do msibuild faulty.msi -q "${query//@VERSION@/$kVersion}"; done
  rc=0
  python3 "$kSource/scripts/msi_tables.py" faulty.msi 2>faulty.log || rc=$?
  if [ "$rc" -eq 1 ]; then
    echo "ok: $what: $(head -1 faulty.log | sed 's/^[^:]*: [^:]*: //')"
  else
    echo "FAIL: $what: the check exited with $rc"
    failures=$((failures + 1))
  fi
done <<'FAULTS'
a rollback action written as immediate, as wixl writes it|UPDATE CustomAction SET Type=2130 WHERE Action='StartServiceOnRollback'
a rollback action impersonated|UPDATE CustomAction SET Type=1362 WHERE Action='UnregisterServiceOnRollback'
a checked action whose failure is ignored|UPDATE CustomAction SET Type=3154 WHERE Action='UnregisterService'
a partner scheduled after its change|UPDATE InstallExecuteSequence SET Sequence=4003 WHERE Action='RestoreServiceOnRollback'
a deferred action after InstallFinalize|UPDATE InstallExecuteSequence SET Sequence=6700 WHERE Action='RegisterService'
the earlier version removed before the transaction|UPDATE InstallExecuteSequence SET Sequence=1401 WHERE Action='RemoveExistingProducts'
the removal's own actions in a removal by an upgrade|UPDATE InstallExecuteSequence SET Condition='$Executable=2' WHERE Action='UnregisterService'
a partner missing from one kind of run|UPDATE InstallExecuteSequence SET Condition='$Executable=3 AND Installed' WHERE Action='RestoreServiceOnRollback'
earlier versions only detected, never removed|DELETE FROM Upgrade WHERE ActionProperty='WIX_UPGRADE_DETECTED'|INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Language, Attributes, Remove, ActionProperty) VALUES ('{22A94D7D-CFE1-4884-805A-950169957667}', '', '@VERSION@', '', 3, '', 'WIX_UPGRADE_DETECTED')
FAULTS
[ "$failures" -eq 0 ] || { echo "$failures fault(s) passed the check"; exit 1; }
