#!/usr/bin/env bash
# Repeated management of the real service under Wine's Service Control
# Manager: ROUNDS (50 by default) of install, start, stop and uninstall, each
# reporting success, with no watchdog process left behind and the agent
# started once in all (it keeps running between the rounds, so that each
# service start finds it and leaves it alone).
#   rounds.sh WATCHDOG_EXE FIXTURE_DIR PREFIX [ROUNDS]
set -euo pipefail
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
rounds=${4:-50}
e2e_begin rounds "$1" "$2" "$3"

register_agent "$(free_port)"
configure_agent '{"listening_ports": "4901", "ssl_port": 4903}'

step() { # NAME SWITCH REPORT
  watchdog "$1" "$2"
  [ "$E2E_RC" -eq 0 ] || e2e_fail "round $round: $1 exited with $E2E_RC"
  printf '%s: [didurozir] Success\r\n' "$3" >"$E2E_WORK/$1.expected"
  cmp -s "$E2E_WORK/$1.out" "$E2E_WORK/$1.expected" ||
    e2e_fail "round $round: $1 printed: $(tr -d '\r' <"$E2E_WORK/$1.out")
service: $(service_query | tr '\n' ' ')
processes: $(win_processes | tr -d '\r' | tr '\n' ' ')"
}

started=$SECONDS
for round in $(seq 1 "$rounds"); do
  step install -install Install
  step start -start Start
  service_state_is 4 || e2e_fail "round $round: not running after the start"
  step stop -stop Stop
  step uninstall -uninstall Uninstall
  service_missing || e2e_fail "round $round: still registered"
  if [ "$round" -eq 1 ] || [ $((round % 10)) -eq 0 ]; then
    e2e_log "round $round of $rounds done ($((SECONDS - started)) s)"
  fi
done

# The stopped service's process has ended (it may take a moment to leave).
wait_until 10 "no didurozir.exe left" image_gone didurozir.exe
check_eq "$(agent_starts)" 1 "agent starts in $rounds rounds"
check_eq "$(image_pids riduvuruz.exe | wc -l)" 1 "agent processes"
e2e_log "$rounds rounds in $((SECONDS - started)) s"
e2e_pass
