#!/usr/bin/env bash
# The client on a Wayland desktop: Weston with its XWayland and Qt's Wayland plugin
# installed, the client started with both WAYLAND_DISPLAY and DISPLAY set, as a desktop
# session would. It must stay up, show the login stack as ONE window of the login size
# whose layers line up on screen (checked in a screenshot of the compositor's output), and
# after a real login through the page (typed and clicked) the game window shows.
#
# Weston runs on its X11 backend inside a private Xvfb, which gives it a real seat: the
# mouse and keyboard events xdotool sends to Xvfb reach the client through the compositor.
# (The headless backend has no input devices, and XTEST pointer events on its XWayland
# crash XWayland 22.) The Xvfb screen is larger than Weston's output window: a pointer that
# starts inside that window never enters it, Weston places it at the output's corner, and the
# first click there opens the panel's terminal, which then takes the typed keys. So the
# pointer starts outside, enters, and the test waits until the compositor has passed it to
# the client (XWayland sees it over the stack) and, after the click, the keyboard focus too.
# Screenshots are kept in BUILD_DIR/test-artifacts/wayland_stack/.
source "$(dirname "$0")/runner.sh"
checker="$build/tests/stack_shot_check"
artifacts="$build/test-artifacts/wayland_stack"
logs+=("$work/weston.log" "$work/client.log")
client_alive() {
  kill -0 "$client_pid" 2>/dev/null && return 0
  local rc=0
  wait "$client_pid" || rc=$?
  fail "the client ended (status $rc)"
}

for tool in weston weston-screenshooter Xwayland Xvfb xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/bootstrap installs it)"
done
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
  fail "Qt's Wayland plugin is not installed: the test would not be a real Wayland desktop"
[[ -x "$checker" ]] || fail "$checker not built"
rm -rf "$artifacts" && mkdir -p "$artifacts"

# The built-in layout names the demo ports.
layout_portal

# A private session: runtime folder, an X server for Weston's seat and output, the
# Wayland socket, and Weston's XWayland on a free X display.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
[[ -d /tmp/.X11-unix ]] || mkdir -m 1777 /tmp/.X11-unix
Xvfb -displayfd 3 -screen 0 1400x900x24 -nolisten tcp 3>"$work/xvfb.display" >/dev/null 2>&1 &
pids=($!)
until_true -n 200 test -s "$work/xvfb.display" || fail "Xvfb did not start"
seat=":$(cat "$work/xvfb.display")"
socket="qev-wayland-$$"
# Pixman rendering so that the output holds real pixels; --debug allows the screenshooter.
DISPLAY="$seat" weston --backend=x11-backend.so --use-pixman --debug --xwayland --idle-time=0 \
  --width=1280 --height=800 --socket="$socket" --log="$work/weston.log" \
  >"$work/weston.out" 2>&1 &
pids=($! "${pids[@]}")
display_of_weston() { sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log" 2>/dev/null | head -n 1; }
until_true -n 200 some display_of_weston || fail "weston did not offer an X display"
DISPLAY="$(display_of_weston)"
export WAYLAND_DISPLAY="$socket" DISPLAY
unset QT_QPA_PLATFORM
echo "weston on $WAYLAND_DISPLAY (output and seat on $seat), XWayland on $DISPLAY"
# seat_click X Y: a real click at screen position X,Y of the compositor's output.
seat_click() { DISPLAY="$seat" xdotool mousemove "$1" "$2" click 1; }

# shot NAME: a screenshot of the compositor's output into the artifacts.
shot() {
  rm -f "$work"/shots/*.png
  mkdir -p "$work/shots"
  (cd "$work/shots" && weston-screenshooter >/dev/null 2>&1) || return 1
  local file
  file="$(find "$work/shots" -name '*.png' | head -n 1)"
  [[ -n "$file" ]] && mv "$file" "$artifacts/$1.png"
}

export TMPDIR="$work" QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
"$build/bin/qev" >"$work/client.log" 2>&1 &
client_pid=$!
pids=("$client_pid" "${pids[@]}")

# The client's visible X windows (its _NET_WM_PID): the stack must be exactly one.
visible_windows() { xdotool search --onlyvisible --pid "$client_pid" 2>/dev/null || true; }
one_window() { [[ "$(visible_windows | wc -l)" == 1 ]]; }
until_true -n 600 one_window || { client_alive; fail "no single visible window: $(visible_windows | wc -l) windows"; }
stack="$(visible_windows)"
eval "$(xdotool getwindowgeometry --shell "$stack")"
[[ "$WIDTH x $HEIGHT" == "663 x 391" ]] || fail "the stack is ${WIDTH}x$HEIGHT, not the login size 663x391"
[[ "$(xdotool getwindowname "$stack")" == QEV ]] || fail "title: $(xdotool getwindowname "$stack")"
echo "one window $stack, ${WIDTH}x$HEIGHT"

# The login page loads into the pane; the screenshot must show it lined up with the artwork.
until_true -n 600 has "$work/portal.log" ' /micro2 -> 200' || { client_alive; fail "the login page was never asked for"; }
aligned() {
  client_alive
  shot login || return 1
  "$checker" "$artifacts/login.png" "$source_dir/res/images/1001.png" 20,50,625,319 '#8a6d2f' \
    --button "575,14,$source_dir/res/images/1020.png" --button "615,15,$source_dir/res/images/1010.png" \
    --crop "$artifacts/login-stack.png" >"$work/check.txt"
}
until_true -n 150 aligned || { cat "$work/check.txt"; fail "the stack's layers do not line up on screen"; }
cat "$work/check.txt"
[[ "$(visible_windows)" == "$stack" ]] ||
  fail "the stack did not stay one window: $stack became $(visible_windows | tr '\n' ' ')"

read -r stack_x stack_y < <(sed -n 's/^stack at \([0-9]*\),\([0-9]*\):.*/\1 \2/p' "$work/check.txt")

# A real login: click into the page's name field, type a name and send it, then click the
# first realm's "_game" link. Positions are the stack's (found in the screenshot) plus the
# page's layout inside the pane. The pointer enters the output from outside; the click
# follows once XWayland reports the pointer there, the keys once the stack has the focus.
field_x=$((stack_x + 200)) field_y=$((stack_y + 215))
DISPLAY="$seat" xdotool mousemove 1390 890
DISPLAY="$seat" xdotool mousemove "$field_x" "$field_y"
pointer_over_field() { [[ "$(xdotool getmouselocation)" == "x:$field_x y:$field_y "* ]]; }
until_true pointer_over_field || fail "the compositor did not pass the pointer on: $(xdotool getmouselocation)"
DISPLAY="$seat" xdotool click 1
stack_focused() { [[ "$(xdotool getwindowfocus 2>/dev/null)" == "$stack" ]]; }
until_true stack_focused || { shot login-input || true; fail "the click did not give the stack the focus"; }
DISPLAY="$seat" xdotool type --delay 30 "Tess"
DISPLAY="$seat" xdotool key Return
until_true -n 150 has "$work/portal.log" ' /micro2?user=Tess' || { shot login-input || true; fail "the typed name did not reach the login page"; }
# The realm list paints a little after it arrives: click until the game is asked for.
click_realm() {
  client_alive
  seat_click $((stack_x + 160)) $((stack_y + 196))
  until_true -n 10 has "$work/portal.log" ' /play?server='
}
until_true -n 30 click_realm || { shot realms || true; fail "clicking the realm link never opened the game"; }

# The game window: the stack hidden, one other window of the client showing, maximised.
game_shows() {
  client_alive
  local w
  w="$(visible_windows)"
  [[ -n "$w" && "$(wc -l <<<"$w")" == 1 && "$w" != "$stack" ]] || return 1
  eval "$(xdotool getwindowgeometry --shell "$w")"
  ((WIDTH > 663 && HEIGHT > 391))
}
until_true -n 300 game_shows || fail "the game window did not show (windows: $(visible_windows | tr '\n' ' '))"
echo "game window ${WIDTH}x$HEIGHT"
# The game page paints into it: the middle of the screen is no longer one flat colour.
game_painted() {
  client_alive
  shot game || return 1
  local spread
  spread="$(convert "$artifacts/game.png" -crop 1000x500+140+150 -colorspace Gray \
    -format '%[fx:standard_deviation]' info:)"
  awk -v s="$spread" 'BEGIN { exit !(s > 0.02) }'
}
until_true -n 80 game_painted || fail "the game page did not paint in the game window"
# The frame's own keys reach it through the compositor too: F5 asks for the game page again.
plays="$(grep -c ' /play?server=' "$work/portal.log")"
DISPLAY="$seat" xdotool key F5
until_true above "$plays" grep -c ' /play?server=' "$work/portal.log" || fail "F5 did not load the game page again"
echo "wayland stack e2e: ok (screenshots in $artifacts)"
