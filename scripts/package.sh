#!/usr/bin/env bash
# Builds the MSI package from packaging/didurozir.wxs: wixl, then the custom
# actions' execution bits that wixl drops (scripts/msi_execution_bits.py),
# then the check of the built tables (scripts/msi_tables.py). A package whose
# tables fail the check is removed, so that nothing can ship it.
#   package.sh STAGE_DIR VERSION OUTPUT_MSI
# STAGE_DIR holds didurozir.exe and didurozir-messages.dll.
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: package.sh STAGE_DIR VERSION OUTPUT_MSI" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
output=$(realpath -m "$3")
rm -f "$output"
(cd "$1" && wixl -a x64 -D Version="$2" -o "$output" "$root/packaging/didurozir.wxs")
python3 "$root/scripts/msi_execution_bits.py" "$root/packaging/didurozir.wxs" "$output" &&
  python3 "$root/scripts/msi_tables.py" "$output" || {
  rm -f "$output"
  echo "package: $(basename "$output") not built" >&2
  exit 1
}
