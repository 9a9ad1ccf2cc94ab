#!/usr/bin/env bash
# A player's whole evening, with real clicks on a real X server: sign in on the portal page,
# pick a realm, play in the maximised game window (its page reports the client's cookie),
# switch account back to the login stack, sign in again, close the client and confirm.
# Keeps a screenshot of the game window in the build folder (game_window.png).
# Uses the built-in layout's hosts (127.0.0.1, ports $QEV_DEMO_PORT_BASE to +3).
set -euo pipefail
build="$1"
portal="$build/bin/qev-demo-portal"
work="$(mktemp -d)"
source "$(dirname "$0")/portal.sh"
trap 'stop_portal; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- portal"; cat "$work/portal.log"; echo "--- journey"; cat "$work/journey.log" 2>/dev/null; exit 1; }

layout_base="${QEV_DEMO_PORT_BASE:-18080}"
start_portal_on "$layout_base" ||
  fail "portal did not start (ports $layout_base..$((layout_base + 3)) busy?)"

mkdir -p "$work/home"
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" TMPDIR="$work"
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
export QT_QPA_PLATFORM=xcb
rm -f "$build/game_window.png"
set +e
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  set -u
  app="$1"; log="$2"; shot="$3"
  step() { echo "step: $*"; }
  wait_log() { # pattern [tenths]
    for _ in $(seq "${2:-200}"); do grep -q "$1" "$log" && return 0; sleep 0.1; done
    echo "timed out waiting for $1"; return 1
  }
  count() { grep -c "$1" "$log" || true; }
  # The login stack (663 x 391) is centred on the 1280 x 800 screen at (308, 204); its
  # page starts at (326, 252) (the pane at 20, 50 with a 2-pixel margin).
  page_click() { xdotool mousemove --sync $((326 + $1)) $((252 + $2)) click 1; }
  sign_in() { # hero name
    local before; before="$(count "GET :[0-9]* /micro2?user=")"
    wait_log "GET :[0-9]* /micro2 " || return 1
    sleep 1 # the page paints after it loads
    page_click 150 165                      # the name field
    xdotool type --delay 30 "$1"; xdotool key Return
    for _ in $(seq 100); do (($(count "GET :[0-9]* /micro2?user=") > before)) && break; sleep 0.1; done
    (($(count "GET :[0-9]* /micro2?user=") > before)) || { echo "no sign-in"; return 1; }
    sleep 1
    local plays; plays="$(count "GET :[0-9]* /play?")"
    page_click 200 147                      # the first realm
    for _ in $(seq 150); do (($(count "GET :[0-9]* /play?") > plays)) && return 0; sleep 0.1; done
    echo "the realm did not open"; return 1
  }
  frame_id() { xdotool search --onlyvisible --name "^QEV$" 2>/dev/null | head -1; }

  "$app" >/dev/null 2>&1 & pid=$!
  step "sign in"; sign_in Aldric || exit 11
  step "game window"
  for _ in $(seq 100); do [[ -n "$(frame_id)" ]] && break; sleep 0.1; done
  frame="$(frame_id)"; [[ -n "$frame" ]] || { echo "no game window"; exit 12; }
  xdotool getwindowgeometry "$frame"
  geometry="$(xdotool getwindowgeometry "$frame" | tr "\n" " ")"
  [[ "$geometry" == *"Position: 0,0"* && "$geometry" == *"Geometry: 1280x800"* ]] ||
    { echo "not maximised: $geometry"; exit 13; }
  # The game page sees its cookie: the marking runs after the load, the page shows it.
  sleep 3
  import -window root "$shot" 2>/dev/null || echo "no screenshot"
  step "switch account"
  logouts="$(count "GET :[0-9]* /micro2/Logout")"
  xdotool mousemove --sync $((1280 - 74)) 15 click 1   # the caption menu button
  sleep 1
  xdotool key Down Down Return                          # Switch Account
  # Switch account asks first: Return answers OK.
  for _ in $(seq 50); do box="$(xdotool search --onlyvisible --name "^Velmora Client$" | grep -v "^$frame$" | head -1)"; [[ -n "$box" ]] && break; sleep 0.1; done
  [[ -n "$box" ]] || { echo "no question"; exit 14; }
  xdotool windowfocus --sync "$box"; xdotool key Return
  for _ in $(seq 50); do (($(count "GET :[0-9]* /micro2/Logout") > logouts)) && break; sleep 0.1; done
  (($(count "GET :[0-9]* /micro2/Logout") > logouts)) || { echo "no logout page"; exit 15; }
  step "login stack again"
  for _ in $(seq 50); do [[ -z "$(frame_id)" ]] && break; sleep 0.1; done
  [[ -z "$(frame_id)" ]] || { echo "game window still shown"; exit 16; }
  sign_in Brenna || exit 17
  for _ in $(seq 100); do [[ -n "$(frame_id)" ]] && break; sleep 0.1; done
  frame="$(frame_id)"; [[ -n "$frame" ]] || { echo "no game window the second time"; exit 18; }
  step "close and confirm"
  sleep 1
  xdotool mousemove --sync $((1280 - 14)) 15 click 1
  for _ in $(seq 50); do box="$(xdotool search --onlyvisible --name "^Velmora Client$" | grep -v "^$frame$" | head -1)"; [[ -n "$box" ]] && break; sleep 0.1; done
  [[ -n "$box" ]] || { echo "no quit question"; exit 19; }
  xdotool windowfocus --sync "$box"; xdotool key Return
  for _ in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then echo "client did not end"; kill $pid; exit 20; fi
  wait $pid; code=$?
  echo "client exit code $code"
  exit $code' _ "$build/bin/qev" "$work/portal.log" "$build/game_window.png" >"$work/journey.log" 2>&1
result=$?
set -e
((result == 0)) || fail "journey ended with $result"
grep -q "Cookie: korvel=1" "$work/portal.log" || fail "the game host never saw the cookie"
[[ -s "$build/game_window.png" ]] || fail "no screenshot"
echo "game journey e2e: ok"
