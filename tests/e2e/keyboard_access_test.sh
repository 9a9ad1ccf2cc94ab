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
source "$(dirname "$0")/runner.sh"
keep=("$work/ring-before.png" "$work/ring-after.png" "$work/login-focus.png")
layout_portal
client_environment
journey --bus 1280x800 keyboard_access "$build/bin/qev" "$work/portal.log" "$work"
echo "keyboard and accessibility e2e: ok"
