#!/usr/bin/env bash
# The body of reminder_test.sh, inside its X server with a tray host. Arguments: the client,
# the scratch folder, the portal's log. Notes what it saw in WORK/steps.
set -u
source "$(dirname "$0")/../journey.sh"
app="$1" work="$2" log="$3"
on_screen 1920 1080
note() { echo "$*" >>"$work/steps"; }
reminder_shown() { xwininfo -root -children | grep -qF "283x93+1637+837"; }

trayer --edge top --align left --widthtype request --heighttype pixel --height 32 \
  --SetDockType false --SetPartialStrut false >/dev/null 2>&1 &
tray=$!
"$app" >"$work/qev.out" 2>&1 &
pid=$!
wait_log " /micro2 -> " 300
sign_in "Tess Ward" && wait_log " /micro2/GetTasks?" 100 && note "logged in"
# One schedule tick (2 s) and the page of the pane.
until_true -n 60 reminder_shown && note "reminder at the corner"
wait_log " /micro2/TaskTips?tid=1 " 50
sleep 1.5
# The countdown ticks every second: keep a picture that two looks agree on, not one mid-paint.
shot() { import -window root -crop 283x93+1637+837 +repage "$1"; }
settled() {
  sleep 0.2; shot "$work/again.png"
  [[ $(compare -metric AE "$work/reminder.png" "$work/again.png" null: 2>&1) == 0* ]] || { mv "$work/again.png" "$work/reminder.png"; false; }
}
shot "$work/reminder.png"
until_true -n 20 settled
import -window root "$work/reminder-screen.png"
xwininfo -root -tree >"$work/tree-open.txt"
# The close button (244,0 32 x 32).
xdotool mousemove $((1637 + 260)) $((837 + 16)) click 1
until_true -n 50 not reminder_shown && note "reminder closed"
xwininfo -root -tree >"$work/tree-closed.txt"
kill $pid
wait $pid 2>/dev/null
kill $tray
wait $tray 2>/dev/null
exit 0
