#!/usr/bin/env bash
# A hostile game page, with real clicks and keys on a real X server: it cannot reach the
# player's desktop or trap the player.
#  - addresses for a desktop handler: refused without input; after a click the player is
#    asked, No (the default) opens nothing, Yes hands the address to the desktop's handler;
#  - pointer lock: none without input, one per click, not again after Esc;
#  - a loop of alerts ends by itself after two boxes, a page reloading between them too;
#  - an ad frame of another site: clicked once it leaves the login pane on the portal; its
#    address for a desktop handler asks nothing, after a click outside it too;
#  - a pop-up of another site shows the client's bar; its opener.location leaves the game
#    tab in place;
#  - pop-ups: none without input, one per click, at most four open;
#  - Switch Account: no "leave this page?" question, the old page's requests stop, its
#    pop-ups close; the client still closes from its own button.
# Keeps pictures of the question about a desktop handler and of the foreign pop-up's bar
# (test-artifacts/scheme_question.png, foreign_popup_bar.png).
# Uses the built-in layout's hosts (127.0.0.1, ports $QEV_DEMO_PORT_BASE to +3).
set -euo pipefail
build="$1"
portal="$build/bin/qev-demo-portal"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
source "$here/portal.sh"
source "$here/journey.sh"
trap 'stop_portal; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  echo "--- steps"; cat "$work/steps.log" 2>/dev/null
  echo "--- client log"; cat "$work/home/state/qev/qev.log" 2>/dev/null
  echo "--- portal (last 40)"; tail -40 "$work/portal.log"
  exit 1
}

base="${QEV_DEMO_PORT_BASE:-18080}"
start_portal_on "$base" || fail "portal did not start (ports $base..$((base + 3)) busy?)"
client_environment "$work"
# The desktop's handler of addresses records what it is asked to open, and opens nothing.
mkdir -p "$work/bin"
cat >"$work/bin/xdg-open" <<'SCRIPT'
#!/bin/sh
printf '%s\n' "$*" >>"$HOME/opened.log"
SCRIPT
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

set +e
run_journey 1280x800 hostile_pages "$build/bin/qev" "$work" "$base" >"$work/steps.log" 2>&1
result=$?
set -e
mkdir -p "$build/test-artifacts"
cp "$work/scheme_question.png" "$work/foreign_popup_bar.png" "$build/test-artifacts/" 2>/dev/null || true
((result == 0)) || fail "the journey ended with $result"
cat "$work/steps.log"
echo "hostile pages e2e: ok"
