#!/usr/bin/env bash
# The audit of what the watchdog trusts, in the real service: Wine builds a
# file's DACL from its Unix mode bits, so "chmod o+w" gives Everyone write
# rights. An agent folder and a server.conf that others may write give one
# Error event 4000 at the start, naming both with Everyone and its rights;
# the idle cycles after it write no other; once both are restored, the next
# recovery writes the Information event 4001 before its own 2000. The agent is
# started as always. Events are read as in events.sh: Wine prints each
# insert on the "eventlog" debug channel of services.exe's standard error.
#   audit.sh WATCHDOG_EXE FIXTURE_DIR PREFIX
set -euo pipefail
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_begin audit "$@"

readonly kCycle=10
readonly kOneCycle=$((kCycle + 8))
readonly kRecovery=$((2 * kCycle + 1 + 15))
readonly kLog="$E2E_WORK/services.err"

wineserver -k 2>/dev/null || true
timeout 20 wineserver -w 2>/dev/null || true
(wineserver -p -f >/dev/null 2>&1 &)
WINEDEBUG=-all,+eventlog,fixme+advapi wine cmd /c exit </dev/null >/dev/null 2>>"$kLog"

id_pattern() { printf 'ReportEventW (.*,0x0000,0x%08x,' "$1"; }
reported_id() { grep -q "$(id_pattern "$1")" "$kLog"; }
reported_count() { grep -c "$(id_pattern "$1")" "$kLog" || true; }
reported_insert() { grep -F 'eventlog:ReportEventW L"' "$kLog" | grep -qF -- "$1"; }
# The line number of the Nth event with an ID (1 for the first), to tell
# their order.
nth_line() { grep -n "$(id_pattern "$1")" "$kLog" | sed -n "$2p" | cut -d: -f1; }
reported_times() { [ "$(reported_count "$1")" -ge "$2" ]; }

register_agent "$(free_port)"
configure_agent '{}'
readonly kAgentFolder="$E2E_C/e2e/agent"
readonly kServerConf="$E2E_C/e2e/conf/server.conf"
chmod o+w "$kAgentFolder" "$kServerConf"

e2e_log "--- a writable agent folder and server.conf at the start"
watchdog install -install
check_output install 0 'Install: [didurozir] Success\r\n'
watchdog start -start
check_output start 0 'Start: [didurozir] Success\r\n'
wait_until $((kOneCycle + kCycle)) "agent start" agent_started_times 1
wait_until $((kOneCycle)) "the audit's event" reported_id 4000
reported_insert 'agent: Everyone (S-1-1-0) may add file, add subfolder, delete child, delete, and is not a trusted account. Remedy: icacls' ||
  e2e_fail "event 4000 does not name the agent folder: $(grep -F 'eventlog' "$kLog" | tail -n 5)"
# Wine cuts a long insert short in its debug output: the second finding shows
# only its start.
reported_insert 'server.conf: Everyone (S-1-1-0) may write da' ||
  e2e_fail "event 4000 does not name server.conf"
grep -qF 'eventlog:ReportEventW L"2"' "$kLog" ||
  e2e_fail "event 4000 does not count two problems"
e2e_log "ok: one event 4000 names the folder and the file with Everyone's rights"

e2e_log "--- idle cycles write no other; the agent keeps running"
sleep $((2 * kCycle))
check_eq "$(reported_count 4000)" 1 "events 4000 after idle cycles"
agent=$(last_agent_pid)
pid_alive "$agent" || e2e_fail "the agent $agent is gone"

e2e_log "--- restored, the next recovery clears the set before its commands"
chmod o-w "$kAgentFolder" "$kServerConf"
starts=$(agent_starts)
recoveries=$(reported_count 2000)
win taskkill /F /pid "$agent" >/dev/null
wait_until 5 "agent $agent gone" pid_gone "$agent"
wait_until $((kRecovery + kCycle)) "agent restart" agent_started_times $((starts + 1))
wait_until 5 "the cleared event" reported_id 4001
wait_until 5 "the recovery event" reported_times 2000 $((recoveries + 1))
cleared=$(nth_line 4001 1)
{ { [ "$recoveries" -eq 0 ] || [ "$(nth_line 2000 "$recoveries")" -lt "$cleared" ]; } &&
  [ "$cleared" -lt "$(nth_line 2000 $((recoveries + 1)))" ]; } ||
  e2e_fail "event 4001 is not between the earlier recovery's 2000 and this one's"
check_eq "$(reported_count 4000)" 1 "events 4000 in all"
check_eq "$(reported_count 4001)" 1 "events 4001 in all"
e2e_log "ok: one event 4001, before the recovery's 2000; the agent started again"

watchdog stop -stop
check_output stop 0 'Stop: [didurozir] Success\r\n'
watchdog uninstall -uninstall
check_output uninstall 0 'Uninstall: [didurozir] Success\r\n'
e2e_pass
