#!/usr/bin/env bash
# A hostile game page, with real clicks and keys on a real X server: it cannot reach the
# player's desktop or trap the player.
#  - addresses for a desktop handler: refused without input; after a click the player is
#    asked, No (the default) opens nothing, Yes hands the address to the desktop's handler;
#  - pointer lock: none without input, one per click, not again after Esc;
#  - a loop of alerts ends by itself after two boxes, a page reloading between them too;
#  - an ad frame of another site, clicked once, leaves the login pane on the portal; it asks
#    nothing for a desktop handler; a foreign pop-up's opener.location leaves the game tab;
#  - pop-ups: none without input, one per click, at most four open;
#  - Switch Account: no "leave this page?" question, the old page's requests stop, its
#    pop-ups close; the client still closes from its own button.
# Keeps pictures of the question about a desktop handler and of the foreign pop-up's bar
# (test-artifacts/scheme_question.png, foreign_popup_bar.png).
# Uses the built-in layout's hosts (127.0.0.1, ports $QEV_DEMO_PORT_BASE to +3).
source "$(dirname "$0")/runner.sh"
keep=("$work/scheme_question.png" "$work/foreign_popup_bar.png")
layout_portal
client_environment
# The desktop's handler of addresses records what it is asked to open, and opens nothing.
mkdir -p "$work/bin"
cat >"$work/bin/xdg-open" <<'SCRIPT'
#!/bin/sh
printf '%s\n' "$*" >>"$HOME/opened.log"
SCRIPT
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"
journey 1280x800 hostile_pages "$build/bin/qev" "$work" "$base"
echo "hostile pages e2e: ok"
