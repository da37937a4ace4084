#!/usr/bin/env bash
# The audit of what the watchdog trusts, in the real service: Wine builds a
# file's DACL from its Unix mode bits, so "chmod o+w" gives Everyone write
# rights. An agent folder and a server.conf that others may write give one
# Error event 4000 at the start, naming both with Everyone and its rights;
# the idle cycles after it write no other, although the agent's service key is
# made world-writable meanwhile (with RegSetKeySecurity: Wine has no command
# for it); once the folder and file are restored, the next recovery writes a
# second 4000 for the changed set, the key alone, and once the key is
# restored, the next writes the Information event 4001, each before the
# recovery's own 2000. The agent is started as always. Events are read as in events.sh: Wine prints each
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

e2e_trace_events "$kLog"
# The line number of the Nth event with an ID (1 for the first), to tell
# their order.
nth_line() { grep -n "$(event_id_pattern "$1")" "$kLog" | sed -n "$2p" | cut -d: -f1; }
reported_times() { [ "$(reported_count "$1")" -ge "$2" ]; }
# recover WHAT: kills the agent and waits for the watchdog to start it again
# and for the recovery's event 2000; leaves in `recoveries` the count of 2000s
# before it.
recover() {
  agent=$(last_agent_pid)
  starts=$(agent_starts)
  recoveries=$(reported_count 2000)
  win taskkill /F /pid "$agent" >/dev/null
  wait_until 5 "agent $agent gone" pid_gone "$agent"
  wait_until $((kRecovery + kCycle)) "agent restart ($1)" agent_started_times $((starts + 1))
  wait_until 5 "the recovery event ($1)" reported_times 2000 $((recoveries + 1))
}
# between_recoveries ID N: the Nth event ID comes after the 2000 of the
# recovery before this one and before this recovery's own 2000.
between_recoveries() {
  local line
  line=$(nth_line "$1" "$2")
  { { [ "$recoveries" -eq 0 ] || [ "$(nth_line 2000 "$recoveries")" -lt "$line" ]; } &&
    [ "$line" -lt "$(nth_line 2000 $((recoveries + 1)))" ]; } ||
    e2e_fail "event $1 is not between the earlier recovery's 2000 and this one's"
}
# inserts_of ID N: the inserts of the Nth event ID, one a line: those on the
# eventlog channel after the call's own line (advapi) up to the next call.
inserts_of() {
  grep -F 'ReportEventW' "$kLog" |
    awk -v id="$(printf ',0x0000,0x%08x,' "$1")" -v n="$2" '
      index($0, "ReportEventW (") { seen += index($0, id) > 0; inside = seen == n && index($0, id) > 0; next }
      inside { print }'
}

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
reported_insert 'agent: Everyone (S-1-1-0) may add file, delete child, delete, and is not a trusted account. Remedy: icacls' ||
  e2e_fail "event 4000 does not name the agent folder: $(grep -F 'eventlog' "$kLog" | tail -n 5)"
# Wine cuts a long insert short in its debug output: the second finding shows
# only its start.
reported_insert 'server.conf: Everyone (S-1-1-0) may write da' ||
  e2e_fail "event 4000 does not name server.conf"
grep -qF 'eventlog:ReportEventW L"2"' "$kLog" ||
  e2e_fail "event 4000 does not count two problems"
e2e_log "ok: one event 4000 names the folder and the file with Everyone's rights"

e2e_log "--- idle cycles write no other, though the agent's key changes; the agent keeps running"
# An idle cycle does not audit: the key made world-writable now shows only
# in the next recovery.
set_key_security "$E2E_AGENT_KEY" "$E2E_KEY_WORLD_WRITABLE"
sleep $((2 * kCycle))
check_eq "$(reported_count 4000)" 1 "events 4000 after idle cycles"
agent=$(last_agent_pid)
pid_alive "$agent" || e2e_fail "the agent $agent is gone"

e2e_log "--- folder and server.conf restored: the next recovery writes the changed set, the key alone"
chmod o-w "$kAgentFolder" "$kServerConf"
recover "key world-writable"
wait_until 5 "the audit's second event" reported_times 4000 2
between_recoveries 4000 2
inserts_of 4000 2 >"$E2E_WORK/second-4000.txt"
grep -qF 'ReportEventW L"1"' "$E2E_WORK/second-4000.txt" ||
  e2e_fail "the second event 4000 does not count one problem: $(cat "$E2E_WORK/second-4000.txt")"
# Wine's debug output doubles each backslash of an insert.
grep -qF 'ReportEventW L"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\riduvuruz: Everyone (S-1-1-0) may set value, create subkey, delete, change permissions, take ownership, and is not a trusted account. Remedy: in regedit' \
  "$E2E_WORK/second-4000.txt" ||
  e2e_fail "the second event 4000 does not name the agent's key and Everyone: $(cat "$E2E_WORK/second-4000.txt")"
! grep -qF -e 'agent: Everyone' -e 'server.conf: Everyone' "$E2E_WORK/second-4000.txt" ||
  e2e_fail "the second event 4000 names the restored folder or file"
check_eq "$(reported_count 4001)" 0 "events 4001 while the key is writable"
e2e_log "ok: one event 4000 for the changed set names the key with Everyone's rights, before the recovery's 2000"

e2e_log "--- the key restored as the remedy says, the next recovery clears the set before its commands"
set_key_security "$E2E_AGENT_KEY" "$E2E_KEY_EVERYONE_READS"
recover "all restored"
wait_until 5 "the cleared event" reported_id 4001
between_recoveries 4001 1
check_eq "$(reported_count 4000)" 2 "events 4000 in all"
check_eq "$(reported_count 4001)" 1 "events 4001 in all"
e2e_log "ok: one event 4001, before the recovery's 2000; the agent started again"

watchdog stop -stop
check_output stop 0 'Stop: [didurozir] Success\r\n'
watchdog uninstall -uninstall
check_output uninstall 0 'Uninstall: [didurozir] Success\r\n'
e2e_pass
