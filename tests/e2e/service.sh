#!/usr/bin/env bash
# The watchdog as an installed service, seen from outside: its registration,
# the agent started when missing and left alone while it runs, the recovery
# that kills the holders of the agent's ports, pause and continue, stop, and
# uninstalling a running service. The service's own output is not visible
# under the Service Control Manager, so the scenario watches the effects: the
# agent's start log, the netstat call log and the process list.
#   service.sh WATCHDOG_EXE FIXTURE_DIR PREFIX
set -euo pipefail
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_begin service "$@"

# One supervision cycle sleeps 10 s; a recovery adds 1 s, plus 10 s for each
# killed process still alive then. Deadlines leave room for a slow machine.
# A recovery's commands (netstat, taskkill, the agent's -start) run through
# cmd, which now and then fails to start a program it should find: that
# command is lost and the watchdog tries again at a later cycle. So outcomes
# are waited for over one cycle more than they need, a recovery that left a
# holder alive is asked for once more (at most three times), and netstat
# calls are compared before and after, not counted per cycle.
readonly kCycle=10
readonly kOneCycle=$((kCycle + 8))
readonly kTwoCycles=$((kOneCycle + kCycle))
readonly kRecovery=$((2 * kCycle + 1 + 15))
readonly kRecoveries=3

register_agent "$(free_port)"
configure_agent '{"listening_ports": "4901,4902", "ssl_port": 4903}'

e2e_log "--- installation and start"
watchdog install -install
check_output install 0 'Install: [didurozir] Success\r\n'
check_eq "$(service_field DISPLAY_NAME)" "QUENTAR Agent Monitor" "display name"
check_eq "$(service_field DESCRIPTION)" "QUENTAR Agent Monitor" "description"
check_eq "$(service_field TYPE)" 16 "service type (own process)"
check_eq "$(service_field START_TYPE)" 2 "start type (automatic)"
check_eq "$(service_field ERROR_CONTROL)" 1 "error control (normal)"
check_eq "$(service_field SERVICE_START_NAME)" LocalSystem "account"
# A path with a space is registered in quotation marks.
check_eq "$(service_field BINARY_PATH_NAME)" "\"$E2E_WATCHDOG_WIN\"" "binary path"
check_eq "$(service_field STATE)" 1 "state after installation (stopped)"

watchdog start -start
check_output start 0 'Start: [didurozir] Success\r\n'
check_eq "$(service_field STATE)" 4 "state after start (running)"
win sc query "$E2E_SERVICE_NAME" | grep -q 'STATE *: *4 *RUNNING' ||
  e2e_fail "sc query does not show the service running"
image_running didurozir.exe || e2e_fail "no didurozir.exe process"
e2e_log "ok: sc query shows RUNNING, didurozir.exe runs"

e2e_log "--- the agent missing: started within one cycle"
wait_until "$kTwoCycles" "agent start" agent_started_times 1
agent=$(last_agent_pid)
wait_until 5 "agent process $agent" pid_alive "$agent"
check_eq "$(image_pids riduvuruz.exe)" "$agent" "the only riduvuruz.exe"
# One call; two when cmd lost the first recovery's start, none when it lost
# the netstat.
[ "$(netstat_calls)" -le 2 ] || e2e_fail "$(netstat_calls) netstat calls for one agent start"

e2e_log "--- the agent running: left alone for two cycles"
calls=$(netstat_calls)
sleep $((2 * kCycle + 2))
check_eq "$(agent_starts)" 1 "agent starts"
check_eq "$(image_pids riduvuruz.exe)" "$agent" "agent process"
check_eq "$(netstat_calls)" "$calls" "netstat calls"

e2e_log "--- the agent killed, leftovers on its ports"
default_port_holder=$(start_holder default_port_holder)
listening_port_holder=$(start_holder listening_port_holder)
ssl_port_holder=$(start_holder ssl_port_holder)
bystander=$(start_holder bystander)
write_netstat_rows <<ROWS
TCP 0.0.0.0:4033 0.0.0.0:0 LISTENING $default_port_holder
TCP 0.0.0.0:4902 0.0.0.0:0 LISTENING $listening_port_holder
UDP 0.0.0.0:4903 *:* $ssl_port_holder
TCP 0.0.0.0:5555 0.0.0.0:0 LISTENING $bystander
TCP 127.0.0.1:50124 127.0.0.1:4033 ESTABLISHED $bystander
TCP 127.0.0.1:4033 127.0.0.1:50123 TIME_WAIT 0
ROWS
e2e_log "holders: 4033 $default_port_holder, 4902 $listening_port_holder, 4903 $ssl_port_holder; bystander $bystander"
holders_gone() {
  local holder
  for holder in "$default_port_holder" "$listening_port_holder" "$ssl_port_holder"; do
    pid_gone "$holder" || return 1
  done
}
calls=$(netstat_calls)
starts=$(agent_starts)
for recovery in $(seq "$kRecoveries"); do
  win taskkill /F /pid "$agent" >/dev/null
  wait_until 5 "agent $agent gone" pid_gone "$agent"
  wait_until $((kRecovery + kCycle)) "agent restart" agent_started_times $((starts + recovery))
  agent=$(last_agent_pid)
  holders_gone && break
  [ "$recovery" -lt "$kRecoveries" ] ||
    e2e_fail "a holder of a watched port still runs after $kRecoveries recoveries"
  e2e_log "a holder outlived recovery $recovery (cmd lost its netstat or a taskkill): once more"
done
[ "$(netstat_calls)" -gt "$calls" ] || e2e_fail "the recovery did not ask netstat"
e2e_log "ok: the holders of 4033, 4902 and 4903 were killed"
pid_alive "$bystander" || e2e_fail "the holder of an unwatched port was killed"
e2e_log "ok: the bystander on 5555 lives"
check_eq "$(image_pids riduvuruz.exe)" "$agent" "the restarted agent"

e2e_log "--- pause: no supervision until continue"
service_control pause || e2e_fail "the pause control was refused"
wait_until 10 "paused state" service_state_is 7
win taskkill /F /pid "$agent" >/dev/null
wait_until 5 "agent $agent gone" pid_gone "$agent"
starts=$(agent_starts)
sleep $((kCycle + 2))
check_eq "$(agent_starts)" "$starts" "agent starts while paused"
service_control continue || e2e_fail "the continue control was refused"
wait_until 10 "running state" service_state_is 4
# The new monitor thread's first cycle runs at once.
wait_until "$kTwoCycles" "agent restart after continue" agent_started_times $((starts + 1))
agent=$(last_agent_pid)

e2e_log "--- stop through sc"
win sc stop "$E2E_SERVICE_NAME" >/dev/null || e2e_fail "sc stop failed"
wait_until 10 "stopped state" service_state_is 1
wait_until 10 "didurozir.exe ended" image_gone didurozir.exe
pid_alive "$agent" || e2e_fail "stopping the watchdog ended the agent"
e2e_log "ok: the agent outlives the watchdog"

e2e_log "--- -start, -stop, -stop again"
watchdog start_again -start
check_output start_again 0 'Start: [didurozir] Success\r\n'
check_eq "$(service_field STATE)" 4 "state after -start"
watchdog stop -stop
check_output stop 0 'Stop: [didurozir] Success\r\n'
check_eq "$(service_field STATE)" 1 "state after -stop"
wait_until 10 "didurozir.exe ended" image_gone didurozir.exe
watchdog stop_again -stop
check_output stop_again 0 'Stop: [didurozir] Success\r\n'

e2e_log "--- -uninstall of a running service"
watchdog start_for_uninstall -start
check_output start_for_uninstall 0 'Start: [didurozir] Success\r\n'
watchdog uninstall -uninstall
check_output uninstall 0 'Uninstall: [didurozir] Success\r\n'
# The entry goes with the last handle to it; the stopped process holds some
# until it has ended, a moment after the uninstall returned.
wait_until 10 "the service gone (1060)" service_missing
win sc query "$E2E_SERVICE_NAME" >/dev/null && e2e_fail "sc query still finds the service"
wait_until 10 "didurozir.exe ended" image_gone didurozir.exe

e2e_pass
