#!/usr/bin/env bash
# Shows the QUENTAR Agent Monitor at work. On a fresh Debian 12 machine it does
# all set-up and builds the Windows executable with small stand-ins for the
# agent and its leftovers; then, in a throwaway Wine prefix, it installs and
# starts the watchdog service, shows what a recovery would do with the
# leftover processes that hold the agent's ports (a -check dry run), kills the
# agent, reports as it happens how the watchdog frees the ports and brings the
# agent back, and shows the recovery's event 2000 as Event Viewer renders it
# from the message DLL. It stops and uninstalls the service and removes the
# prefix by itself; nothing stays running.
set -euo pipefail
cd "$(dirname "$0")/.."

heading() { printf '\n=== %s\n' "$*"; }

# DEMO_BUILD_DIR names an already configured Windows build tree to use
# instead of the windows preset's build/windows.
build_dir=${DEMO_BUILD_DIR:-build/windows}

heading "Set-up and build (done once; later runs skip what exists)"
scripts/setup.sh
scripts/build-win-boost.sh build/_deps/boost-win
if [ -z "${DEMO_BUILD_DIR:-}" ]; then
  cmake --preset windows >/dev/null
fi
if ! build_log=$(cmake --build "$build_dir" --target didurozir e2e_fixtures 2>&1); then
  printf '%s\n' "$build_log"
  exit 1
fi
echo "built $build_dir/src/app/didurozir.exe and the stand-ins in $build_dir/tests/e2e"

# shellcheck source=tests/e2e/lib.sh
source tests/e2e/lib.sh
# shellcheck disable=SC2034  # read by e2e_end
E2E_PASS_MESSAGE="demo finished: the throwaway prefix is removed, with the agent and every other process in it"
# shellcheck disable=SC2034
E2E_FAIL_MESSAGE="demo stopped early"

say() { e2e_log "$*"; }
# Runs the installed watchdog and shows its console output, indented.
run_watchdog() {
  say "> didurozir.exe $*"
  wine "$E2E_WATCHDOG_WIN" "$@" </dev/null 2>/dev/null | tr -d '\r' | sed '/^$/d; s/^/             /'
}

heading "A throwaway Windows machine (Wine prefix)"
e2e_begin demo "$build_dir/src/app/didurozir.exe" "$build_dir/tests/e2e" \
  "$build_dir/demo-prefix"
# Wine keeps no Event Log: its ReportEventW prints each event's ID and
# inserts on debug channels, which services.exe traces into a file.
event_trace="$E2E_WORK/services.err"
e2e_trace_events "$event_trace"
register_agent "$(free_port)"
configure_agent '{"listening_ports": "4901,4902", "ssl_port": 4903}'
say "agent service 'riduvuruz' registered: ImagePath $E2E_AGENT_WIN"
say "its server.conf ($E2E_CONF_WIN\\server.conf): listening_ports \"4901,4902\", ssl_port 4903"
say "watched ports: 4033 4044 4045 4046 4523 4524 4525 4526 36039 36523 (built in),"
say "               4901 4902 4903 (from server.conf)"

heading "Install and start the watchdog"
run_watchdog -install
run_watchdog -start
say "service state: $(win sc query "$E2E_SERVICE_NAME" | sed -n 's/.*STATE *: *[0-9] *//p' | tr -d '\r')"

# Event reporter: polls the agent's start log, netstat's call log and the
# process list, and prints each change once, as it is seen.
seen_starts=0
seen_netstat=0
declare -A holder_port=()
declare -A holder_reported=()
report_changes() {
  local starts calls processes pid
  calls=$(netstat_calls)
  while [ "$seen_netstat" -lt "$calls" ]; do
    seen_netstat=$((seen_netstat + 1))
    say "watchdog ran 'netstat -ano' to find who holds the agent's ports"
  done
  processes=$(win_processes)
  for pid in "${!holder_port[@]}"; do
    [ -z "${holder_reported[$pid]:-}" ] || continue
    if ! awk -v pid="$pid" '$1 == pid { found = 1 } END { exit !found }' <<<"$processes"; then
      say "leftover pid $pid on port ${holder_port[$pid]} is gone: killed by the watchdog (taskkill /F)"
      holder_reported[$pid]=1
    fi
  done
  starts=$(agent_starts)
  while [ "$seen_starts" -lt "$starts" ]; do
    seen_starts=$((seen_starts + 1))
    pid=$(sed -n "${seen_starts}p" "$E2E_C/e2e/agent/agent-starts.log" | sed 's/.* pid=\([0-9]*\).*/\1/')
    say "watchdog started the agent: riduvuruz.exe runs as pid $pid"
  done
}
# watch SECONDS CONDITION...: reports changes until CONDITION holds.
watch() {
  local seconds=$1
  local deadline=$((SECONDS + seconds))
  shift
  while :; do
    report_changes
    "$@" && return 0
    [ "$SECONDS" -lt "$deadline" ] || e2e_fail "the watchdog did not act within $seconds s"
    sleep 0.5
  done
}

heading "The agent is not running: the watchdog starts it within one cycle"
watch 20 agent_started_times 1
agent=$(last_agent_pid)

heading "Leftovers take the agent's ports; then the agent dies"
default_port_holder=$(start_holder default_port_holder)
conf_port_holder=$(start_holder conf_port_holder)
bystander=$(start_holder bystander)
holder_port[$default_port_holder]=4033
holder_port[$conf_port_holder]=4902
write_netstat_rows <<ROWS
TCP 0.0.0.0:4033 0.0.0.0:0 LISTENING $default_port_holder
TCP 0.0.0.0:4902 0.0.0.0:0 LISTENING $conf_port_holder
TCP 0.0.0.0:5555 0.0.0.0:0 LISTENING $bystander
ROWS
say "what 'netstat -ano' now shows:"
win cmd /c netstat -ano | tr -d '\r' | sed '1,/Proto/d; s/^/             /'

heading "What would a recovery do now? A dry run: didurozir.exe -check (kills nothing)"
say "> didurozir.exe -check"
check_status=0
wine "$E2E_WATCHDOG_WIN" -check </dev/null 2>/dev/null >"$E2E_WORK/check.out" || check_status=$?
tr -d '\r' <"$E2E_WORK/check.out" | grep -v '^watched port : 45[0-9][0-9] (built-in)$' |
  sed 's/^/             /'
say "exit code $check_status (0: nothing wrong; the bits are in the README); the ports"
say "4523 to 4526 (built-in) are left out above"
if pid_alive "$default_port_holder" && pid_alive "$conf_port_holder" && pid_alive "$agent"; then
  say "the dry run killed nothing: pids $default_port_holder, $conf_port_holder and the agent $agent still run"
else
  say "UNEXPECTED: a process is gone after the dry run"
fi
seen_netstat=$(netstat_calls) # those looks were ours, not the watchdog's
say "pid $default_port_holder holds 4033 (built-in), pid $conf_port_holder holds 4902 (server.conf),"
say "pid $bystander holds 5555, which is not one of the agent's ports"
say "killing the agent (pid $agent) from outside"
win taskkill /F /pid "$agent" >/dev/null

heading "The watchdog notices at its next cycle (every 10 s), frees the ports, restarts the agent"
all_holders_reported() {
  [ "${holder_reported[$default_port_holder]:-}" = 1 ] &&
    [ "${holder_reported[$conf_port_holder]:-}" = 1 ]
}
recovered() { agent_started_times 2 && all_holders_reported; }
watch 35 recovered
if pid_alive "$bystander"; then
  say "pid $bystander on port 5555 still runs: not one of the agent's ports, left alone"
else
  say "UNEXPECTED: pid $bystander on port 5555 was killed too"
fi

heading "The recovery's record: event 2000 as Event Viewer shows it"
recorded() { grep -F 'eventlog:ReportEventW L"' "$event_trace" | grep -qF "PID $default_port_holder ("; }
wait_until 10 "the recovery's event in the trace" recorded
# The last 2000 is shown (the agent's first start was a recovery too, without
# holders), rendered from didurozir-messages.dll as Event Viewer renders it.
say "event 2000 (Warning), source didurozir, Application log:"
rendered_event 2000 | sed 's/^/             /'

heading "Stop and uninstall the watchdog"
run_watchdog -stop
run_watchdog -uninstall
say "the agent (pid $(last_agent_pid)) still runs: stopping the watchdog leaves it alone"

e2e_pass
