# shellcheck shell=bash disable=SC2154 # $log, $pid, $box, $debug: the journey's own
# Sourced by the end-to-end journeys. A journey is two files: tests/e2e/<name>_test.sh starts
# the demo portal, gives the client its environment (client_environment) and runs the body,
# tests/e2e/journeys/<name>.sh, inside an X server of its own (run_journey); the body uses
# the rest of this file. Every wait polls a condition in tenths of a second.
e2e_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# --- outside the X session

# client_environment WORK: a home of its own under WORK, no XDG folders of the caller's, and the
# engine's flags for a machine without a GPU (sandbox_user_test runs it with its sandbox on).
client_environment() {
  mkdir -p "$1/home"
  mkdir -p "$1/run" && chmod 700 "$1/run"
  export HOME="$1/home" XDG_STATE_HOME="$1/home/state" XDG_RUNTIME_DIR="$1/run" TMPDIR="$1"
  unset XDG_DATA_HOME XDG_CACHE_HOME XDG_CONFIG_HOME XDG_DOWNLOAD_DIR
  export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
  export QT_QPA_PLATFORM=xcb
}

# run_journey [--bus] [--ac] WIDTHxHEIGHT NAME ARGS...: runs journeys/NAME.sh with ARGS in a
# new X server of that size (--bus: with a session bus of its own and the client's
# accessibility on, for the accessibility tree; --ac: open to every user).
run_journey() {
  local bus=() server=""
  if [[ $1 == --bus ]]; then bus=(dbus-run-session -- env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1); shift; fi
  if [[ $1 == --ac ]]; then server="-ac "; shift; fi
  local screen="$1" name="$2"
  shift 2
  xvfb-run -a -s "$server-screen 0 ${screen}x24" "${bus[@]}" bash "$e2e_dir/journeys/$name.sh" "$@"
}

# --- inside the X session

step() { echo "step: $*"; }
# until_true CONDITION [tenths]
until_true() { for _ in $(seq "${2:-100}"); do eval "$1" && return 0; sleep 0.1; done; return 1; }
# Requests in the portal's log ($log) that match a pattern; grows PATTERN BEFORE [tenths] waits
# for one more than BEFORE.
count() { grep -c "$1" "$log" || true; }
grows() { until_true "(( \$(count \"$1\") > $2 ))" "${3:-100}"; }
wait_log() { until_true "grep -qs \"$1\" \"$log\"" "${2:-200}" || { echo "timed out waiting for $1"; return 1; }; }

# on_screen WIDTH HEIGHT: the places below. The login stack (663 x 391) is centred, its page
# 18, 48 and its close button (32 x 32) 615, 15 inside it; the maximised frame puts its game
# page at 4, 30 and its caption buttons (Menu, Close) 74 and 14 px left of the right edge, 15 down.
on_screen() {
  screen_w="$1" screen_h="$2"
  page_x=$(((screen_w - 663) / 2 + 18)) page_y=$(((screen_h - 391) / 2 + 48))
}
page_click() { xdotool mousemove --sync $((page_x + $1)) $((page_y + $2)) click 1; }
game_click() { xdotool mousemove --sync $((4 + $1)) $((30 + $2)) click 1; }
caption_click() { # Menu | Close
  local from_right=14
  [[ $1 == Menu ]] && from_right=74
  xdotool mousemove --sync $((screen_w - from_right)) 15 click 1
}
# shown TITLE [BUT]: the newest visible window titled TITLE (a question box opens after the
# reminder, which may carry the client's name too), other than BUT.
shown() { xdotool search --onlyvisible --name "$1" 2>/dev/null | grep -v "^${2:-x}$" | sort -n | tail -1; }
frame_id() { shown "^QEV$"; }

# wait_question FRAME: the client's question box (any window titled as the client but FRAME)
# in $box. answer KEY: gives it the keyboard, as a window manager would, and waits until it goes.
wait_question() { until_true "box=\"\$(shown \"^Velmora Client\$\" \"$1\")\"; [[ -n \$box ]]" 50; }
answer() {
  xdotool windowfocus --sync "$box"
  xdotool key "$1"
  until_true "! xdotool search --onlyvisible --name \"^Velmora Client\$\" 2>/dev/null | grep -q \"^$box\$\"" 50
}

# page_ready form|realms: what a click on the login page waits for; a journey that reads
# pages may redefine it. The page paints after it loads.
page_ready() { sleep 1; }
# sign_in NAME: types the name into the login form, then opens the first realm.
sign_in() {
  local before
  before="$(count "GET :[0-9]* /micro2?user=")"
  # A second try when the form had not taken the keys yet (a stack still being shown).
  local try
  for try in 1 2; do
    page_ready form || return 1
    page_click 150 165
    xdotool key ctrl+a
    xdotool type --delay 30 "$1"
    xdotool key Return
    grows "GET :[0-9]* /micro2?user=" "$before" && break
    ((try == 1)) || { echo "no sign-in"; return 1; }
  done
  open_realm
}
open_realm() {
  local plays
  plays="$(count "GET :[0-9]* /play?")"
  page_ready realms || return 1
  page_click 200 147
  grows "GET :[0-9]* /play?" "$plays" 150 || { echo "the realm did not open"; return 1; }
}

# switch_account: the caption menu's Switch Account, and OK to its question.
switch_account() {
  local frame
  frame="$(frame_id)"
  caption_click Menu
  sleep 1
  xdotool key Down Down Return
  wait_question "$frame" || { echo "no switch question"; return 1; }
  answer Return
}
# quit_client: the caption's Close and OK (quit_stack: the login stack's); returns the
# client's ($pid) exit code.
quit_client() { quit_by caption_click Close; }
quit_stack() { quit_by xdotool mousemove --sync $((page_x - 18 + 631)) $((page_y - 48 + 31)) click 1; }
quit_by() {
  local frame
  frame="$(frame_id)"
  "$@"
  wait_question "$frame" || { echo "no quit question"; return 1; }
  answer Return
  until_true "! kill -0 $pid 2>/dev/null" 150 || { echo "client did not end"; kill "$pid"; return 1; }
  wait "$pid"
}

# Pages through the engine's remote-debugging port ($debug): D eval PAGE EXPR prints the
# value as JSON; until_js PAGE EXPR EXPECTED [tenths] waits for it.
D() { python3 "$e2e_dir/devtools.py" "$debug" "$@"; }
until_js() {
  for _ in $(seq "${4:-100}"); do [[ "$(D eval "$1" "$2" 2>/dev/null)" == "$3" ]] && return 0; sleep 0.1; done
  echo "page $1: $2 is $(D eval "$1" "$2" 2>&1), not $3"
  return 1
}
