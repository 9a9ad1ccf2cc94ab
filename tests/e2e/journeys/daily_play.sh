#!/usr/bin/env bash
# The body of daily_play_test.sh, inside its X server. Arguments: the client, the scratch
# folder (the portal's log and the player's home are in it), the portal's first port.
set -u
source "$(dirname "$0")/../journey.sh"
app="$1" work="$2" base="$3"
log="$work/portal.log" clientlog="$work/home/state/qev/qev.log"
downloads="$work/home/Downloads"
debug=$((base + 9)) # the remote-debugging port (the portal takes base .. base + 3)
on_screen 1920 1080
logged() { grep -c "$1" "$clientlog" 2>/dev/null || true; }
# Renderer processes of the client: the engine processes its zygotes forked (they may
# still carry the zygote name), that is, those below the client but not its children.
renderers() {
  ps -eo pid=,ppid=,args= | awk -v root="$pid" '{ parent[$1] = $2; engine[$1] = ($0 ~ /QtWebEngineProcess/) }
    END { for (p in parent) { if (!engine[p] || parent[p] == root) continue
            q = p; while ((q in parent) && q != root) q = parent[q]; if (q == root) print p } }'
}
start_client() {
  QTWEBENGINE_REMOTE_DEBUGGING=$debug "$app" >/dev/null 2>&1 &
  pid=$!
  until_js micro2 "document.readyState" '"complete"' 300
}
# The form is there once the client started; the realm list once the signed-in page (or the
# greeting of a remembered player) has loaded.
page_ready() {
  if [[ $1 == realms ]]; then
    until_js "micro2?user=" "document.readyState" '"complete"' 100 ||
      until_js "micro2" '!!document.getElementById("greeting")' "true" 10 || return 1
  fi
  sleep 0.5
}
# entered: the game window is up and its page has loaded its pack.
entered() {
  until_true some frame_id || { echo "no game window"; return 1; }
  until_js play "window.packLoaded === true" "true" 300
}

step "day 1: sign in, remembered"
start_client || exit 10
D eval micro2 "document.getElementById(\"remember\").checked = true" >/dev/null || exit 11
windows="$(xdotool search --onlyvisible --name . | wc -l)"
[[ "$(D eval micro2 "Notification.requestPermission()")" == "\"denied\"" ]] || { echo "notifications not denied"; exit 12; }
sign_in Aldric && entered || exit 13
grep -q "Set-Cookie: remember=Aldric" "$log" || grep -q "remember=Aldric" "$log" || true

step "music plays without a click"
until_js play "document.getElementById(\"music\").paused" "false" 100 || exit 14
step "notifications denied, no window"
[[ "$(D eval play "Notification.requestPermission()")" == "\"denied\"" ]] || { echo "game page: notifications not denied"; exit 15; }
sleep 0.5
(( $(xdotool search --onlyvisible --name . | wc -l) <= windows + 2 )) || { echo "a window appeared"; xdotool search --onlyvisible --name . getwindowname %@; exit 16; }

step "reminder open"
until_true says 283x93+1637+837 xwininfo -root -children || { echo "no reminder"; exit 17; }
# A part of its artwork without the page or the digits, once two looks agree (it has painted).
reminder_crop() { import -window root -crop 160x40+1747+842 +repage "$1"; }
differ() { local d; d="$(compare -metric AE -fuzz 10% "$1" "$2" null: 2>&1)"; echo "${d%% *}"; }
# near NAME PIXELS: a new look (reminder-NAME.png) differs from the settled one in fewer pixels.
near() { reminder_crop "$work/reminder-$1.png"; (($(differ "$work/reminder-before.png" "$work/reminder-$1.png") < $2)); }
settled() { sleep 0.2; near again 50 || { cp "$work/reminder-again.png" "$work/reminder-before.png"; false; }; }
reminder_crop "$work/reminder-before.png"
until_true -n 30 settled || { echo "the reminder never settled"; exit 17; }

step "full screen from the page button"
size="$(D eval play "[innerWidth, innerHeight]")"
game_click 80 30
until_js play "[innerWidth, innerHeight, !!document.fullscreenElement]" "[1920, 1080, true]" 50 || exit 18
sleep 0.5
import -window root "$work/fullscreen.png"
until_true -n 30 near full 300 ||
  { echo "the reminder is not above the full-screen game ($(differ "$work/reminder-before.png" "$work/reminder-full.png") pixels differ)"; exit 19; }
step "Esc restores the frame"
xdotool key Escape
until_js play "[innerWidth, innerHeight]" "$size" 50 || exit 20
[[ "$(D eval play "!!document.fullscreenElement")" == "false" ]] || exit 21
geometry="$(xdotool getwindowgeometry "$(frame_id)" | tr "\n" " ")"
[[ "$geometry" == *"Position: 0,0"* && "$geometry" == *"Geometry: 1920x1080"* ]] || { echo "not maximised: $geometry"; exit 22; }

step "pointer lock, released by Esc"
game_click 900 600 # the lock is the player's to give: one per click
[[ "$(D eval play "new Promise(function (done) { document.addEventListener(\"pointerlockchange\", function () { done(!!document.pointerLockElement); }, {once: true}); document.addEventListener(\"pointerlockerror\", function () { done(false); }, {once: true}); document.body.requestPointerLock(); })")" == "true" ]] || { echo "pointer lock refused"; exit 37; }
xdotool key Escape
until_js play "!!document.pointerLockElement" "false" 30 || exit 38

step "zoom per host"
xdotool mousemove --sync 900 500 key ctrl+plus
until_true -n 50 has "$work/home/.local/share/qev/zoom.ini" "^127\.0\.0\.1=110$" || { echo "zoom not kept"; cat "$work/home/.local/share/qev/zoom.ini"; exit 23; }
until_js play "Math.round(devicePixelRatio * 100)" "110" 30 || exit 24
xdotool key ctrl+0
until_js play "Math.round(devicePixelRatio * 100)" "100" 30 || exit 25

step "downloads"
game_click 80 75
until_true cmp -s "$downloads/reward.bin" "$work/reward.expected" || { echo "reward.bin not saved"; ls -la "$downloads"; exit 26; }
game_click 80 75
until_true cmp -s "$downloads/reward (1).bin" "$work/reward.expected" || { echo "no reward (1).bin"; ls -la "$downloads"; exit 27; }
failed="$(logged "download failed")"
game_click 80 115
until_true -n 150 above "$failed" logged "download failed" || { echo "the cut download did not fail"; exit 28; }
sleep 1.5 # no input for longer than the window a download needs
D eval play "(function(){var a=document.createElement(\"a\");a.href=\"/dl/reward.bin\";a.download=\"pushed.bin\";document.body.appendChild(a);a.click();return true})()" >/dev/null
until_true -n 50 above 0 logged "download refused" || { echo "a pushed download was not refused"; exit 29; }
ls -A "$downloads" > "$work/downloads.txt"
[[ "$(cat "$work/downloads.txt")" == "$(printf "reward (1).bin\nreward.bin")" ]] || { echo "download folder:"; cat "$work/downloads.txt"; exit 30; }

step "render process killed"
plays="$(count "GET :[0-9]* /play?")"
renderers | xargs kill -9
grows "GET :[0-9]* /play?" "$plays" 30 || { echo "the game page was not asked for again within 3 s"; exit 31; }
until_js play "window.packLoaded === true" "true" 300 || exit 32
step "killed again: Reload"
plays="$(count "GET :[0-9]* /play?")"
renderers | xargs kill -9
until_true -n 50 above 0 logged "second time within a minute" || { echo "no second-death message"; exit 33; }
sleep 0.5
(( $(count "GET :[0-9]* /play?") == plays )) || { echo "the page looped"; exit 34; }
import -window root "$work/reload.png"
IFS=", " read -r w h < <(echo "$size" | tr -d "[]")
game_click $((w / 2)) $((h / 2))
grows "GET :[0-9]* /play?" "$plays" 50 || { echo "Reload did nothing"; exit 35; }
quit_client || exit 36

step "day 2: remembered, cached"
packs="$(count "GET :[0-9]* /assets/pack.js")"
start_client || exit 40
until_js micro2 "(document.getElementById(\"greeting\") || {}).textContent" "\"Welcome back, Aldric\"" 50 || exit 41
step "a second copy"
QTWEBENGINE_REMOTE_DEBUGGING=$((debug + 1)) "$app" >/dev/null 2>&1 & second=$!
until_true above 0 logged "another copy of the client uses" || { echo "the second copy did not step aside"; exit 42; }
kill $second; wait $second
open_realm && entered || exit 43
(( $(count "GET :[0-9]* /assets/pack.js") == packs )) || { echo "pack.js fetched again:"; curl -s "http://127.0.0.1:$base/stats"; exit 44; }
quit_client || exit 45

step "day 3: still remembered; Switch Account"
start_client || exit 50
until_js micro2 "(document.getElementById(\"greeting\") || {}).textContent" "\"Welcome back, Aldric\"" 50 || exit 51
open_realm && entered || exit 52
switch_account || exit 53
until_true not some frame_id || exit 54
until_js micro2 "!!document.getElementById(\"user\") && !document.getElementById(\"greeting\")" "true" 100 || exit 55
sign_in Brenna && entered || exit 56
quit_client || exit 57

step "day 4: the form again"
start_client || exit 60
until_js micro2 "!!document.getElementById(\"user\") && !document.getElementById(\"greeting\")" "true" 50 || exit 61
kill $pid; wait $pid
exit 0
