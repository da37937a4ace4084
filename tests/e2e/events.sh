#!/usr/bin/env bash
# The record in the Event Log: -install registers the event source with the
# message DLL beside the executable, a recovery writes one event naming the
# killed PIDs with their image names and ports, a stop is recorded, and
# -uninstall removes the source. Wine keeps no Event Log: its ReportEventW
# prints each insert on the debug channel "eventlog" (and the event ID on
# fixme:advapi), on the standard error of the service's process, which it
# inherits from services.exe. So the scenario restarts the prefix's server
# and starts services.exe with that channel on and its standard error in a
# file.
# The same recovery's listing also names PIDs that must be left alone, each
# recorded with its reason: the watchdog's own, a process that the netstat
# stand-in started while it ran, and one it saw end before it printed. A pause
# that arrives while a recovery lists the holders ends it before its first
# command: nothing is killed, started or recorded.
#   events.sh WATCHDOG_EXE FIXTURE_DIR PREFIX
set -euo pipefail
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_begin events "$@"

readonly kCycle=10
readonly kOneCycle=$((kCycle + 8))
readonly kRecovery=$((2 * kCycle + 1 + 15))
readonly kLog="$E2E_WORK/services.err"
readonly kSourceKey='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\didurozir'
readonly kMessageDll='C:\Program Files\QUENTAR\didurozir-messages.dll'

e2e_trace_events "$kLog"

register_agent "$(free_port)"
configure_agent '{"listening_ports": "4901,4902", "ssl_port": 4903}'

e2e_log "--- -install registers the source"
watchdog install -install
check_output install 0 'Install: [didurozir] Success\r\n'
win reg query "$kSourceKey" /v EventMessageFile | tr -d '\r' |
  grep -qE "EventMessageFile +REG_EXPAND_SZ +${kMessageDll//\\/\\\\}$" ||
  e2e_fail "EventMessageFile: $(win reg query "$kSourceKey" | tr -d '\r')"
win reg query "$kSourceKey" /v TypesSupported | tr -d '\r' |
  grep -qE 'TypesSupported +REG_DWORD +0x7$' || e2e_fail "TypesSupported is not 7"
e2e_log "ok: the source's key names the message DLL, types 7"

e2e_log "--- the start, then a recovery with holders on watched ports"
watchdog start -start
check_output start 0 'Start: [didurozir] Success\r\n'
wait_until $((kOneCycle + kCycle)) "agent start" agent_started_times 1
wait_until 5 "start event" reported_id 1000
reported_insert '36039, 36523, 4033, 4044, 4045, 4046, 4523, 4524, 4525, 4526, 4901, 4902, 4903' ||
  e2e_fail "the start event does not list the watched ports"
agent=$(last_agent_pid)
watchdog_pid=$(image_pids didurozir.exe)
[[ "$watchdog_pid" =~ ^[0-9]+$ ]] || e2e_fail "not one watchdog process: '$watchdog_pid'"
default_port_holder=$(start_holder default_port_holder)
listening_port_holder=$(start_holder listening_port_holder)
write_netstat_rows <<ROWS
TCP 0.0.0.0:4033 0.0.0.0:0 LISTENING $default_port_holder
TCP 0.0.0.0:4044 0.0.0.0:0 LISTENING $default_port_holder
TCP 0.0.0.0:4902 0.0.0.0:0 LISTENING $listening_port_holder
TCP 127.0.0.1:4033 127.0.0.1:50123 TIME_WAIT 0
TCP 0.0.0.0:4045 0.0.0.0:0 LISTENING $watchdog_pid
TCP 0.0.0.0:4046 0.0.0.0:0 LISTENING new-running
TCP 0.0.0.0:4523 0.0.0.0:0 LISTENING new-ended
ROWS
# cmd now and then loses a command (exit 9009): a recovery whose netstat was
# lost kills nothing, so a holder that outlived one is asked for again, at
# most three times, and outcomes are waited for over one cycle more.
starts=$(agent_starts)
for recovery in 1 2 3; do
  win taskkill /F /pid "$agent" >/dev/null
  wait_until 5 "agent $agent gone" pid_gone "$agent"
  wait_until $((kRecovery + kCycle)) "agent restart" agent_started_times $((starts + recovery))
  agent=$(last_agent_pid)
  pid_gone "$default_port_holder" && pid_gone "$listening_port_holder" && break
  [ "$recovery" -lt 3 ] || e2e_fail "a holder still runs after three recoveries"
  e2e_log "a holder outlived recovery $recovery: once more"
done
wait_until 5 "the recovery event naming the holders" reported_insert \
  "PID $default_port_holder (e2e_leftover.exe, ports 4033, 4044); PID $listening_port_holder (e2e_leftover.exe, port 4902)"
# Wine's debug output escapes the quotes.
reported_insert '\"0\" (PID 0 is no process: a socket without an owner)' ||
  e2e_fail "the recovery event does not name PID 0 as left alone"
wait_until $((kOneCycle + kCycle)) "the agent's return recorded" reported_id 2001
# As Event Viewer shows it: the message DLL's text around the inserts.
rendered_event 2000 | head -2 | tr '\n' '|' | grep -qF \
  "The agent (riduvuruz.exe) was not running. Its ports were freed and it was started again.|Killed (PID, image name, watched local ports held): PID " ||
  e2e_fail "event 2000 renders as: $(rendered_event 2000)"
e2e_log "ok: the recovery's event renders from the message DLL"

e2e_log "--- left alone: the watchdog, a process younger than the listing, an ended one"
pid_alive "$watchdog_pid" || e2e_fail "the watchdog $watchdog_pid is gone"
service_state_is 4 || e2e_fail "the service is not running: $(service_field STATE)"
reported_insert "\\\"$watchdog_pid\\\" (the watchdog's own process)" ||
  e2e_fail "the recovery event does not name the watchdog's PID as left alone"
e2e_log "ok: the watchdog $watchdog_pid alive, running, recorded as left alone"
# Every listing of the recoveries above started one of each.
readonly kCalls="$E2E_C/e2e/netstat-calls.log"
new_running=$(sed -n 's/.* new-running=\([0-9]*\).*/\1/p' "$kCalls" | tr -d '\r')
new_ended=$(sed -n 's/.* new-ended=\([0-9]*\).*/\1/p' "$kCalls" | tr -d '\r')
{ [ -n "$new_running" ] && [ -n "$new_ended" ]; } ||
  e2e_fail "the netstat stand-in started no process: $(cat "$kCalls")"
for pid in $new_running; do
  pid_alive "$pid" || e2e_fail "$pid, started while the listing was taken, was killed"
  reported_insert "\\\"$pid\\\" (created after the netstat listing began: not the process it showed)" ||
    e2e_fail "the recovery event does not name $pid as created after the listing"
done
e2e_log "ok: started while listing, alive and recorded: ${new_running//$'\n'/ }"
for pid in $new_ended; do
  reported_insert "\\\"$pid\\\" (ended before its kill command: the PID may be another process's next)" ||
    e2e_fail "the recovery event does not name $pid as ended before its kill"
  ! reported_insert "PID $pid (" || e2e_fail "$pid, ended before the listing, was killed"
done
e2e_log "ok: ended before the listing, not killed and recorded: ${new_ended//$'\n'/ }"

e2e_log "--- a pause during a recovery's listing: no command runs"
spared_holder=$(start_holder spared_holder)
starts=$(agent_starts)
write_netstat_rows <<ROWS
pause $E2E_SERVICE_NAME
TCP 0.0.0.0:4033 0.0.0.0:0 LISTENING $spared_holder
ROWS
win taskkill /F /pid "$agent" >/dev/null
wait_until 5 "agent $agent gone" pid_gone "$agent"
# The pause comes while the stand-in lists: the recovery ends once the
# listing is read, before its first kill command.
wait_until $((kOneCycle + kCycle)) "the pause from within the listing" \
  grep -q ' paused=0' "$E2E_C/e2e/netstat-calls.log"
wait_until 10 "the service paused" service_state_is 7
wait_until 5 "the pause event" reported_id 1011
# A kill would have followed the listing within a moment.
sleep 3
pid_alive "$spared_holder" || e2e_fail "$spared_holder was killed after the pause"
! reported_insert "PID $spared_holder (" || e2e_fail "a recovery event names $spared_holder"
check_eq "$(agent_starts)" "$starts" "agent starts after the paused recovery"
e2e_log "ok: $spared_holder alive and unrecorded, no start"
: | write_netstat_rows

e2e_log "--- stop and uninstall"
watchdog stop -stop
check_output stop 0 'Stop: [didurozir] Success\r\n'
wait_until 5 "stop event" reported_id 1010
watchdog uninstall -uninstall
check_output uninstall 0 'Uninstall: [didurozir] Success\r\n'
win reg query "$kSourceKey" >/dev/null 2>&1 && e2e_fail "the source's key is still there"
e2e_log "ok: the source's key is gone"

e2e_pass
