#!/usr/bin/env bash
# Repeated management of the real service under Wine's Service Control
# Manager, ROUNDS rounds (100 by default) of one KIND:
#   stop     install, start, stop, uninstall
#   running  install, start, uninstall of the running service
#   both     the two kinds in turn, stop first (the default)
# Each step reports success; no watchdog process is left behind and the agent
# is started once in all (it keeps running between the rounds, so that each
# service start finds it and leaves it alone).
#   rounds.sh WATCHDOG_EXE FIXTURE_DIR PREFIX [ROUNDS [KIND]]
set -euo pipefail
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
rounds=${4:-100}
kind=${5:-both}
case $kind in
  stop | running | both) ;;
  *) echo "rounds.sh: KIND is stop, running or both, not '$kind'" >&2 && exit 2 ;;
esac
e2e_begin rounds "$1" "$2" "$3"

# A deleted service stays listed until the last handle to it is closed, and the
# stopped service's process holds some until it has ended, a moment after it
# reported "stopped". The removal is waited for, as the process is.
readonly kRemovalSeconds=10

register_agent "$(free_port)"
configure_agent '{"listening_ports": "4901", "ssl_port": 4903}'

diagnosis() {
  printf 'service: %s\nprocesses: %s' "$(service_query | tr '\n' ' ')" \
    "$(win_processes | tr -d '\r' | tr '\n' ' ')"
}

step() { # NAME SWITCH REPORT
  watchdog "$1" "$2"
  [ "$E2E_RC" -eq 0 ] || e2e_fail "round $round: $1 exited with $E2E_RC"
  printf '%s: [didurozir] Success\r\n' "$3" >"$E2E_WORK/$1.expected"
  cmp -s "$E2E_WORK/$1.out" "$E2E_WORK/$1.expected" ||
    e2e_fail "round $round: $1 printed: $(tr -d '\r' <"$E2E_WORK/$1.out")
$(diagnosis)"
}

now_ms() { date +%s%3N; }
removal_waits=0
longest_removal_ms=0
wait_for_removal() {
  local since deadline waited
  service_missing && return 0
  since=$(now_ms)
  deadline=$((SECONDS + kRemovalSeconds))
  until service_missing; do
    [ "$SECONDS" -lt "$deadline" ] ||
      e2e_fail "round $round: still registered $kRemovalSeconds s after the uninstall
$(diagnosis)"
    sleep 0.1
  done
  waited=$(($(now_ms) - since))
  removal_waits=$((removal_waits + 1))
  [ "$waited" -le "$longest_removal_ms" ] || longest_removal_ms=$waited
}

started=$SECONDS
stop_rounds=0
running_rounds=0
for round in $(seq 1 "$rounds"); do
  round_kind=$kind
  if [ "$kind" = both ]; then
    if [ $((round % 2)) -eq 1 ]; then round_kind=stop; else round_kind=running; fi
  fi
  step install -install Install
  step start -start Start
  service_state_is 4 || e2e_fail "round $round: not running after the start
$(diagnosis)"
  if [ "$round_kind" = stop ]; then
    step stop -stop Stop
    service_state_is 1 || e2e_fail "round $round: not stopped after the stop
$(diagnosis)"
    stop_rounds=$((stop_rounds + 1))
  else
    running_rounds=$((running_rounds + 1))
  fi
  step uninstall -uninstall Uninstall
  wait_for_removal
  if [ "$round" -eq 1 ] || [ $((round % 10)) -eq 0 ]; then
    e2e_log "round $round of $rounds done ($((SECONDS - started)) s)"
  fi
done

# The stopped service's process has ended (it may take a moment to leave).
wait_until 10 "no didurozir.exe left" image_gone didurozir.exe
check_eq "$(agent_starts)" 1 "agent starts in $rounds rounds"
check_eq "$(image_pids riduvuruz.exe | wc -l)" 1 "agent processes"
e2e_log "$rounds rounds ($stop_rounds stopped before the uninstall, $running_rounds uninstalled running) in $((SECONDS - started)) s; the entry went only after the uninstall had returned in $removal_waits rounds, at most $longest_removal_ms ms later"
e2e_pass
