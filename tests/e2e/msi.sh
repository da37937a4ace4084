#!/usr/bin/env bash
# The MSI package as deployment tools use it: built as make dist builds it,
# installed silently with msiexec. A service registered by hand from another
# folder is refused and kept; the installation registers the service as
# -install registers it, running, supervising the agent; a repair and a
# package of a later version installed over it stop the service and wait for
# its process before the files, and leave one service, running (the new
# executable after the upgrade, the earlier version removed after it).
# Which custom actions each run schedules is read from the verbose log: each
# kind of run schedules its rollback partners (Wine runs no rollback custom
# action; docs/package.md and scripts/msi_tables.py). A removal whose stop
# does not finish fails and keeps files and service; the uninstallation then
# leaves no service, no event source, no file and no folder.
#   msi.sh WATCHDOG_EXE FIXTURE_DIR PREFIX NEXT_EXE VERSION NEXT_VERSION PACKAGE_SH
set -euo pipefail
if ! command -v wixl >/dev/null; then
  echo "wixl is missing (Debian package wixl): package not tried"
  exit 77
fi
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
readonly kNextExe=$(realpath "$4") kVersion=$5 kNextVersion=$6 kPackage=$(realpath "$7")
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
  "$kPackage" "$stage" "$1" "$stage/didurozir-$1-x64.msi" \
    >"$stage/package.log" 2>&1 || e2e_fail "package.sh: $(cat "$stage/package.log")"
  printf '%s/didurozir-%s-x64.msi' "$stage" "$1"
}

# msiexec_run NAME ARGS...: msiexec silently with a verbose log in
# $E2E_WORK/NAME.log; fails the scenario unless it succeeds.
msiexec_run() {
  local name=$1
  shift
  local rc=0
  wine msiexec "$@" /qn /norestart /l*v "Z:$E2E_WORK/$name.log" </dev/null >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 0 ] || e2e_fail "msiexec $name exited with $rc; log: $(log_text "$name" | tail -30)"
  e2e_log "ok: msiexec $name"
}

# msiexec_fails NAME ARGS...: the same, for a run that must fail (Windows
# says 1603; Wine 8 says 1627, whose low 8 bits reach the shell: 91).
msiexec_fails() {
  local name=$1
  shift
  local rc=0
  wine msiexec "$@" /qn /norestart /l*v "Z:$E2E_WORK/$name.log" </dev/null >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 67 ] || [ "$rc" -eq 91 ] ||
    e2e_fail "msiexec $name exited with $rc, expected a failure; log: $(log_text "$name" | tail -30)"
  e2e_log "ok: msiexec $name failed as it must"
}

log_text() { tr -d '\r\0' <"$E2E_WORK/$1.log"; }
# The actions a run started, in order, one a line. Wine logs a deferred or
# rollback custom action when its condition holds and it is scheduled; the
# script itself runs inside InstallFinalize, unlogged, and a failed run's
# rollback replays the standard actions after it.
actions_of() { log_text "$1" | sed -n 's/^Action start [0-9:]*: \([A-Za-z_]*\)\.$/\1/p'; }
# check_actions NAME ACTION... : each given action ran ("+Name") or did not
# ("-Name") in run NAME.
check_actions() {
  local name=$1 item ran
  shift
  for item in "$@"; do
    ran=0
    actions_of "$name" | grep -qx "${item#?}" && ran=1
    case "$item" in
      +*) [ "$ran" -eq 1 ] || e2e_fail "$name: ${item#+} did not run; actions: $(actions_of "$name" | tr '\n' ' ')" ;;
      -*) [ "$ran" -eq 0 ] || e2e_fail "$name: ${item#-} ran; actions: $(actions_of "$name" | tr '\n' ' ')" ;;
    esac
  done
  e2e_log "ok: $name's actions: $*"
}
# check_before NAME FIRST SECOND: FIRST started before SECOND in run NAME.
check_before() {
  local first second
  first=$(actions_of "$1" | grep -nx "$2" | head -1 | cut -d: -f1)
  second=$(actions_of "$1" | grep -nx "$3" | head -1 | cut -d: -f1)
  [ -n "$first" ] && [ -n "$second" ] && [ "$first" -lt "$second" ] ||
    e2e_fail "$1: $2 did not run before $3; actions: $(actions_of "$1" | tr '\n' ' ')"
}
service_pid() { image_pids didurozir.exe | head -1; }

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

e2e_log "--- a service registered by hand from another folder: refused, kept"
watchdog install -install
check_output install 0 'Install: [didurozir] Success\r\n'
expected_registration=$(registration)
expected_source=$(source_values | sed 's|C:\\Program Files\\QUENTAR\\|<folder>\\|')
hand_path=$(service_field BINARY_PATH_NAME)
watchdog start -start
check_output start 0 'Start: [didurozir] Success\r\n'
msiexec_fails refused /i "Z:$msi"
check_eq "$(service_field BINARY_PATH_NAME)" "$hand_path" "the hand-made registration's path"
check_eq "$(registration)" "$expected_registration" "the hand-made registration"
check_actions refused +RegisterService +UnregisterServiceOnRollback
e2e_log "the hand-made service's state after the refusal: $(service_field STATE)"
[ ! -e "$(c_path "$kInstalledWin")" ] || e2e_log "Wine left the refused package's files"
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
# Only a fresh installation schedules the rollback that deletes the service.
check_actions install +RegisterService +UnregisterServiceOnRollback \
  -StopServiceForUpgrade -StartServiceOnRollback -RestoreServiceOnRollback -UnregisterService

e2e_log "--- it supervises the agent"
# One cycle more than needed: cmd now and then loses a command (exit 9009).
wait_until $((kOneCycle + kCycle)) "agent start" agent_started_times 1
agent=$(last_agent_pid)
win taskkill /F /pid "$agent" >/dev/null
wait_until 5 "agent $agent gone" pid_gone "$agent"
wait_until $((kRecovery + kCycle)) "agent restart" agent_started_times 2

e2e_log "--- msiexec /i REINSTALL=ALL REINSTALLMODE=vomus: the repair"
old_pid=$(service_pid)
msiexec_run repair /i "Z:$msi" REINSTALL=ALL REINSTALLMODE=vomus
wait_until 20 "the service running" service_state_is 4
check_eq "$(registration)" "$expected_registration" "registration after the repair"
check_actions repair +StopServiceForUpgrade +StartServiceOnRollback +RestoreServiceOnRollback \
  +RegisterService -UnregisterServiceOnRollback -UnregisterService
check_before repair StopServiceForUpgrade StopServices
pid_gone "$old_pid" || e2e_fail "the process $old_pid before the repair is still there"

e2e_log "--- msiexec /i $(basename "$next_msi"): the upgrade"
old_pid=$(service_pid)
msiexec_run upgrade /i "Z:$next_msi"
wait_until 20 "the service running" service_state_is 4
check_eq "$(registration)" "$expected_registration" "registration after the upgrade"
check_eq "$(file_version "$kInstalledWin")" "$kNextVersion.0" "file version after the upgrade"
check_eq "$(image_pids didurozir.exe | wc -l)" 1 "didurozir.exe processes"
check_eq "$(win reg query 'HKLM\SYSTEM\CurrentControlSet\Services' | tr -d '\r' |
  grep -ci 'didurozir$')" 1 "services named didurozir"
check_actions upgrade +StopServiceForUpgrade +StartServiceOnRollback +RestoreServiceOnRollback \
  +RegisterService -UnregisterServiceOnRollback -UnregisterService
# The old process has ended before the files are replaced; the earlier
# version is removed after them, inside this installation's transaction.
# (That removal runs in a session that Wine does not log; the executable it
# leaves, the one service running and its registration are checked above.)
check_before upgrade StopServiceForUpgrade InstallFiles
check_before upgrade InstallExecute RemoveExistingProducts
check_before upgrade RemoveExistingProducts InstallFinalize
pid_gone "$old_pid" || e2e_fail "the process $old_pid before the upgrade is still there"

e2e_log "--- msiexec /x: nothing left"
msiexec_run uninstall /x "Z:$next_msi"
check_actions uninstall +StartServiceOnRemovalRollback +ReinstallServiceOnRollback \
  +UnregisterService -StopServiceForRemoval -RegisterService
wait_until 10 "the service to go" service_missing
wait_until 10 "didurozir.exe ended" image_gone didurozir.exe
win reg query "$kSourceKey" >/dev/null 2>&1 && e2e_fail "the event source's key is left"
[ ! -e "$(c_path "$kFolderWin")" ] || e2e_fail "left behind: $(ls -la "$(c_path "$kFolderWin")")"
e2e_log "ok: no service, no event source, no folder"
pid_alive "$(last_agent_pid)" || e2e_fail "the uninstallation ended the agent"

e2e_log "--- msiexec /x of a service that does not stop: fails, keeps all"
msiexec_run reinstall /i "Z:$next_msi"
wait_until 20 "the service running" service_state_is 4
watchdog stop -stop
check_output stop 0 'Stop: [didurozir] Success\r\n'
wait_until 10 "didurozir.exe ended" image_gone didurozir.exe
# The package's own registration, running a process that ignores stops: the
# stand-in is started from the installed path, then the executable is put
# back under it for the removal's custom actions (Wine does not lock a
# running executable).
installed=$(c_path "$kInstalledWin")
cp "$installed" "$E2E_WORK/didurozir-installed.exe"
cp "$E2E_FIXTURES/e2e_stubborn_service.exe" "$installed"
watchdog start -start
check_output start 0 'Start: [didurozir] Success\r\n'
cp "$E2E_WORK/didurozir-installed.exe" "$installed"
msiexec_fails stubborn /x "Z:$next_msi"
check_actions stubborn +StartServiceOnRemovalRollback +ReinstallServiceOnRollback \
  +UnregisterService -StopServiceForRemoval
[ -e "$(c_path "$kInstalledWin")" ] || e2e_fail "the failed removal deleted didurozir.exe"
[ -e "$(c_path "$kFolderWin")/didurozir-messages.dll" ] || e2e_fail "the failed removal deleted the message DLL"
service_missing && e2e_fail "the failed removal deleted the service"
e2e_log "ok: the failed removal kept the files and the service ($(service_field STATE))"
# This part comes last: Wine's manager keeps the stand-in "stop pending" even
# once its process is killed, and nothing could remove the service then.

e2e_pass
