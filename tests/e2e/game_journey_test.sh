#!/usr/bin/env bash
# A player's whole evening, with real clicks on a real X server: sign in on the portal page,
# pick a realm, play in the maximised game window (its page reports the client's cookie),
# switch account back to the login stack, sign in again, close the client and confirm.
# Keeps a screenshot of the game window in the build folder (game_window.png).
# Uses the built-in layout's hosts (127.0.0.1, ports $QEV_DEMO_PORT_BASE to +3).
source "$(dirname "$0")/runner.sh"
layout_portal
client_environment
rm -f "$build/game_window.png"
journey 1280x800 game_journey "$build/bin/qev" "$work/portal.log" "$build/game_window.png"
grep -q "Cookie: korvel=1" "$work/portal.log" || fail "the game host never saw the cookie"
[[ -s "$build/game_window.png" ]] || fail "no screenshot"
echo "game journey e2e: ok"
