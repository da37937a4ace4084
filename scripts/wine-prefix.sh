#!/usr/bin/env bash
# Creates a throwaway Wine prefix (once) and keeps its wineserver alive for the
# test run, so each test process starts in well under a tenth of a second.
#   wine-prefix.sh PREFIX          create the prefix if needed
#   wine-prefix.sh PREFIX --serve  create, then start a persistent wineserver
#   wine-prefix.sh PREFIX --stop   end the prefix's wineserver and its processes
set -euo pipefail
export WINEPREFIX=$(realpath -m "$1")
export WINEDEBUG=-all
export WINEDLLOVERRIDES=mscoree,mshtml=
mode=${2:-}
if [ "$mode" = --stop ]; then
  wineserver -k 2>/dev/null || true
  exit 0
fi
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
fi
if [ "$mode" = --serve ]; then
  (wineserver -p -f >/dev/null 2>&1 9>&- &)
  # Wait until the server answers.
  for _ in $(seq 50); do wine cmd /c exit 0 >/dev/null 2>&1 && break; sleep 0.1; done
fi
