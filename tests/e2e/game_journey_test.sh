#!/usr/bin/env bash
# A player's whole evening, with real clicks on a real X server: sign in on the portal page,
# pick a realm, play in the maximised game window (its page reports the client's cookie),
# switch account back to the login stack, sign in again, close the client and confirm.
# Keeps a screenshot of the game window in the build folder (game_window.png).
# Uses the built-in layout's hosts (127.0.0.1, ports $QEV_DEMO_PORT_BASE to +3).
set -euo pipefail
build="$1"
portal="$build/bin/qev-demo-portal"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
source "$here/portal.sh"
source "$here/journey.sh"
trap 'stop_portal; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- portal"; cat "$work/portal.log"; echo "--- journey"; cat "$work/journey.log" 2>/dev/null; exit 1; }

layout_base="${QEV_DEMO_PORT_BASE:-18080}"
start_portal_on "$layout_base" ||
  fail "portal did not start (ports $layout_base..$((layout_base + 3)) busy?)"
client_environment "$work"
rm -f "$build/game_window.png"
set +e
run_journey 1280x800 game_journey "$build/bin/qev" "$work/portal.log" "$build/game_window.png" >"$work/journey.log" 2>&1
result=$?
set -e
((result == 0)) || fail "journey ended with $result"
grep -q "Cookie: korvel=1" "$work/portal.log" || fail "the game host never saw the cookie"
[[ -s "$build/game_window.png" ]] || fail "no screenshot"
echo "game journey e2e: ok"
