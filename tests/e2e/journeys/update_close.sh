#!/usr/bin/env bash
# The client of the self-update tests, inside its X server: starts it, waits until its update
# check has ended (its log line: served, refused or none), runs SCRIPT with ARGS when given
# (the client's id in QEV_CLIENT_PID), then closes it from the login stack unless SCRIPT did,
# and answers OK. Arguments: the client, the portal's log, [SCRIPT ARGS...]. Needs
# XDG_STATE_HOME set (the client's log).
set -u
source "$(dirname "$0")/../journey.sh"
app="$1" log="$2"
shift 2
on_screen 1280 800

"$app" >/dev/null 2>&1 &
pid=$!
until_true -n 300 has "$log" "packages/qev%20next.sig"
until_true -n 300 has "$XDG_STATE_HOME/qev/qev.log" "^update .*served by\|^update package refused\|^update check"
(($# == 0)) || QEV_CLIENT_PID=$pid bash "$@"
kill -0 "$pid" 2>/dev/null && { quit_stack || true; }
exit 0
