# shellcheck shell=bash
# Shared by the end-to-end scenarios and scripts/demo.sh: a throwaway Wine
# prefix with its own wineserver, the agent and netstat stand-ins installed in
# it, and small helpers to run Windows programs, wait for conditions and check
# results. Source it, then call e2e_begin.
#
# Layout inside the prefix (C: is $E2E_C):
#   C:\e2e\agent\riduvuruz.exe    the agent stand-in, registered as service
#                                 riduvuruz; agent-port.txt and
#                                 agent-starts.log beside it
#   C:\e2e\conf\server.conf       the agent's configuration (configPath)
#   C:\e2e\netstat-rows.txt       the socket rows that netstat.exe reports
#   C:\e2e\netstat-calls.log      one line per netstat call
#   C:\windows\system32\netstat.exe  the netstat stand-in
#   C:\Program Files\QUENTAR\didurozir.exe  the watchdog under test

E2E_AGENT_WIN='C:\e2e\agent\riduvuruz.exe'
E2E_CONF_WIN='C:\e2e\conf'
E2E_WATCHDOG_WIN='C:\Program Files\QUENTAR\didurozir.exe'
E2E_SERVICE_NAME=didurozir

e2e_log() { printf '[%s] %s\n' "$(date +%T.%3N)" "$*"; }

e2e_fail() {
  printf '[%s] FAIL: %s\n' "$(date +%T.%3N)" "$*" >&2
  exit 1
}

# e2e_begin NAME WATCHDOG_EXE FIXTURE_DIR PREFIX
# Recreates PREFIX, starts its wineserver and installs the stand-ins. The
# prefix's wineserver, and with it every Windows process of the run, is ended
# when the calling script exits, whatever the outcome. With E2E_DISPLAY=1 set
# before the call, everything in the prefix runs on a virtual X display of its
# own (e2e_start_display); otherwise on none.
e2e_begin() {
  E2E_NAME=$1
  E2E_WATCHDOG=$(realpath "$2")
  E2E_FIXTURES=$(realpath "$3")
  export WINEPREFIX
  WINEPREFIX=$(realpath -m "$4")
  export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' LC_ALL=C LANG=C
  # Console windows exist only where a scenario asks for a display.
  unset DISPLAY WAYLAND_DISPLAY XAUTHORITY
  E2E_C=$WINEPREFIX/drive_c
  E2E_WORK=$WINEPREFIX.work
  E2E_BACKGROUND_PIDS=()
  E2E_XVFB_PID=
  E2E_PASSED=0
  trap e2e_end EXIT
  wineserver -k 2>/dev/null || true # a server left by an aborted run
  rm -rf "$WINEPREFIX" "$E2E_WORK"
  mkdir -p "$WINEPREFIX" "$E2E_WORK"
  # Before the prefix's first program: the first one starts the prefix's
  # desktop process, which later windows join. Started without a display it
  # has no driver, and every window after it fails, display or not.
  [ "${E2E_DISPLAY:-0}" != 1 ] || e2e_start_display
  e2e_log "$E2E_NAME: creating a fresh Wine prefix in $WINEPREFIX"
  # The prefix is made in a session of its own that ends completely: starting
  # the persistent server first leaves two services.exe, two SCMs that
  # disagree about which services exist.
  wine wineboot -i >/dev/null 2>&1 || e2e_fail "wineboot could not create the prefix"
  wineserver -w
  (wineserver -p -f >/dev/null 2>&1 &)
  e2e_install_standins
}

# e2e_trace_events LOG: Wine keeps no Event Log. Its ReportEventW prints the
# event ID on fixme:advapi and each insert on the "eventlog" channel, on the
# standard error of the service's process, which inherits it from
# services.exe: so the prefix's server is restarted and services.exe started
# with those channels and its standard error appended to LOG.
e2e_trace_events() {
  E2E_EVENT_LOG=$1
  wineserver -k 2>/dev/null || true
  timeout 20 wineserver -w 2>/dev/null || true
  (wineserver -p -f >/dev/null 2>&1 &)
  WINEDEBUG=-all,+eventlog,fixme+advapi wine cmd /c exit </dev/null >/dev/null 2>>"$E2E_EVENT_LOG"
}
# What e2e_trace_events caught: event_id_pattern ID matches the line of an
# event written with ID (Wine prints it in hex); reported_id ID: it was
# written; reported_count ID: how many times; reported_insert TEXT: an insert
# written holds TEXT.
event_id_pattern() { printf 'ReportEventW (.*,0x0000,0x%08x,' "$1"; }
reported_id() { grep -q "$(event_id_pattern "$1")" "$E2E_EVENT_LOG"; }
reported_count() { grep -c "$(event_id_pattern "$1")" "$E2E_EVENT_LOG" || true; }
reported_insert() { grep -F 'eventlog:ReportEventW L"' "$E2E_EVENT_LOG" | grep -qF -- "$1"; }
# last_event_inserts ID: the inserts of the last event ID written, one a line
# as Wine prints them (L"..."): each follows the event's fixme line on its own
# eventlog line, up to the next event.
last_event_inserts() {
  awk -v id="$(printf '0x%08x' "$1")" '
    /fixme:advapi:ReportEvent/ {
      inside = index($0, "," id ",") > 0
      if (inside) inserts = ""
      next
    }
    inside && /eventlog:ReportEventW L"/ {
      sub(/^.*eventlog:ReportEventW /, "")
      inserts = inserts $0 "\n"
    }
    END { printf "%s", inserts }' "$E2E_EVENT_LOG"
}
# rendered_event ID: the last event ID as Event Viewer shows it: its message
# from the installed message DLL, with the inserts in place.
rendered_event() {
  last_event_inserts "$1" >"$E2E_WORK/event-$1.txt"
  win "$E2E_FIXTURES/e2e_render_event.exe" \
    "${E2E_WATCHDOG_WIN%\\*}\\didurozir-messages.dll" "$1" \
    "Z:$E2E_WORK/event-$1.txt" | tr -d '\r'
}

# Ends the prefix's processes and server; removes the prefix after a pass.
e2e_end() {
  local status=$?
  trap - EXIT
  local pid
  for pid in "${E2E_BACKGROUND_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wineserver -k 2>/dev/null || true
  timeout 20 wineserver -w 2>/dev/null || true
  for pid in "${E2E_BACKGROUND_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  # The display goes last: nothing of the prefix is left to draw on it.
  if [ -n "${E2E_XVFB_PID:-}" ]; then
    kill "$E2E_XVFB_PID" 2>/dev/null || true
    wait "$E2E_XVFB_PID" 2>/dev/null || true
  fi
  if [ "$status" -eq 0 ] && [ "$E2E_PASSED" -eq 1 ]; then
    rm -rf "$WINEPREFIX" "$E2E_WORK"
    e2e_log "${E2E_PASS_MESSAGE:-$E2E_NAME: PASSED}"
  else
    [ "$status" -ne 0 ] || status=1
    e2e_log "${E2E_FAIL_MESSAGE:-$E2E_NAME: FAILED} (prefix kept: $WINEPREFIX)"
  fi
  exit "$status"
}

# e2e_start_display: a virtual X display (Xvfb) on a free display number,
# with an access cookie of its own, in DISPLAY for every later program; ended
# by e2e_end.
e2e_start_display() {
  if ! command -v Xvfb >/dev/null || ! command -v xauth >/dev/null; then
    e2e_fail "Xvfb and xauth are needed (Debian packages xvfb, xauth)"
  fi
  export XAUTHORITY=$E2E_WORK/Xauthority
  local cookie display_file=$E2E_WORK/xvfb.display
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  : >"$XAUTHORITY"
  : >"$display_file"
  # The server takes every cookie in its file, whatever display it names; the
  # clients look one up by number, known only once the server has picked it.
  xauth -q add :0 . "$cookie" || e2e_fail "could not write the display's cookie"
  # -displayfd picks a free number and writes it once clients may connect.
  Xvfb -displayfd 3 -auth "$XAUTHORITY" -nolisten tcp -screen 0 1024x768x24 \
    3>"$display_file" </dev/null >"$E2E_WORK/xvfb.log" 2>&1 &
  E2E_XVFB_PID=$!
  local deadline=$((SECONDS + 20))
  until grep -q '^[0-9][0-9]*$' "$display_file"; do
    kill -0 "$E2E_XVFB_PID" 2>/dev/null || e2e_fail "Xvfb ended: $(tail -n 3 "$E2E_WORK/xvfb.log")"
    [ "$SECONDS" -lt "$deadline" ] || e2e_fail "Xvfb did not start within 20 s"
    sleep 0.1
  done
  DISPLAY=":$(head -n 1 "$display_file")"
  export DISPLAY
  xauth -q add "$DISPLAY" . "$cookie" || e2e_fail "could not write the display's cookie"
  e2e_log "virtual display $DISPLAY (Xvfb pid $E2E_XVFB_PID)"
}

# Marks the scenario as complete; call it last.
e2e_pass() { E2E_PASSED=1; }

# Runs a Windows program; its exit status (8 bits, as Wine reports it) is the
# function's.
win() { wine "$@" </dev/null 2>/dev/null; }

# win_capture NAME PROGRAM ARGS...: stdout into $E2E_WORK/NAME.out, byte for
# byte; the exit status into E2E_RC.
win_capture() {
  local name=$1
  shift
  E2E_RC=0
  wine "$@" </dev/null >"$E2E_WORK/$name.out" 2>"$E2E_WORK/$name.err" || E2E_RC=$?
}

# watchdog NAME ARGS...: runs the installed copy of the watchdog, captured as
# by win_capture.
watchdog() {
  local name=$1
  shift
  win_capture "$name" "$E2E_WATCHDOG_WIN" "$@"
}

# The Unix path of a file below C:.
c_path() { printf '%s/%s' "$E2E_C" "$(printf '%s' "$1" | sed 's|^[Cc]:\\||; s|\\|/|g')"; }

# ---- checks ---------------------------------------------------------------

# check_output NAME EXPECTED_RC EXPECTED (printf %b escapes, CR LF spelled out)
check_output() {
  local name=$1 expected_rc=$2 expected=$3
  [ "$E2E_RC" -eq "$expected_rc" ] ||
    e2e_fail "$name: exit status $E2E_RC, expected $expected_rc; output: $(od -c "$E2E_WORK/$name.out" | head -20)"
  printf '%b' "$expected" >"$E2E_WORK/$name.expected"
  cmp -s "$E2E_WORK/$name.out" "$E2E_WORK/$name.expected" ||
    e2e_fail "$name: output differs
--- expected
$(od -c "$E2E_WORK/$name.expected")
--- actual
$(od -c "$E2E_WORK/$name.out")"
  e2e_log "ok: $name (exit $E2E_RC)"
}

check_eq() { # ACTUAL EXPECTED WHAT
  [ "$1" = "$2" ] || e2e_fail "$3: got '$1', expected '$2'"
  e2e_log "ok: $3 = '$2'"
}

# wait_until SECONDS WHAT COMMAND...: polls COMMAND until it succeeds; fails
# the scenario after SECONDS.
wait_until() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || e2e_fail "no $what within $seconds s"
    sleep 0.5
  done
  e2e_log "ok: $what"
}

# ---- processes ------------------------------------------------------------

# "<pid> <image>" per running Windows process (Wine's tasklist prints nothing).
win_processes() { win "$E2E_FIXTURES/e2e_processes.exe"; }
pid_alive() { win_processes | awk -v pid="$1" '$1 == pid { found = 1 } END { exit !found }'; }
pid_gone() { ! pid_alive "$1"; }
image_pids() { win_processes | awk -v image="$1" '$2 == image { print $1 }'; }
image_running() { [ -n "$(image_pids "$1")" ]; }
image_gone() { [ -z "$(image_pids "$1")" ]; }

# start_holder NAME: a leftover process; prints its Windows PID.
start_holder() {
  local pid_file="$E2E_C/e2e/$1.pid"
  rm -f "$pid_file"
  wine "$E2E_FIXTURES/e2e_leftover.exe" "C:\\e2e\\$1.pid" </dev/null >/dev/null 2>&1 &
  local deadline=$((SECONDS + 20))
  until [ "$(wc -l 2>/dev/null <"$pid_file" || echo 0)" -ge 1 ]; do
    [ "$SECONDS" -lt "$deadline" ] || e2e_fail "leftover $1 did not start"
    sleep 0.2
  done
  awk '{ print $1; exit }' "$pid_file"
}

# ---- the stand-ins --------------------------------------------------------

e2e_install_standins() {
  mkdir -p "$E2E_C/e2e/agent" "$E2E_C/e2e/conf" "$(dirname "$(c_path "$E2E_WATCHDOG_WIN")")"
  cp "$E2E_FIXTURES/riduvuruz.exe" "$E2E_C/e2e/agent/"
  cp "$E2E_FIXTURES/e2e_netstat.exe" "$E2E_C/windows/system32/netstat.exe"
  cp "$E2E_WATCHDOG" "$(c_path "$E2E_WATCHDOG_WIN")"
  # The event messages that -install registers, beside the executable.
  cp "$(dirname "$E2E_WATCHDOG")/didurozir-messages.dll" "$(dirname "$(c_path "$E2E_WATCHDOG_WIN")")/"
  : >"$E2E_C/e2e/netstat-rows.txt"
  # Wine's own netstat lists no sockets: the copy on disk must win.
  win reg add 'HKCU\Software\Wine\DllOverrides' /v netstat.exe /d native /f >/dev/null
  # cmd now and then fails to start a program it should find (exit 9009): a
  # few tries.
  local try
  for try in 1 2 3; do
    win cmd /c netstat -ano | grep -q 'Active Connections' && break
    [ "$try" -lt 3 ] || e2e_fail "the netstat stand-in is not what cmd runs"
  done
  rm -f "$E2E_C/e2e/netstat-calls.log"
}

# register_agent [PORT]: the agent's service key with its ImagePath; the
# agent listens on PORT (a free one by default).
register_agent() {
  local port=${1:-$(free_port)}
  printf '%s\n' "$port" >"$E2E_C/e2e/agent/agent-port.txt"
  win sc create riduvuruz binPath= "$E2E_AGENT_WIN" >/dev/null || true
  win reg query 'HKLM\SYSTEM\CurrentControlSet\Services\riduvuruz' /v ImagePath |
    grep -qF "$E2E_AGENT_WIN" || e2e_fail "the agent's ImagePath is not registered"
}

# The agent's service key below HKEY_LOCAL_MACHINE, and security for it in
# SDDL: SYSTEM and Administrators keep full control, and Everyone gets it too
# (world-writable), read only (what the audit's remedy leaves), or nothing.
# Each sets the owner (Administrators) too: given a DACL alone, Wine makes
# the caller's primary group ("None") the owner of a key that `sc create`
# made, an untrusted owner that the audit would report besides.
# shellcheck disable=SC2034  # read by the scenarios
E2E_AGENT_KEY='SYSTEM\CurrentControlSet\Services\riduvuruz' \
  E2E_KEY_WORLD_WRITABLE='O:BAD:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KA;;;WD)' \
  E2E_KEY_EVERYONE_READS='O:BAD:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;WD)' \
  E2E_KEY_TRUSTED_ONLY='O:BAD:(A;;KA;;;SY)(A;;KA;;;BA)'

# set_key_security SUBKEY SDDL: replaces the DACL of HKLM\SUBKEY (and its
# owner, when SDDL has O:); Wine has no command for it.
set_key_security() {
  local now
  now=$(win "$E2E_FIXTURES/e2e_key_security.exe" "$1" "$2" | tr -d '\r') ||
    e2e_fail "could not set the security of HKLM\\$1: $now"
  e2e_log "HKLM\\$1 now has $now"
}

# configure_agent JSON: writes server.conf and points configPath at it.
configure_agent() {
  printf '%s\n' "$1" >"$E2E_C/e2e/conf/server.conf"
  win reg add 'HKLM\SOFTWARE\QUENTAR\Agent' /v configPath /d "$E2E_CONF_WIN" /f >/dev/null ||
    e2e_fail "could not write configPath"
}

# A TCP port on which nothing listens on this machine now (Wine's sockets are
# the host's), for the agent's own socket.
free_port() {
  local port used
  used=$(awk 'NR > 1 && $4 == "0A" { split($2, a, ":"); print a[2] }' \
    /proc/net/tcp /proc/net/tcp6 2>/dev/null | sort -u)
  for _ in $(seq 100); do
    port=$((20000 + RANDOM % 30000))
    grep -qx "$(printf '%04X' "$port")" <<<"$used" || break
  done
  echo "$port"
}

# write_netstat_rows: the rows (stdin) that netstat.exe reports from now on.
write_netstat_rows() { cat >"$E2E_C/e2e/netstat-rows.txt"; }

count_lines() { # FILE PATTERN: 0 when the file doesn't exist yet
  if [ -f "$1" ]; then grep -c -- "$2" "$1" || true; else echo 0; fi
}
agent_starts() { count_lines "$E2E_C/e2e/agent/agent-starts.log" 'pid='; }
agent_started_times() { [ "$(agent_starts)" -ge "$1" ]; }
last_agent_pid() { tail -n 1 "$E2E_C/e2e/agent/agent-starts.log" | sed 's/.* pid=\([0-9]*\).*/\1/'; }
netstat_calls() { count_lines "$E2E_C/e2e/netstat-calls.log" 'args='; }

# ---- the watchdog's service -----------------------------------------------

# service_query: the registration and state, "KEY : value" lines, or
# "OpenService FAILED <code>".
service_query() { { win "$E2E_FIXTURES/e2e_sc.exe" qc "$E2E_SERVICE_NAME" || true; } | tr -d '\r'; }
# service_control pause|continue: Wine's sc sends neither.
service_control() { win "$E2E_FIXTURES/e2e_sc.exe" "$1" "$E2E_SERVICE_NAME" >/dev/null; }
service_field() { service_query | sed -n "s/^$1 : //p"; }
service_state_is() { [ "$(service_field STATE)" = "$1" ]; }
service_missing() { service_query | grep -q '^OpenService FAILED 1060$'; }
