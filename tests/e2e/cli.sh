#!/usr/bin/env bash
# The command line as an administrator meets it: the help text, invalid
# arguments, a run without switches, and the management switches on a missing
# and on an installed service, with their messages and exit statuses.
#   cli.sh WATCHDOG_EXE FIXTURE_DIR PREFIX
set -euo pipefail
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_begin cli "$@"

# Exit code 0xFFFFFFFF reaches a Unix caller of wine as 255.
readonly kRefused=255
# Printed through the runtime's text mode, so each line ends in CR LF.
readonly kHelp='-help, -?: 해당 도움말을 보여준다.\r\n\r\n-install: 서비스를 인스톨할 때 사용한다.\r\n-uninstall: 서비스를 언인톨할 때 사용한다. \r\n-start: 서비스를 시작 시킨다. \r\n-stop: 서비스를 중지 시킨다. \r\n'
# The system's texts (Wine's wording; Windows words them differently) end in
# their own CR LF, which text mode turns into CR CR LF; the message's own line
# end follows as a blank line.
readonly kNotInstalled='Service does not exist.\r\r\n\r\n'
readonly kExists='Service exists.\r\r\n\r\n'

# Arguments that end the run before any operation: none may install.
while IFS='|' read -r name args expected; do
  # shellcheck disable=SC2086  # args is a word list
  watchdog "$name" $args
  check_output "$name" "$kRefused" "$expected"
  service_missing || e2e_fail "$name installed the service"
done <<TABLE
help|-help|$kHelp
help_question_mark|/?|$kHelp
help_upper_case|-HELP|$kHelp
help_after_valid_switch|-install -help|$kHelp
bare_word|install|Invalid Value: install\r\n
lone_hyphen|-|Invalid Value: -\r\n
lone_slash|/|Invalid Value: /\r\n
unknown_switch|-frobnicate|Invalid Value: -frobnicate\r\n
unknown_after_valid|-install -frobnicate|Invalid Value: -frobnicate\r\n
TABLE

# Without a switch, and with the console-start switch but no console window,
# the program hands over to the service dispatcher, which refuses a process
# that the Service Control Manager did not start: nothing printed.
watchdog no_argument
check_output no_argument "$kRefused" ''
watchdog console_start_without_console -consoleStart
check_output console_start_without_console "$kRefused" ''

# Management switches report the outcome and exit 0 either way.
while IFS='|' read -r name args expected; do
  # shellcheck disable=SC2086
  watchdog "$name" $args
  check_output "$name" 0 "$expected"
done <<TABLE
uninstall_missing|-uninstall|Uninstall: [didurozir] $kNotInstalled
start_missing|-start|Start: [didurozir] $kNotInstalled
stop_missing|/Stop|Stop: [didurozir] $kNotInstalled
install|-install|Install: [didurozir] Success\r\n
install_again|/INSTALL|Install: [didurozir] $kExists
stop_stopped|-stop|Stop: [didurozir] Success\r\n
uninstall_wins_over_install|-install -uninstall|Uninstall: [didurozir] Success\r\n
uninstall_again|-uninstall|Uninstall: [didurozir] $kNotInstalled
TABLE
service_missing || e2e_fail "the service is still installed"
e2e_log "ok: the service is gone"

e2e_pass
