#!/usr/bin/env bash
# shellcheck disable=SC2016 # until_true evaluates its conditions
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
until_true 'grep -q "packages/qev%20next.sig" "$log"' 300
until_true 'grep -qsE "^update .*served by|^update package refused|^update check" "$XDG_STATE_HOME/qev/qev.log"' 300
(($# == 0)) || QEV_CLIENT_PID=$pid bash "$@"
kill -0 "$pid" 2>/dev/null && { quit_stack || true; }
exit 0
