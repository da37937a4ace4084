#!/usr/bin/env bash
# The MSI package as deployment tools use it: built with wixl, installed
# silently with msiexec, the service registered as -install registers it and
# running, supervising the agent; a package of a later version installed over
# it leaves one service, running, with the new executable; the uninstallation
# leaves no service, no event source, no file and no folder.
#   msi.sh WATCHDOG_EXE FIXTURE_DIR PREFIX NEXT_EXE VERSION NEXT_VERSION WXS
set -euo pipefail
if ! command -v wixl >/dev/null; then
  echo "wixl is missing (Debian package wixl): package not tried"
  exit 77
fi
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
readonly kNextExe=$(realpath "$4") kVersion=$5 kNextVersion=$6 kWxs=$(realpath "$7")
e2e_begin msi "$1" "$2" "$3"

readonly kCycle=10
readonly kOneCycle=$((kCycle + 8))
readonly kRecovery=$((2 * kCycle + 1 + 15))
readonly kFolderWin='C:\Program Files\QUENTAR Agent Monitor'
readonly kInstalledWin="$kFolderWin\\didurozir.exe"
readonly kSourceKey='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\didurozir'

# package VERSION EXE: builds the MSI of EXE as VERSION; prints its Unix path.
package() {
  local stage="$E2E_WORK/stage-$1"
  mkdir -p "$stage"
  cp "$2" "$stage/didurozir.exe"
  cp "$(dirname "$E2E_WATCHDOG")/didurozir-messages.dll" "$stage/"
  (cd "$stage" && wixl -a x64 -D Version="$1" -o "didurozir-$1-x64.msi" "$kWxs") \
    >"$stage/wixl.log" 2>&1 || e2e_fail "wixl: $(cat "$stage/wixl.log")"
  printf '%s/didurozir-%s-x64.msi' "$stage" "$1"
}

# msiexec_run NAME ARGS...: msiexec silently with a verbose log in
# $E2E_WORK/NAME.log; fails the scenario unless it succeeds.
msiexec_run() {
  local name=$1
  shift
  local rc=0
  wine msiexec "$@" /qn /l*v "Z:$E2E_WORK/$name.log" </dev/null >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 0 ] || e2e_fail "msiexec $name exited with $rc; log: $(tr -d '\r\0' <"$E2E_WORK/$name.log" | tail -30)"
  e2e_log "ok: msiexec $name"
}

# The registration without the state (and what it accepts) and the path;
# the source's values.
registration() { service_query | grep -vE '^(STATE|CONTROLS_ACCEPTED|BINARY_PATH_NAME) : '; }
source_values() {
  win reg query "$kSourceKey" | tr -d '\r' | grep -E 'EventMessageFile|TypesSupported' |
    sed 's/  */ /g; s/^ //'
}
file_version() { win "$E2E_FIXTURES/e2e_file_version.exe" "$1" | tr -d '\r' | head -1; }

register_agent "$(free_port)"
configure_agent '{"listening_ports": "4901,4902", "ssl_port": 4903}'
msi=$(package "$kVersion" "$E2E_WATCHDOG")
next_msi=$(package "$kNextVersion" "$kNextExe")

e2e_log "--- what -install registers, for comparison"
watchdog install -install
check_output install 0 'Install: [didurozir] Success\r\n'
expected_registration=$(registration)
expected_source=$(source_values | sed 's|C:\\Program Files\\QUENTAR\\|<folder>\\|')
watchdog uninstall -uninstall
check_output uninstall 0 'Uninstall: [didurozir] Success\r\n'
wait_until 10 "the service to go" service_missing

e2e_log "--- msiexec /i $(basename "$msi")"
msiexec_run install /i "Z:$msi"
wait_until 20 "the service running" service_state_is 4
check_eq "$(registration)" "$expected_registration" "registration besides state and path"
check_eq "$(service_field BINARY_PATH_NAME)" "\"$kInstalledWin\"" "binary path"
check_eq "$(source_values | sed 's|C:\\Program Files\\QUENTAR Agent Monitor\\|<folder>\\|')" \
  "$expected_source" "event source values"
check_eq "$(file_version "$kInstalledWin")" "$kVersion.0" "file version"
grep -qa "RegisterService" "$E2E_WORK/install.log" ||
  e2e_fail "the registration's custom action did not run"

e2e_log "--- it supervises the agent"
# One cycle more than needed: cmd now and then loses a command (exit 9009).
wait_until $((kOneCycle + kCycle)) "agent start" agent_started_times 1
agent=$(last_agent_pid)
win taskkill /F /pid "$agent" >/dev/null
wait_until 5 "agent $agent gone" pid_gone "$agent"
wait_until $((kRecovery + kCycle)) "agent restart" agent_started_times 2

e2e_log "--- msiexec /i $(basename "$next_msi"): the upgrade"
msiexec_run upgrade /i "Z:$next_msi"
wait_until 20 "the service running" service_state_is 4
check_eq "$(registration)" "$expected_registration" "registration after the upgrade"
check_eq "$(file_version "$kInstalledWin")" "$kNextVersion.0" "file version after the upgrade"
check_eq "$(image_pids didurozir.exe | wc -l)" 1 "didurozir.exe processes"
check_eq "$(win reg query 'HKLM\SYSTEM\CurrentControlSet\Services' | tr -d '\r' |
  grep -ci 'didurozir$')" 1 "services named didurozir"

e2e_log "--- msiexec /x: nothing left"
msiexec_run uninstall /x "Z:$next_msi"
wait_until 10 "the service to go" service_missing
wait_until 10 "didurozir.exe ended" image_gone didurozir.exe
win reg query "$kSourceKey" >/dev/null 2>&1 && e2e_fail "the event source's key is left"
[ ! -e "$(c_path "$kFolderWin")" ] || e2e_fail "left behind: $(ls -la "$(c_path "$kFolderWin")")"
e2e_log "ok: no service, no event source, no folder"
pid_alive "$(last_agent_pid)" || e2e_fail "the uninstallation ended the agent"

e2e_pass
