#!/usr/bin/env bash
# The body of self_update_two_copies_test.sh, inside its X server. Arguments: the test's folder,
# the static host's port, the portal's process id.
set -u
source "$(dirname "$0")/../journey.sh"
work="$1" port="$2" portal="$3"
log="$XDG_STATE_HOME/qev/qev.log"
on_screen 1280 800

"$work/app/qev" >/dev/null 2>&1 &
pid=$!
wait_log "served by" 300 || { echo "the first copy verified nothing"; kill $pid; exit 1; }
# The host turns hostile.
kill "$portal"; while kill -0 "$portal" 2>/dev/null; do sleep 0.05; done
python3 "$e2e_dir/update_hostile_host.py" "$work/manifest.xml" "$work/evil" "$port" 2>"$work/hostile.log" &
echo $! >"$work/hostile.pid"
until_true -n 50 listening "$port"
"$work/app/qev" >/dev/null 2>&1 &
second=$!
until_true -n 300 has "$work/hostile.log" "\.sig"
# Close the first copy: the stack of the second copy moved off the first one (no window
# manager here), then the close button of the first, and OK.
move_second() {
  local w moved=1
  for w in $(xdotool search --onlyvisible --pid "$second" 2>/dev/null); do
    xdotool windowmove "$w" 0 0 2>/dev/null && moved=0
  done
  return "$moved"
}
until_true move_second
sleep 0.5
quit_stack
# Give the hand-over its time, then end the second copy.
sleep 5
kill $second 2>/dev/null; wait $second 2>/dev/null
exit 0
