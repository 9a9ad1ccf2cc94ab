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
source "$(dirname "$0")/runner.sh"
keep=("$work/fullscreen.png" "$work/reload.png")
layout_portal --asset-mib 8
client_environment
curl -s -o "$work/reward.expected" "http://127.0.0.1:$((base + 1))/dl/reward.bin" ||
  fail "the portal serves no reward file"
journey 1920x1080 daily_play "$build/bin/qev" "$work" "$base"
echo "daily play e2e: ok"
