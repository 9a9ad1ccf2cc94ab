# shellcheck shell=bash disable=SC2154
# What the benchmark's player does with the mouse and keyboard, sourced by its inner scripts
# inside the X session. Needs work and port set; the portal's log is WORK/portal.log.
# The login stack (663 x 391) is centred on the 1280 x 800 screen; its page starts at
# (326, 252). Name field (150, 165), "Remember me" (63, 250, below the button) and the
# first realm (200, 147), in page coordinates.
# No --sync: a click tried again moves the pointer nowhere, and a synced move would wait for
# motion that never comes.
# Both programs run without the engine's sandbox and GPU, and report their traced moments.
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
export QEV_TRACE_FIRST_PAINT=1
portal_log="$work/portal.log"
remember_x=63 remember_y=250
page_click() { xdotool mousemove $((326 + $1)) $((252 + $2)) click 1; }
count() { grep -c "$1" "$portal_log" || true; }
# wait_more PATTERN BEFORE TENTHS: until the portal logged PATTERN more than BEFORE times.
wait_more() {
  local i
  for ((i = 0; i < $3; i++)); do (($(count "$1") > $2)) && return 0; sleep 0.1; done
  return 1
}
# Types the hero's name with the box ticked; tries again while the page takes no input.
sign_in() {
  local before
  before="$(count "GET :$port /micro2?user=")"
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    page_click 150 165
    xdotool type --delay 20 Bench
    page_click "$remember_x" "$remember_y"
    xdotool key Return
    wait_more "GET :$port /micro2?user=" "$before" 20 && return 0
  done
  return 1
}
open_realm() {
  local before
  before="$(count "GET :[0-9]* /play?")"
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    page_click 200 147
    wait_more "GET :[0-9]* /play?" "$before" 10 && return 0
  done
  return 1
}
# Quits as a player does (close, then OK), so the profile is written out. The question is the
# newest window of that name.
quit_client() {
  local pid="$1" box="" i
  xdotool mousemove $((1280 - 14)) 15 click 1
  for i in $(seq 50); do
    box="$(xdotool search --onlyvisible --name "^Velmora Client$" 2>/dev/null | tail -1)"
    [[ -n "$box" ]] && break
    sleep 0.1
  done
  if [[ -n "$box" ]]; then xdotool windowfocus --sync "$box"; xdotool key Return; fi
  for i in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then echo "client did not quit" >&2; kill "$pid"; fi
  wait "$pid" 2>/dev/null
}
# The size of a process's largest visible window, WxH (the window the page fills).
window_size() { # pid
  local id
  for id in $(xdotool search --all --onlyvisible --pid "$1" "" 2>/dev/null); do
    xwininfo -id "$id" 2>/dev/null | awk '/^ *Width:/ {w = $2} /^ *Height:/ {h = $2}
      END {print w * h, w "x" h}'
  done | sort -n | tail -1 | cut -d" " -f2
}
# A process and all its descendants, one a line.
tree_pids() {
  local pids=("$1") pid
  while ((${#pids[@]})); do
    pid="${pids[0]}"; pids=("${pids[@]:1}"); echo "$pid"
    # shellcheck disable=SC2013 # the files hold numbers separated by spaces
    for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do pids+=("$child"); done
  done
}
# PSS in KiB of a process and all its descendants, and how many processes that is.
tree_pss() {
  local all=() pid total=0 kb
  mapfile -t all < <(tree_pids "$1")
  for pid in "${all[@]}"; do
    kb="$(awk '/^Pss:/ {print $2; exit}' /proc/"$pid"/smaps_rollup 2>/dev/null)"
    total=$((total + ${kb:-0}))
  done
  echo "$total ${#all[@]}"
}
# CPU seconds a process and all its descendants spend in the next SECONDS (user and system
# time; a process that ends meanwhile counts up to its last reading).
tree_cpu() { # pid seconds
  local before after
  before="$(tree_ticks "$1")"
  sleep "$2"
  after="$(tree_ticks "$1")"
  awk -v hz="$(getconf CLK_TCK)" 'NR == FNR {t[$1] = $2; next} ($1 in t) {s += $2 - t[$1]}
    END {printf "%.2f\n", s / hz}' <(echo "$before") <(echo "$after")
}
tree_ticks() {
  local pid
  for pid in $(tree_pids "$1"); do
    # The fields after the command's closing parenthesis: utime and stime are the 12th and 13th.
    sed 's/^.*) //' /proc/"$pid"/stat 2>/dev/null | awk -v p="$pid" '{print p, $12 + $13}'
  done
}
