#!/usr/bin/env bash
# shellcheck disable=SC2001 # sed strips the indent of every line of the tree
# The body of keyboard_access_test.sh, inside its X server with a bus of its own. Arguments:
# the client, the portal's log, a scratch folder.
set -u
source "$(dirname "$0")/../journey.sh"
app="$1" log="$2" work="$3"
on_screen 1280 800
visible_windows() { xdotool search --onlyvisible --class "^qev$" 2>/dev/null | sort; }
# Opens the caption menu with key $1: menu is its window, menu_at its "x y width height".
open_menu() {
  local before
  before="$(visible_windows)"
  xdotool windowfocus --sync "$frame"
  xdotool key "$1"
  until_true -n 50 new_menu || return 1
  menu_at="$(xwininfo -id "$menu" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}')"
}
new_menu() { menu="$(comm -13 <(echo "$before") <(visible_windows) | head -1)"; [[ -n $menu ]]; }
close_menu() {
  xdotool key Escape
  until_true -n 50 not says "^$menu$" visible_windows
}
tree() { # label text-to-wait-for: the accessible tree in $tree_text, printed
  until_true tree_with "$2"
  echo "--- accessible tree: $1"
  echo "$tree_text"
  echo "---"
}
tree_with() { tree_text="$(probe tree 2>/dev/null)" && [[ $tree_text == *"$1"* ]]; }
in_tree() { grep -qxF -- "$1" <<<"$(sed "s/^ *//" <<<"$tree_text")" || { echo "not in the tree: $1"; return 1; }; }

"$app" >"$work/qev.out" 2>&1 &
pid=$!

step "login stack on the accessibility bus"
wait_log "GET :[0-9]* /micro2 " || exit 10
tree "login stack" "push button 'Close'"
in_tree "push button 'Minimize'" || exit 11
in_tree "push button 'Close'" || exit 11

step "sign in"
sign_in Aldric || exit 12
until_true sized 1280 || { echo "no game window"; exit 13; }
frame="$box"

step "caption and reminder on the accessibility bus"
tree "game window and reminder" "label 'Starts in"
for name in Menu Minimize Restore Close "Close reminder" Collapse; do
  in_tree "push button '$name'" || exit 14
done
grep -q "push button 'Expand'" <<<"$tree_text" && { echo "the hidden Expand tab is exposed"; exit 14; }
# The hidden login stack exposes no buttons: the one Minimize is the caption's.
(($(grep -c "push button 'Minimize'" <<<"$tree_text") == 1)) || { echo "the hidden stack's buttons are exposed"; exit 14; }
grep -q "push button 'Maximize'" <<<"$tree_text" && { echo "Maximize while maximised"; exit 14; }
# The game tab reads as the text it draws (the realm title), beside the window buttons.
tabs="$(grep -c "^    push button" <<<"$tree_text")"
((tabs == 5)) || { echo "the caption shows 5 buttons, the tree has $tabs"; exit 14; }

step "countdown as text"
first="$(probe texts "Starts in ")" || { echo "no countdown text"; exit 15; }
# The activity starts ten minutes after the portal did.
[[ $first =~ ^Starts\ in\ (0[0-9]:[0-5][0-9]|10:00)$ ]] || { echo "countdown reads \"$first\""; exit 15; }
ticked() { second="$(probe texts "Starts in ")"; [[ $second != "$first" ]]; }
until_true -n 25 ticked
echo "countdown: \"$first\" then \"$second\""
[[ $second != "$first" ]] || { echo "the countdown text did not change"; exit 15; }

step "Close through the accessibility action"
probe press Close || { echo "no Close to press"; exit 16; }
wait_question "$frame" || { echo "no quit question after the press"; exit 16; }
answer Escape || { echo "the question stayed"; exit 16; }
kill -0 $pid 2>/dev/null || { echo "the client ended on Cancel"; exit 16; }

step "F5"
plays="$(count "GET :[0-9]* /play?")"
xdotool windowfocus --sync "$frame"; xdotool key F5
grows "GET :[0-9]* /play?" "$plays" || { echo "F5 loaded nothing"; exit 17; }

step "Alt+F4"
xdotool windowfocus --sync "$frame"; xdotool key alt+F4
wait_question "$frame" || { echo "no quit question after Alt+F4"; exit 18; }
answer Escape || { echo "the question stayed"; exit 18; }
xwininfo -id "$frame" | grep -q "IsViewable" || { echo "Cancel did not keep the frame"; exit 18; }
kill -0 $pid 2>/dev/null || { echo "the client ended on Cancel"; exit 18; }

step "caption menu from the keyboard"
# The menu button is 20 x 20 at 84 px from the right edge, 5 px down: the menu opens as for a
# click in its middle, its right edge with the button's, its top at 15 + 16.
for keys in Menu alt+space; do
  open_menu "$keys" || { echo "$keys opened no menu"; exit 19; }
  read -r mx my mw mh <<<"$menu_at"
  echo "menu from $keys at $mx,$my size ${mw}x$mh"
  ((mx + mw == 1280 - 84 + 20 && my == 15 + 16)) || { echo "menu from $keys misplaced"; exit 19; }
  close_menu || { echo "Escape left the menu open"; exit 19; }
done

step "switch account with the keyboard"
logins="$(count "GET :[0-9]* /micro2 ")"
open_menu Menu || { echo "no menu"; exit 20; }
xdotool key Down Down Return # Switch Account
wait_question "$frame" || { echo "no switch question"; exit 20; }
answer Return || { echo "the question stayed"; exit 20; }
grows "GET :[0-9]* /micro2 " "$logins"
until_true sized 663 || { echo "no login stack"; exit 20; }
stack="$box"

step "Tab to Minimize, Enter"
page_click 150 165 # the name field; Tab goes through the other fields of the form, then out
import -window root -crop 48x48+875+210 +repage "$work/ring-before.png"
focused=""
on_minimize() { focused="$(probe focused)"; [[ $focused == Minimize ]]; }
for _ in 1 2 3 4; do xdotool key Tab; until_true -n 10 on_minimize && break; done
[[ $focused == Minimize ]] || { echo "Tab left the focus on \"$focused\""; exit 21; }
sleep 0.3 # the ring paints with the next frame
import -window root -crop 48x48+875+210 +repage "$work/ring-after.png"
import -window root "$work/login-focus.png"
ring="$(compare -metric AE "$work/ring-before.png" "$work/ring-after.png" null: 2>&1)"
echo "focus ring: ${ring%% *} pixels changed"
((${ring%% *} >= 40)) || { echo "no focus ring on Minimize"; exit 21; }
xdotool key Return
until_true -n 50 says Iconic xprop -id "$stack" WM_HINTS || { echo "Enter did not minimise the stack"; exit 21; }

step "Close of the login stack through the accessibility action, OK"
probe press Close || { echo "no Close to press"; exit 22; }
wait_question "$frame" || { echo "no quit question"; exit 22; }
answer Return
until_true not running "$pid" || { echo "client did not end"; kill $pid; exit 23; }
wait $pid; code=$?
echo "client exit code $code"
exit $code
