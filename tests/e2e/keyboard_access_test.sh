#!/usr/bin/env bash
# One evening with a screen reader and the keyboard, on a bare X server (no window manager,
# so every key reaches the client) with a private accessibility bus:
#   - the login stack's buttons, then the caption's and the reminder's, are in the client's
#     accessible tree with their names and roles (the tree is printed); hidden buttons are not;
#   - the reminder's countdown reads as text and changes from one second to the next;
#   - pressing the caption's "Close" through the accessibility action asks the quit question;
#   - F5 loads the game page again, Alt+F4 asks the quit question and Cancel keeps the frame,
#     the Menu key and Alt+Space open the caption menu under its button, and the keyboard
#     alone switches account through it;
#   - back in the login stack, Tab leaves the page for the Minimize button, which shows a
#     focus ring, and Enter minimises the stack; its "Close" pressed through the
#     accessibility action asks the quit question, and OK ends the client.
# Keeps the screenshots of the focus ring in BUILD_DIR/test-artifacts/.
# Uses the built-in layout's hosts (127.0.0.1, ports $QEV_DEMO_PORT_BASE to +3).
set -euo pipefail
build="$1"
portal="$build/bin/qev-demo-portal"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
artifacts="$build/test-artifacts"
mkdir -p "$artifacts"
source "$here/portal.sh"
source "$here/journey.sh"
trap 'stop_portal; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- journey"; cat "$work/journey.log" 2>/dev/null; echo "--- portal"; tail -40 "$work/portal.log"; exit 1; }

layout_base="${QEV_DEMO_PORT_BASE:-18080}"
start_portal_on "$layout_base" ||
  fail "portal did not start (ports $layout_base..$((layout_base + 3)) busy?)"

client_environment "$work"
set +e
run_journey --bus 1280x800 keyboard_access "$build/bin/qev" "$work/portal.log" "$work" >"$work/journey.log" 2>&1
result=$?
set -e
cp "$work/ring-before.png" "$work/ring-after.png" "$work/login-focus.png" "$artifacts/" 2>/dev/null || true
((result == 0)) || fail "journey ended with $result"
cat "$work/journey.log"
echo "keyboard and accessibility e2e: ok"
