# shellcheck shell=bash disable=SC2154 # $log, $pid, $box, $debug: the journey's own
# Sourced by the end-to-end journeys and, through runner.sh, by the scripts. A journey is two
# files: tests/e2e/<name>_test.sh starts the demo portal, gives the client its environment
# (client_environment) and runs the body, tests/e2e/journeys/<name>.sh, inside an X server of
# its own (journey); the body uses the rest of this file.
e2e_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# fail REASON: prints it and the last lines of each log in $logs there is, and ends the script.
logs=()
fail() {
  echo "FAIL: $*"
  local file
  for file in "${logs[@]}"; do
    [[ ! -s $file ]] || { echo "--- ${file#"$work/"}"; tail -n 60 "$file"; }
  done
  exit 1
}

# --- waits

# until_true [-n TENTHS] CMD [ARGS...]: runs CMD until it succeeds, a tenth of a second
# between tries, at most TENTHS tries (100); false when it never did.
until_true() {
  local tries=100
  if [[ $1 == -n ]]; then tries="$2"; shift 2; fi
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}
# The usual conditions; CMD's errors are not shown.
not() { ! "$@"; }
has() { grep -qs -- "$2" "$1"; }                            # has FILE PATTERN
says() { "${@:2}" 2>/dev/null | grep -q -- "$1"; }          # says PATTERN CMD...: a line of its output
some() { [[ -n $("$@" 2>/dev/null) ]]; }                    # some CMD...: it prints something
equals() { [[ $("${@:2}" 2>/dev/null) == "$1" ]]; }         # equals TEXT CMD...: it prints TEXT
above() { local n; n="$("${@:2}" 2>/dev/null)"; ((n > $1)); } # above N CMD...: it prints more than N
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; } # listening PORT
running() { kill -0 "$1" 2>/dev/null; }                     # running PID

# --- inside the X session

step() { echo "step: $*"; }
# Requests in the portal's log ($log) that match a pattern; grows PATTERN BEFORE [tenths] waits
# for one more than BEFORE.
count() { grep -c "$1" "$log" || true; }
grows() { until_true -n "${3:-100}" above "$2" count "$1"; }
wait_log() { until_true -n "${2:-200}" has "$log" "$1" || { echo "timed out waiting for $1"; return 1; }; }

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
# window TITLE [BUT]: that window in $box, true when there is one. sized WIDTH: the newest
# window titled "QEV" (the frame or the login stack) in $box, true when it is WIDTH wide.
window() { box="$(shown "$@")"; [[ -n $box ]]; }
sized() { window "^QEV$" && xwininfo -id "$box" | grep -q "Width: $1"; }
# probe ARGS...: the accessibility tree through atspi_probe.py.
probe() { timeout 60 /usr/bin/python3 "$e2e_dir/atspi_probe.py" "$@"; }

# wait_question FRAME: the client's question box (any window titled as the client but FRAME)
# in $box. answer KEY: gives it the keyboard, as a window manager would, and waits until it goes.
wait_question() { until_true -n 50 window "^Velmora Client$" "$1"; }
answer() {
  xdotool windowfocus --sync "$box"
  xdotool key "$1"
  until_true -n 50 not says "^$box$" xdotool search --onlyvisible --name "^Velmora Client$"
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
  until_true -n 150 not running "$pid" || { echo "client did not end"; kill "$pid"; return 1; }
  wait "$pid"
}

# Pages through the engine's remote-debugging port ($debug): D eval PAGE EXPR prints the
# value as JSON; until_js PAGE EXPR EXPECTED [tenths] waits for it.
D() { python3 "$e2e_dir/devtools.py" "$debug" "$@"; }
until_js() {
  until_true -n "${4:-100}" equals "$3" D eval "$1" "$2" && return 0
  echo "page $1: $2 is $(D eval "$1" "$2" 2>&1), not $3"
  return 1
}
