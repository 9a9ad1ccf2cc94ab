#!/usr/bin/env bash
# The body of sandbox_user_test.sh, inside its X server (open to the player). Arguments: the
# test's folder (the player's copy of the client, its home and the portal's log), the player,
# the portal's port.
set -u
source "$(dirname "$0")/../journey.sh"
work="$1" player="$2" base="$3"
log="$work/portal.log"

runuser -u "$player" -- env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" HOME="$work/home" \
  XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=xcb "$work/qev" >"$work/client.out" 2>&1 &
pid=$!
wait_log "GET :$base /micro2 " 300 || { echo "no login page request"; exit 10; }
# The page has painted once the login pane is no longer one flat colour.
painted() {
  import -window root "$work/shot.png"
  spread="$(convert "$work/shot.png" -crop 300x200+326+252 +repage -colorspace gray -format "%[fx:standard_deviation]" info:)"
  awk -v s="$spread" "BEGIN { exit !(s > 0.03) }"
}
until_true painted || { echo "the login page did not render (spread $spread)"; exit 11; }
# Its render processes are sandboxed: forked from the zygote of the engine inside a user
# namespace other than the one of the client (and so still named after the zygote).
own="$(readlink "/proc/$pid/ns/user")"; sandboxed=0
for p in $(pgrep -u "$player" -f QtWebEngineProcess); do
  grep -q -- "--no-sandbox" "/proc/$p/cmdline" && { echo "process $p runs with --no-sandbox"; exit 12; }
  [[ "$(readlink "/proc/$p/ns/user")" != "$own" ]] && sandboxed=$((sandboxed + 1))
done
echo "engine processes in a sandbox namespace: $sandboxed"
((sandboxed > 0)) || exit 13
# Only the engine error reports may be there (this X server has no GPU to give it).
if grep -Ev "^\[[0-9]+:[0-9]+:[0-9/.]+:(ERROR|FATAL):" "$work/client.out" >"$work/chatter"; then
  echo "the client wrote to the terminal:"; head -20 "$work/chatter"; exit 14
fi
kill $pid; wait $pid
exit 0
