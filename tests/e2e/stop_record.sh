#!/usr/bin/env bash
# No kill unrecorded, whatever ends the service: a pause while a recovery's
# kill command runs lets the kill finish and records the recovery as cut
# short; a stop that arrives while a recovery's command runs is answered at
# once, and the process ends only once the monitor has finished that command
# and written the recovery's event 2000, naming what it killed; a command
# that outlasts the 5 s the process waits is named in the event as still
# running. A slow taskkill
# stand-in (e2e_taskkill.exe, in place of Wine's) and an agent stand-in whose
# -start takes its time make the windows wide enough to stop in. The events
# are read as events.sh reads them.
#   stop_record.sh WATCHDOG_EXE FIXTURE_DIR PREFIX
set -euo pipefail
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_begin stop_record "$@"

readonly kCycle=10
readonly kOneCycle=$((kCycle + 8))
readonly kLog="$E2E_WORK/services.err"
readonly kKills="$E2E_C/e2e/taskkill-calls.log"
readonly kStartCommands="$E2E_C/e2e/agent/agent-commands.log"
readonly kKillDelay="$E2E_C/e2e/taskkill-delay.txt"
readonly kStartDelay="$E2E_C/e2e/agent/start-delay.txt"

e2e_trace_events "$kLog"
cp "$E2E_FIXTURES/e2e_taskkill.exe" "$E2E_C/windows/system32/taskkill.exe"
win reg add 'HKCU\Software\Wine\DllOverrides' /v taskkill.exe /d native /f >/dev/null
register_agent "$(free_port)"
configure_agent '{"listening_ports": "4901"}'

start_commands() { count_lines "$kStartCommands" 'start begun'; }
# The last event 2000 holds TEXT.
last_recovery_holds() { last_event_inserts 2000 | grep -qF -- "$1"; }
readonly kCutShort='The recovery was cut short by a stop, a pause or a failure, so the agent was not started. Not run: the start command, the check whether 1 killed process ended.'
# recover_until_killing HOLDER: ends the agent, until a recovery runs the
# kill command for HOLDER. cmd now and then loses a command (exit 9009): a
# recovery whose netstat or kill was lost starts the agent without the kill,
# so the agent is ended again, three times at most.
killing() { grep -q "begun pid=$1" "$kKills" 2>/dev/null; }
recover_until_killing() {
  local try starts
  for try in 1 2 3; do
    starts=$(agent_starts)
    win taskkill /F /pid "$agent" >/dev/null
    wait_until 5 "agent $agent gone" pid_gone "$agent"
    wait_until $((kOneCycle + kCycle)) "the kill command for $1 or a restart" \
      eval "killing $1 || agent_started_times $((starts + 1))"
    killing "$1" && return 0
    [ "$try" -lt 3 ] || e2e_fail "no recovery ran the kill command for $1"
    agent=$(last_agent_pid)
    e2e_log "the recovery lost its listing or kill: once more"
  done
}
# stop_during WHAT: stops the service, which must say so at once, and waits
# for its process to end.
stop_during() {
  watchdog stop -stop
  check_output stop 0 'Stop: [didurozir] Success\r\n'
  wait_until 12 "didurozir.exe ended after the stop during $1" image_gone didurozir.exe
}

watchdog install -install
check_output install 0 'Install: [didurozir] Success\r\n'
watchdog start -start
check_output start 0 'Start: [didurozir] Success\r\n'
wait_until $((kOneCycle + kCycle)) "agent start" agent_started_times 1
agent=$(last_agent_pid)

printf '3000' >"$kKillDelay"

e2e_log "--- a pause while a kill command runs"
holder=$(start_holder pause_holder)
write_netstat_rows <<ROWS
TCP 0.0.0.0:4033 0.0.0.0:0 LISTENING $holder
ROWS
recover_until_killing "$holder"
starts=$(agent_starts)
service_control pause
wait_until 10 "the cut-short recovery's event naming $holder" eval \
  "last_recovery_holds 'PID $holder (e2e_leftover.exe, port 4033)' && last_recovery_holds '$kCutShort'"
grep -q "ended pid=$holder result=0" "$kKills" || e2e_fail "the kill command did not finish"
reported_id 1011 || e2e_fail "no pause event"
check_eq "$(agent_starts)" "$starts" "agent starts after the cut-short recovery"
service_control continue
wait_until $((kOneCycle + kCycle)) "the agent started after the continue" \
  agent_started_times $((starts + 1))
agent=$(last_agent_pid)
e2e_log "ok: $holder killed while pausing, the recovery recorded as cut short, no start"

e2e_log "--- a stop while a kill command runs"
holder=$(start_holder kill_holder)
write_netstat_rows <<ROWS
TCP 0.0.0.0:4033 0.0.0.0:0 LISTENING $holder
ROWS
recover_until_killing "$holder"
stop_during "the kill command"
grep -q "ended pid=$holder result=0" "$kKills" || e2e_fail "the kill command did not finish"
last_recovery_holds "PID $holder (e2e_leftover.exe, port 4033)" ||
  e2e_fail "no event 2000 names the killed $holder"
last_recovery_holds "$kCutShort" ||
  e2e_fail "the event does not tell the recovery cut short by the stop"
reported_id 1010 || e2e_fail "no stop event"
e2e_log "ok: $holder killed while stopping, recorded before the process ended"

e2e_log "--- a stop while the start command runs"
rm -f "$kKillDelay"
holder=$(start_holder start_holder)
write_netstat_rows <<ROWS
TCP 0.0.0.0:4033 0.0.0.0:0 LISTENING $holder
ROWS
printf '3000' >"$kStartDelay"
starts=$(start_commands)
agents=$(agent_starts)
watchdog start -start
check_output start 0 'Start: [didurozir] Success\r\n'
wait_until $((kOneCycle + kCycle)) "the start command" eval '[ "$(start_commands)" -gt "$starts" ]'
stop_during "the start command"
last_recovery_holds "PID $holder (e2e_leftover.exe, port 4033)" ||
  e2e_fail "no event 2000 names the killed $holder"
last_recovery_holds 'Its ports were freed and it was started again.' ||
  e2e_fail "the event does not tell the agent started again"
wait_until 10 "the agent started" agent_started_times $((agents + 1))
e2e_log "ok: $holder killed and the agent started while stopping, recorded"

e2e_log "--- a start command that outlasts the wait"
: | write_netstat_rows
printf '60000' >"$kStartDelay"
agent=$(last_agent_pid)
win taskkill /F /pid "$agent" >/dev/null
wait_until 5 "agent $agent gone" pid_gone "$agent"
starts=$(start_commands)
watchdog start -start
check_output start 0 'Start: [didurozir] Success\r\n'
wait_until $((kOneCycle + kCycle)) "the start command" eval '[ "$(start_commands)" -gt "$starts" ]'
stop_during "a hanging start command"
last_recovery_holds "The service stopped while the agent's start command was still running: whether the agent started is not known." ||
  e2e_fail "the event does not name the start command still running"
e2e_log "ok: the hanging start command recorded as still running"

watchdog uninstall -uninstall
check_output uninstall 0 'Uninstall: [didurozir] Success\r\n'
e2e_pass
