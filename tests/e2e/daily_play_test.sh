#!/usr/bin/env bash
# A player's days with the client, with real clicks and keys on a real X server, the pages
# read through the web engine's remote-debugging port:
#  day 1: signs in with "Remember me"; the game's music plays unasked; a page's request for
#         notifications is denied without a window; the game goes full screen from its own
#         button (the reminder stays above it) and back with Esc; the pointer locks and Esc
#         releases it; zoom with Ctrl+plus is
#         remembered per host; a click saves a download byte for byte, a second click makes
#         " (1)", a download cut by the portal leaves no file, and one the page starts on its
#         own is refused; the game page's render process is killed and the page comes back,
#         killed again within a minute and the view offers Reload, which works.
#  day 2: the portal greets the player without a login and the game's 8 MiB script comes
#         from the disk cache; a second copy started meanwhile keeps its hands off the profile.
#  day 3: still remembered (the second copy spoiled nothing); Switch Account shows the form
#         again, a sign-in without "Remember me" follows.
#  day 4: the login form, not the greeting.
# Uses the built-in layout's hosts (127.0.0.1, ports $QEV_DEMO_PORT_BASE to +3).
set -euo pipefail
build="$1"
portal="$build/bin/qev-demo-portal"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
source "$here/portal.sh"
trap 'stop_portal; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  echo "--- steps"; cat "$work/steps.log" 2>/dev/null
  echo "--- client log"; cat "$work/home/state/qev/qev.log" 2>/dev/null
  echo "--- portal (last 40)"; tail -40 "$work/portal.log"
  exit 1
}

base="${QEV_DEMO_PORT_BASE:-18080}"
start_portal_on "$base" --asset-mib 8 ||
  fail "portal did not start (ports $base..$((base + 3)) busy?)"

mkdir -p "$work/home"
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" TMPDIR="$work"
unset XDG_DATA_HOME XDG_CACHE_HOME XDG_DOWNLOAD_DIR
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
export QT_QPA_PLATFORM=xcb
curl -s -o "$work/reward.expected" "http://127.0.0.1:$((base + 1))/dl/reward.bin" ||
  fail "the portal serves no reward file"

set +e
xvfb-run -a -s "-screen 0 1920x1080x24" bash -c '
  set -u
  app="$1"; work="$2"; devtools="$3"; base="$4"
  log="$work/portal.log"; clientlog="$work/home/state/qev/qev.log"
  downloads="$work/home/Downloads"
  debug=$((base + 9)) # the remote-debugging port (the portal takes base .. base + 3)
  step() { echo "step: $*"; }
  D() { python3 "$devtools" "$debug" "$@"; }
  # until CONDITION [tenths]: waits for a shell condition.
  until_true() { for _ in $(seq "${2:-100}"); do eval "$1" && return 0; sleep 0.1; done; return 1; }
  # until_js PAGE EXPR EXPECTED [tenths]: waits until the page answers EXPECTED (JSON).
  until_js() { for _ in $(seq "${4:-100}"); do [[ "$(D eval "$1" "$2" 2>/dev/null)" == "$3" ]] && return 0; sleep 0.1; done
               echo "page $1: $2 is $(D eval "$1" "$2" 2>&1), not $3"; return 1; }
  count() { grep -c "$1" "$log" || true; }
  logged() { grep -c "$1" "$clientlog" 2>/dev/null || true; }
  # The login stack (663 x 391) is centred on the 1920 x 1080 screen at (628, 344); its page
  # starts at (646, 392). The maximised frame puts its game page at (4, 30).
  page_click() { xdotool mousemove --sync $((646 + $1)) $((392 + $2)) click 1; }
  game_click() { xdotool mousemove --sync $((4 + $1)) $((30 + $2)) click 1; }
  frame_id() { xdotool search --onlyvisible --name "^QEV$" 2>/dev/null | head -1; }
  # Renderer processes of the client: the engine processes its zygotes forked (they may
  # still carry the zygote name), that is, those below the client but not its children.
  renderers() {
    ps -eo pid=,ppid=,args= | awk -v root="$pid" "{ parent[\$1] = \$2; engine[\$1] = (\$0 ~ /QtWebEngineProcess/) }
      END { for (p in parent) { if (!engine[p] || parent[p] == root) continue
              q = p; while ((q in parent) && q != root) q = parent[q]; if (q == root) print p } }"
  }
  start_client() { QTWEBENGINE_REMOTE_DEBUGGING=$debug "$app" >/dev/null 2>&1 & pid=$!
                   until_js micro2 "document.readyState" "\"complete\"" 300; }
  quit_client() {
    local frame; frame="$(frame_id)"
    xdotool mousemove --sync $((1920 - 14)) 15 click 1
    local box=""; for _ in $(seq 50); do box="$(xdotool search --onlyvisible --name "^Velmora Client$" | grep -v "^$frame$" | head -1)"; [[ -n "$box" ]] && break; sleep 0.1; done
    [[ -n "$box" ]] || { echo "no quit question"; return 1; }
    xdotool windowfocus --sync "$box"; xdotool key Return
    until_true "! kill -0 $pid 2>/dev/null" 150 || { echo "client did not end"; kill $pid; return 1; }
    wait $pid
  }
  # sign_in NAME: types the name into the form, then opens the first realm.
  sign_in() {
    local before; before="$(count "GET :[0-9]* /micro2?user=")"
    sleep 0.5 # the form paints after it loads
    page_click 150 165; xdotool type --delay 30 "$1"; xdotool key Return
    until_true "(( \$(count \"GET :[0-9]* /micro2?user=\") > before ))" || { echo "no sign-in"; return 1; }
    open_realm
  }
  open_realm() {
    local plays; plays="$(count "GET :[0-9]* /play?")"
    until_js "micro2?user=" "document.readyState" "\"complete\"" 100 ||
      until_js "micro2" "!!document.getElementById(\"greeting\")" "true" 10 || return 1
    sleep 0.5
    page_click 200 147
    until_true "(( \$(count \"GET :[0-9]* /play?\") > plays ))" 150 || { echo "the realm did not open"; return 1; }
    until_true "[[ -n \$(frame_id) ]]" || { echo "no game window"; return 1; }
    until_js play "window.packLoaded === true" "true" 300
  }

  step "day 1: sign in, remembered"
  start_client || exit 10
  D eval micro2 "document.getElementById(\"remember\").checked = true" >/dev/null || exit 11
  windows="$(xdotool search --onlyvisible --name . | wc -l)"
  [[ "$(D eval micro2 "Notification.requestPermission()")" == "\"denied\"" ]] || { echo "notifications not denied"; exit 12; }
  sign_in Aldric || exit 13
  grep -q "Set-Cookie: remember=Aldric" "$log" || grep -q "remember=Aldric" "$log" || true

  step "music plays without a click"
  until_js play "document.getElementById(\"music\").paused" "false" 100 || exit 14
  step "notifications denied, no window"
  [[ "$(D eval play "Notification.requestPermission()")" == "\"denied\"" ]] || { echo "game page: notifications not denied"; exit 15; }
  sleep 0.5
  (( $(xdotool search --onlyvisible --name . | wc -l) <= windows + 2 )) || { echo "a window appeared"; xdotool search --onlyvisible --name . getwindowname %@; exit 16; }

  step "reminder open"
  until_true "xwininfo -root -children | grep -qF \"283x93+1637+837\"" 100 || { echo "no reminder"; exit 17; }
  # A part of its artwork without the page or the digits, once two looks agree (it has painted).
  reminder_crop() { import -window root -crop 160x40+1747+842 +repage "$1"; }
  differ() { local d; d="$(compare -metric AE -fuzz 10% "$1" "$2" null: 2>&1)"; echo "${d%% *}"; }
  reminder_crop "$work/reminder-before.png"
  until_true "sleep 0.2; reminder_crop \"$work/reminder-again.png\"; (( \$(differ \"$work/reminder-before.png\" \"$work/reminder-again.png\") < 50 )) || { cp \"$work/reminder-again.png\" \"$work/reminder-before.png\"; false; }" 30 ||
    { echo "the reminder never settled"; exit 17; }

  step "full screen from the page button"
  size="$(D eval play "[innerWidth, innerHeight]")"
  game_click 80 30
  until_js play "[innerWidth, innerHeight, !!document.fullscreenElement]" "[1920, 1080, true]" 50 || exit 18
  sleep 0.5
  import -window root "$work/fullscreen.png"
  cp "$work/fullscreen.png" "$work/fullscreen-shot.png"
  until_true "reminder_crop \"$work/reminder-full.png\"; (( \$(differ \"$work/reminder-before.png\" \"$work/reminder-full.png\") < 300 ))" 30 ||
    { echo "the reminder is not above the full-screen game ($(differ "$work/reminder-before.png" "$work/reminder-full.png") pixels differ)"; exit 19; }
  step "Esc restores the frame"
  xdotool key Escape
  until_js play "[innerWidth, innerHeight]" "$size" 50 || exit 20
  [[ "$(D eval play "!!document.fullscreenElement")" == "false" ]] || exit 21
  geometry="$(xdotool getwindowgeometry "$(frame_id)" | tr "\n" " ")"
  [[ "$geometry" == *"Position: 0,0"* && "$geometry" == *"Geometry: 1920x1080"* ]] || { echo "not maximised: $geometry"; exit 22; }

  step "pointer lock, released by Esc"
  [[ "$(D eval play "new Promise(function (done) { document.addEventListener(\"pointerlockchange\", function () { done(!!document.pointerLockElement); }, {once: true}); document.addEventListener(\"pointerlockerror\", function () { done(false); }, {once: true}); document.body.requestPointerLock(); })")" == "true" ]] || { echo "pointer lock refused"; exit 37; }
  xdotool key Escape
  until_js play "!!document.pointerLockElement" "false" 30 || exit 38

  step "zoom per host"
  xdotool mousemove --sync 900 500 key ctrl+plus
  until_true "grep -sqx \"127.0.0.1=110\" \"$work/home/.local/share/qev/zoom.ini\"" 50 || { echo "zoom not kept"; cat "$work/home/.local/share/qev/zoom.ini"; exit 23; }
  until_js play "Math.round(devicePixelRatio * 100)" "110" 30 || exit 24
  xdotool key ctrl+0
  until_js play "Math.round(devicePixelRatio * 100)" "100" 30 || exit 25

  step "downloads"
  game_click 80 75
  until_true "cmp -s \"$downloads/reward.bin\" \"$work/reward.expected\"" 100 || { echo "reward.bin not saved"; ls -la "$downloads"; exit 26; }
  game_click 80 75
  until_true "cmp -s \"$downloads/reward (1).bin\" \"$work/reward.expected\"" 100 || { echo "no reward (1).bin"; ls -la "$downloads"; exit 27; }
  failed="$(logged "download failed")"
  game_click 80 115
  until_true "(( \$(logged \"download failed\") > failed ))" 150 || { echo "the cut download did not fail"; exit 28; }
  sleep 1.5 # no input for longer than the window a download needs
  D eval play "(function(){var a=document.createElement(\"a\");a.href=\"/dl/reward.bin\";a.download=\"pushed.bin\";document.body.appendChild(a);a.click();return true})()" >/dev/null
  until_true "(( \$(logged \"download refused\") > 0 ))" 50 || { echo "a pushed download was not refused"; exit 29; }
  ls -A "$downloads" > "$work/downloads.txt"
  [[ "$(cat "$work/downloads.txt")" == "$(printf "reward (1).bin\nreward.bin")" ]] || { echo "download folder:"; cat "$work/downloads.txt"; exit 30; }

  step "render process killed"
  plays="$(count "GET :[0-9]* /play?")"
  kill -9 $(renderers)
  until_true "(( \$(count \"GET :[0-9]* /play?\") > plays ))" 30 || { echo "the game page was not asked for again within 3 s"; exit 31; }
  until_js play "window.packLoaded === true" "true" 300 || exit 32
  step "killed again: Reload"
  plays="$(count "GET :[0-9]* /play?")"
  kill -9 $(renderers)
  until_true "(( \$(logged \"second time within a minute\") > 0 ))" 50 || { echo "no second-death message"; exit 33; }
  sleep 0.5
  (( $(count "GET :[0-9]* /play?") == plays )) || { echo "the page looped"; exit 34; }
  import -window root "$work/reload.png"
  IFS=", " read -r w h < <(echo "$size" | tr -d "[]")
  game_click $((w / 2)) $((h / 2))
  until_true "(( \$(count \"GET :[0-9]* /play?\") > plays ))" 50 || { echo "Reload did nothing"; exit 35; }
  quit_client || exit 36

  step "day 2: remembered, cached"
  packs="$(count "GET :[0-9]* /assets/pack.js")"
  start_client || exit 40
  until_js micro2 "(document.getElementById(\"greeting\") || {}).textContent" "\"Welcome back, Aldric\"" 50 || exit 41
  step "a second copy"
  QTWEBENGINE_REMOTE_DEBUGGING=$((debug + 1)) "$app" >/dev/null 2>&1 & second=$!
  until_true "(( \$(logged \"another copy of the client uses\") > 0 ))" 100 || { echo "the second copy did not step aside"; exit 42; }
  kill $second; wait $second
  open_realm || exit 43
  (( $(count "GET :[0-9]* /assets/pack.js") == packs )) || { echo "pack.js fetched again:"; curl -s "http://127.0.0.1:$base/stats"; exit 44; }
  quit_client || exit 45

  step "day 3: still remembered; Switch Account"
  start_client || exit 50
  until_js micro2 "(document.getElementById(\"greeting\") || {}).textContent" "\"Welcome back, Aldric\"" 50 || exit 51
  open_realm || exit 52
  frame="$(frame_id)"
  xdotool mousemove --sync $((1920 - 74)) 15 click 1; sleep 1
  xdotool key Down Down Return
  box=""; for _ in $(seq 50); do box="$(xdotool search --onlyvisible --name "^Velmora Client$" | grep -v "^$frame$" | head -1)"; [[ -n "$box" ]] && break; sleep 0.1; done
  [[ -n "$box" ]] || { echo "no switch question"; exit 53; }
  xdotool windowfocus --sync "$box"; xdotool key Return
  until_true "[[ -z \$(frame_id) ]]" 100 || exit 54
  until_js micro2 "!!document.getElementById(\"user\") && !document.getElementById(\"greeting\")" "true" 100 || exit 55
  sign_in Brenna || exit 56
  quit_client || exit 57

  step "day 4: the form again"
  start_client || exit 60
  until_js micro2 "!!document.getElementById(\"user\") && !document.getElementById(\"greeting\")" "true" 50 || exit 61
  kill $pid; wait $pid
  exit 0
' _ "$build/bin/qev" "$work" "$here/devtools.py" "$base" >"$work/steps.log" 2>&1
result=$?
set -e
mkdir -p "$build/test-artifacts"
cp "$work/fullscreen-shot.png" "$build/test-artifacts/fullscreen.png" 2>/dev/null || true
cp "$work/reload.png" "$build/test-artifacts/reload.png" 2>/dev/null || true
((result == 0)) || fail "daily play ended with $result"
echo "daily play e2e: ok"
