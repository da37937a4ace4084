#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's throwaway prefix.
# WINEPREFIX may be set by the caller; otherwise the prefix lies beside the
# program's build folder. The prefix is created on first use.
set -euo pipefail
prog=$1; shift
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(dirname "$(realpath "$prog")")
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ "$dir" = / ] && dir=$(dirname "$(realpath "$prog")")
  export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX"
fi
exec wine "$prog" "$@"
