#!/usr/bin/env bash
# shellcheck disable=SC2034 # journey.sh reads $pid
# Run by self_update_test.sh (as update_close.sh's script) once the client has
# verified the update: sign in, read the game window's status bar through the accessibility
# bus, keep a screenshot, then close the game window and answer OK. Arguments: the portal's
# log, the file the status text goes to, the screenshot. The client is $QEV_CLIENT_PID.
set -u
source "$(dirname "$0")/../journey.sh"
log="$1" status="$2" shot="$3"
pid="$QEV_CLIENT_PID"
on_screen 1280 800

wait_log "GET :[0-9]* /micro2 " || exit 11
sign_in Aldric || exit 11
until_true sized 1280 || { echo "no game window"; exit 12; }
status_text() { probe texts "Version " >"$status"; }
until_true status_text ||
  { echo "no update status in the tree"; exit 13; }
sleep 1 # the game page paints
import -window root "$shot"
quit_client
