#!/usr/bin/env bash
# The foreground run in a console window (-consoleStart): it prints the
# agent's path and echoes every command of a recovery, kills the holders of
# watched ports only (never PID 0 of a TIME_WAIT row), and runs until it is
# ended from outside. Wine gives a program a console window only on a display,
# so the run happens in wineconsole on a virtual X display, with its output
# redirected into a file. Every program of the scenario, wineboot first, runs
# on that one display: a window joins the prefix's desktop process, and one
# started by an earlier program without a display has no driver to draw with.
#   console.sh WATCHDOG_EXE FIXTURE_DIR PREFIX
set -euo pipefail
if ! command -v Xvfb >/dev/null || ! command -v xauth >/dev/null; then
  echo "Xvfb or xauth is missing (Debian packages xvfb, xauth): console run not tried"
  exit 77
fi
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
E2E_DISPLAY=1
e2e_begin console "$@"

readonly kCycle=10
readonly kOut="$E2E_C/e2e/console-out.txt"

register_agent "$(free_port)"
configure_agent '{"listening_ports": "4901,4902", "ssl_port": 4903}'
default_port_holder=$(start_holder default_port_holder)
listening_port_holder=$(start_holder listening_port_holder)
bystander=$(start_holder bystander)
write_netstat_rows <<ROWS
TCP 127.0.0.1:4033 127.0.0.1:50123 TIME_WAIT 0
TCP 0.0.0.0:4033 0.0.0.0:0 LISTENING $default_port_holder
TCP 0.0.0.0:4902 0.0.0.0:0 LISTENING $listening_port_holder
TCP 0.0.0.0:5555 0.0.0.0:0 LISTENING $bystander
ROWS
e2e_log "holders: 4033 $default_port_holder, 4902 $listening_port_holder; bystander $bystander"

# cmd's own quoting rules are easier to meet from a batch file.
printf '@"%s" -consoleStart > C:\\e2e\\console-out.txt\r\n' "$E2E_WATCHDOG_WIN" \
  >"$E2E_C/e2e/console-run.cmd"
wine wineconsole cmd /c 'C:\e2e\console-run.cmd' \
  </dev/null >"$E2E_WORK/wineconsole.log" 2>&1 &
console_job=$!
E2E_BACKGROUND_PIDS+=("$console_job")

# A recovery echoes its commands and ends with the agent's start. They run
# through cmd, which now and then fails to start a program it should find: a
# lost netstat or taskkill leaves a holder alive, a lost start leaves the agent
# missing until the next cycle's recovery. The scenario takes up to three
# recoveries to see the holders gone and the agent running (killing the agent
# to ask for another one when a holder lives), and checks the commands of the
# last one.
readonly kRecoveries=3
readonly kStartCommand="command : $E2E_AGENT_WIN -start"
start_echoes() { if [ -f "$kOut" ]; then grep -cF "$kStartCommand" "$kOut" || true; else echo 0; fi; }
recoveries_echoed() { [ "$(start_echoes)" -ge "$1" ]; }
holders_gone() { pid_gone "$default_port_holder" && pid_gone "$listening_port_holder"; }
# The echoed commands of the last recovery, each line with its CR. A holder
# killed by an earlier recovery is no process any more: a later one runs no
# command for it and says so ("not killed : PID <pid> (ended before its kill
# command: ...)"), which counts as its kill here.
last_recovery() {
  grep -E '^(command|not killed) : ' "$kOut" |
    sed -E 's/^not killed : PID ([0-9]+) \(ended before its kill command: [^)]*\)(\r?)$/command : taskkill \/F \/pid \1\2/' |
    kStart="$kStartCommand"$'\r' awk '
    { block = block $0 "\n" }
    $0 == ENVIRON["kStart"] { last = block; block = "" }
    END { printf "%s", last }'
}
# Up to 5 s for the started agent's log line (it follows the echo).
agent_started_soon() {
  local _
  for _ in $(seq 20); do
    agent_started_times "$1" && return 0
    sleep 0.25
  done
  return 1
}

wait_until 60 "echo of the agent's start command" recoveries_echoed 1
console_pid=$(image_pids didurozir.exe)
[ -n "$console_pid" ] || e2e_fail "no didurozir.exe process"
starts=0 # agent starts before the recovery looked at
for recovery in $(seq "$kRecoveries"); do
  if agent_started_soon $((starts + 1)) && holders_gone; then break; fi
  [ "$recovery" -lt "$kRecoveries" ] ||
    e2e_fail "no agent with the holders gone after $kRecoveries recoveries"
  if agent_started_times $((starts + 1)); then
    e2e_log "a holder outlived recovery $recovery (cmd lost its netstat or a taskkill): once more"
    win taskkill /F /pid "$(last_agent_pid)" >/dev/null
    starts=$(agent_starts)
  else
    e2e_log "no agent after recovery $recovery (cmd lost its start): the next cycle's"
  fi
  wait_until $((2 * kCycle + 15)) "recovery $((recovery + 1))" recoveries_echoed $((recovery + 1))
done

# The kill commands run in byte-wise order of the PID texts. The commands'
# own output (taskkill's messages) shares the file.
kills=$(printf '%s\n' "$default_port_holder" "$listening_port_holder" | sort |
  sed 's|^|command : taskkill /F /pid |; s|$|\r|')
expected_commands=$(printf '%s\n%s\r' "$kills" "$kStartCommand")
check_eq "$(head -c 100 "$kOut" | head -n 2)" "quenlink path : $E2E_AGENT_WIN"$'\r\n\r' \
  "the agent's path and a blank line"
check_eq "$(last_recovery)" "$expected_commands" "echoed commands of the recovery"
grep -q 'taskkill /F /pid 0' "$kOut" && e2e_fail "PID 0 was passed to taskkill"
e2e_log "ok: no taskkill of PID 0"
pid_alive "$bystander" || e2e_fail "the holder of an unwatched port was killed"
e2e_log "ok: holders of watched ports killed, the bystander lives"
agent=$(last_agent_pid)

e2e_log "--- the agent running: nothing more happens, the run goes on"
commands=$(grep -c '^command : ' "$kOut")
sleep $((kCycle + 2))
check_eq "$(grep -c '^command : ' "$kOut")" "$commands" "commands echoed"
check_eq "$(image_pids didurozir.exe)" "$console_pid" "the console run's process"
check_eq "$(agent_starts)" $((starts + 1)) "agent starts"

e2e_log "--- ended from outside"
win taskkill /F /pid "$console_pid" >/dev/null
wait_until 10 "didurozir.exe ended" image_gone didurozir.exe
console_closed() { ! kill -0 "$console_job" 2>/dev/null; }
wait_until 20 "console window closed" console_closed
pid_alive "$agent" || e2e_fail "ending the console run ended the agent"

e2e_pass
