#!/usr/bin/env bash
# What the watchdog hands to ReportEventW, read from Wine's traces: Wine keeps
# no Event Log, but prints every call's type, category and event ID on
# fixme:advapi and each insert on the channel "eventlog" (warn: for a
# warning). Runs the EventLogTrace cases of the event log test with those
# channels on, and checks
#   - the event ID passed as the ID, with category 0 (an alert on 2000 must
#     fire; an ID passed as the category goes unnoticed by the unit tests),
#     and the type of its level (an error shown as a warning is overlooked);
#   - an image name as its UTF-16 (b, U+00E5, r), not bytes of a code page;
#   - an insert longer than 255 characters kept whole.
#   event_log_trace.sh WINE_RUN TEST_EXE
set -euo pipefail
wine_run=$1
test_exe=$2
trace=$(mktemp)
trap 'rm -f "$trace"' EXIT

WINEDEBUG=-all,+eventlog,fixme+advapi "$wine_run" "$test_exe" \
  --gtest_filter='EventLogTrace.*' >/dev/null 2>"$trace"

failed=0
expect() {  # what LINE
  if ! grep -qF -- "$2" "$trace"; then
    echo "FAIL: $1: no trace line holds: $2"
    failed=1
  fi
}
expect "warning 2000, category 0, five inserts" \
  ',0x0002,0x0000,0x000007d0,0000000000000000,0x0005,'
expect "error 4000, two inserts" \
  ',0x0001,0x0000,0x00000fa0,0000000000000000,0x0002,'
expect "information 1010, no insert" \
  ',0x0004,0x0000,0x000003f2,0000000000000000,0x0000,'
expect "the image name in UTF-16" \
  'warn:eventlog:ReportEventW L"PID 344 (b\00e5r.exe, port 4045)"'
expect "an insert of 278 characters whole" \
  "warn:eventlog:ReportEventW L\"$(printf 'a%.0s' {1..255})<beyond 255 characters>\""
if [ "$failed" -ne 0 ]; then
  echo "--- the trace:"
  cut -c1-400 "$trace"
  exit 1
fi
echo "ok: ID, type, UTF-16 image name and long insert reached ReportEventW"
