#!/usr/bin/env bash
# Start-up benchmark: time from process start to the first paint of the login background,
# against the smallest web-engine window showing the same login page, both started the same
# way inside one xvfb-run session, interleaved. Also reports the time to the login page's
# first load for both, and the memory both use once the page is loaded (proportional set
# size of the process and all its descendants, the web engine's helpers included). Needs
# bin/qev, bin/qev-startup-reference and (unless a portal already answers on the build's
# portal port) bin/qev-demo-portal in the build directory.
#
# Then the warm start: the client signs in (name typed, "Remember me" ticked) and opens the
# first realm; the time from process start to the game page's load (its 8 MiB script pack
# included, served at 2 MB/s) is taken once with an empty profile (cold) and once more with
# the profile, cookies and cache the first start left (warm). A warm start that finds the
# hero remembered goes straight to the realm list. Needs the portal port free (the portal is
# started paced).
# Then the game window: signed in, the game page and the reminder shown, 15 s after the game
# page loaded, the memory of the client's process tree and its CPU time in the next 10 s,
# against the bare window showing the same game page maximised and, when Debian's chromium is
# installed, its app window on that page (both let the page play its music without a click, as
# the client does for game pages; all in one X session, interleaved).
# Last, the first paint with a start-up report server that accepts and never answers,
# against the same start without a report address.
#   bench/startup/run.sh BUILD_DIR [RUNS] [all|login|warm|game|report]
set -euo pipefail

build="$(cd "${1:?usage: run.sh BUILD_DIR [RUNS] [all|login|warm|game|report]}" && pwd)"
# The player's moves and the memory reading, for the scripts run inside the X sessions.
player="$(cd "$(dirname "$0")" && pwd)/player.sh"
export player
runs="${2:-5}"
parts="${3:-all}"
client="$build/bin/qev"
reference="$build/bin/qev-startup-reference"
portal="$build/bin/qev-demo-portal"
# The client's built-in layout names the portal port the build was configured with.
port="$(sed -n 's/^QEV_DEMO_PORT_BASE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)"
port="${port:-18080}"
page="http://127.0.0.1:$port/micro2"
for tool in "$client" "$reference"; do
  [[ -x "$tool" ]] || { echo "missing $tool (build it first)" >&2; exit 1; }
done

work="$(mktemp -d)"
portal_pid=""
cleanup() {
  if [[ -n "$portal_pid" ]]; then
    kill "$portal_pid" 2>/dev/null || true
    wait "$portal_pid" 2>/dev/null || true
  fi
  [[ -n "${KEEP_WORK:-}" ]] || rm -rf "$work"
}
trap cleanup EXIT

# start_own_portal [options...]: the build's portal, ours, on the layout's port.
start_own_portal() {
  [[ -x "$portal" ]] || { echo "no portal on 127.0.0.1:$port and no $portal" >&2; exit 1; }
  "$portal" --port "$port" "$@" >"$work/portal.log" 2>&1 &
  portal_pid=$!
  for _ in $(seq 1 50); do curl -s -o /dev/null "$page" && break; sleep 0.1; done
  curl -s -o /dev/null "$page" || { echo "the portal did not start" >&2; exit 1; }
}
stop_own_portal() {
  kill "$portal_pid" 2>/dev/null || true
  wait "$portal_pid" 2>/dev/null || true
  portal_pid=""
}
foreign_portal=false
if curl -s -o /dev/null "$page"; then foreign_portal=true; fi

login_bench() {
if ! $foreign_portal; then start_own_portal; fi
# One run inside the X session: start time, then the two traced moments, in ms.
cat >"$work/inner.sh" <<'INNER'
#!/usr/bin/env bash
set -u
work="$1" runs="$2" client="$3" reference="$4" page="$5"
# Both programs keep their profiles and logs in a private home for the benchmark; the
# reference's temporary profile folders go with it.
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_DATA_HOME="$work/home/data"
export XDG_CACHE_HOME="$work/home/cache" XDG_CONFIG_HOME="$work/home/config"
export TMPDIR="$work/home/tmp"
mkdir -p "$HOME" "$TMPDIR"
source "$player"
measure() { # name command...
  local name="$1"; shift
  local log="$work/$name.log"
  : >"$log"
  local start; start="$(date +%s%3N)"
  "$@" 2>"$log" >/dev/null &
  local pid=$!
  for _ in $(seq 1 600); do
    grep -q '^page-loaded ' "$log" && grep -q '^first-paint ' "$log" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  # Memory once the page has loaded and painted: give it a moment to settle.
  sleep 1
  local pss; pss="$(tree_pss "$pid" | cut -d" " -f1)"
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  local paint load
  paint="$(awk '/^first-paint /{print $2; exit}' "$log")"
  load="$(awk '/^page-loaded /{print $2; exit}' "$log")"
  if [[ -z "$paint" || -z "$load" ]]; then echo "$name: no trace" >&2; return 1; fi
  echo "$name $((paint - start)) $((load - start)) $pss" >>"$work/times"
  sleep 0.5
}
for _ in $(seq 1 "$runs"); do
  measure client "$client"
  measure reference "$reference" "$page"
done
INNER
chmod +x "$work/inner.sh"
: >"$work/times"
xvfb-run -a -s "-screen 0 1280x800x24" "$work/inner.sh" "$work" "$runs" "$client" "$reference" "$page"

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
pick() { awk -v n="$1" -v c="$2" '$1==n {print $c}' "$work/times" | median; }
client_paint="$(pick client 2)"; reference_paint="$(pick reference 2)"
client_load="$(pick client 3)"; reference_load="$(pick reference 3)"
echo "runs: $runs each (median, ms from process start)"
awk -v a="$client_paint" -v b="$reference_paint" \
  'BEGIN {printf "first paint:  qev %d  reference %d  ratio %.2f\n", a, b, a / b}'
awk -v a="$client_load" -v b="$reference_load" \
  'BEGIN {printf "page loaded:  qev %d  reference %d  ratio %.2f\n", a, b, a / b}'
client_pss="$(pick client 4)"; reference_pss="$(pick reference 4)"
awk -v a="$client_pss" -v b="$reference_pss" \
  'BEGIN {printf "memory (PSS, MiB):  qev %.0f  reference %.0f  ratio %.2f  difference %+.0f\n",
          a / 1024, b / 1024, a / b, (a - b) / 1024}'
if ! $foreign_portal; then stop_own_portal; fi
}

warm_bench() {
if $foreign_portal; then
  echo "warm start: skipped, a portal already answers on port $port (the benchmark's own must run, paced)"
  return 0
fi
start_own_portal --rate 2000000 --asset-mib 8
cat >"$work/warm.sh" <<'WARM'
#!/usr/bin/env bash
set -u
work="$1" runs="$2" client="$3" port="$4"
source "$player"
measure() { # name
  local name="$1" log="$work/$1.log" start pid loaded i remembered=no
  : >"$log"
  local logins; logins="$(count "GET :$port /micro2 ")"
  start="$(date +%s%3N)"
  "$client" 2>"$log" >/dev/null &
  pid=$!
  for i in $(seq 600); do grep -q '^page-loaded ' "$log" && break; sleep 0.05; done
  wait_more "GET :$port /micro2 " "$logins" 100 || { echo "$name: no login page" >&2; kill "$pid"; return 1; }
  if grep "GET :$port /micro2 " "$portal_log" | tail -1 | grep -q 'remember='; then
    remembered=yes
  else
    sign_in || { echo "$name: no sign-in" >&2; kill "$pid"; return 1; }
  fi
  open_realm || { echo "$name: the realm did not open" >&2; kill "$pid"; return 1; }
  for i in $(seq 1200); do grep -q '^game-loaded ' "$log" && break; sleep 0.05; done
  loaded="$(awk '/^game-loaded /{print $2; exit}' "$log")"
  quit_client "$pid"
  [[ -n "$loaded" ]] || { echo "$name: no game-loaded trace" >&2; return 1; }
  echo "$name $((loaded - start)) $remembered" >>"$work/warm-times"
}
for run in $(seq 1 "$runs"); do
  # A fresh profile for the cold start, the same one again for the warm start.
  home="$work/warm-home-$run"
  export HOME="$home" XDG_STATE_HOME="$home/state" XDG_DATA_HOME="$home/data"
  export XDG_CACHE_HOME="$home/cache" XDG_CONFIG_HOME="$home/config" TMPDIR="$home/tmp"
  mkdir -p "$HOME" "$TMPDIR"
  measure cold
  measure warm
done
WARM
chmod +x "$work/warm.sh"
: >"$work/warm-times"
xvfb-run -a -s "-screen 0 1280x800x24" "$work/warm.sh" "$work" "$runs" "$client" "$port"
local stats; stats="$(curl -s "http://127.0.0.1:$port/stats")"
stop_own_portal
local cold warm remembered
cold="$(awk '$1=="cold" {print $2}' "$work/warm-times" | median)"
warm="$(awk '$1=="warm" {print $2}' "$work/warm-times" | median)"
remembered="$(awk '$1=="warm" && $3=="yes"' "$work/warm-times" | wc -l)"
[[ -n "$cold" && -n "$warm" ]] || { echo "warm start: no figures" >&2; cat "$work"/cold.log >&2; return 1; }
echo "warm start: $runs pairs (median, ms from process start to the game page loaded; 8 MiB pack at 2000000 B/s)"
echo "  warm starts that found the hero remembered: $remembered of $runs; portal: $stats"
awk -v c="$cold" -v w="$warm" \
  'BEGIN {printf "game page loaded:  cold %d  warm %d  warm/cold page-loaded ratio %.2f (target <= 0.20)\n", c, w, w / c}'
}

# The game window as a player keeps it: signed in, the game page and the reminder shown. Its
# process tree's memory 15 s after the game page loaded, against the bare window showing the
# same game page maximised, 15 s after its load; interleaved.
game_bench() {
if $foreign_portal; then
  echo "game window: skipped, a portal already answers on port $port"
  return 0
fi
start_own_portal
cat >"$work/game.sh" <<'GAME'
#!/usr/bin/env bash
set -u
work="$1" runs="$2" client="$3" reference="$4" port="$5" chromium="$6"
source "$player"
# until_trace LOG WORD: the traced moment WORD, in ms, once LOG has it.
until_trace() {
  local i
  for i in $(seq 600); do grep -q "^$2 " "$1" && break; sleep 0.05; done
  awk -v w="$2" '$1 == w {print $2; exit}' "$1"
}
# PSS 15 s after the load, then the CPU of the next 10 s.
settle_and_weigh() { # pid loaded-ms name
  local now pss; now="$(date +%s%3N)"
  (( $2 + 15000 > now )) && sleep "$(awk -v d=$(( $2 + 15000 - now )) 'BEGIN {print d / 1000}')"
  pss="$(tree_pss "$1")"
  echo "$3 $pss $(tree_cpu "$1" 10) $(window_size "$1")" >>"$work/game-memory"
}
for run in $(seq 1 "$runs"); do
  home="$work/game-home-$run"
  export HOME="$home" XDG_STATE_HOME="$home/state" XDG_DATA_HOME="$home/data"
  export XDG_CACHE_HOME="$home/cache" XDG_CONFIG_HOME="$home/config" TMPDIR="$home/tmp"
  mkdir -p "$HOME" "$TMPDIR"
  tips="$(count " /micro2/TaskTips?")"
  "$client" 2>"$work/game-client.log" >/dev/null &
  pid=$!
  until_trace "$work/game-client.log" page-loaded >/dev/null
  if ! { sign_in && open_realm; }; then echo "game window: no game page" >&2; kill "$pid"; wait "$pid"; continue; fi
  loaded="$(until_trace "$work/game-client.log" game-loaded)"
  wait_more " /micro2/TaskTips?" "$tips" 100 || echo "game window: no reminder" >&2
  [[ -n "$loaded" ]] && settle_and_weigh "$pid" "$loaded" client
  game="$(grep "GET :[0-9]* /play?" "$portal_log" | tail -1 | awk '{print "http://127.0.0.1" $2 $3}')"
  kill "$pid"; wait "$pid" 2>/dev/null
  # The bare window on the client's rendering path: its scene in software and the engine's
  # flags where the client's log says it chose them. Like the client's game pages, it plays
  # the page's music without a click (a silent window would not weigh the sound service).
  rendering="$(grep -h "^rendering: " "$XDG_STATE_HOME/qev/qev.log" 2>/dev/null | tail -1)"
  scene="" flags="${rendering##*, the engine with }"
  [[ $rendering == *"scene in software"* ]] && scene=software
  [[ $flags == "$rendering" ]] && flags=""
  echo "rendering $rendering" >>"$work/game-memory"
  QT_QUICK_BACKEND="${QT_QUICK_BACKEND:-$scene}" \
    QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-$flags}" \
    "$reference" "$game" --maximised --autoplay 2>"$work/game-reference.log" >/dev/null &
  pid=$!
  loaded="$(until_trace "$work/game-reference.log" page-loaded)"
  [[ -n "$loaded" ]] && settle_and_weigh "$pid" "$loaded" reference
  kill "$pid"; wait "$pid" 2>/dev/null
  [[ -n "$chromium" ]] || continue
  # The page has loaded once its script pack has been sent.
  packs="$(count "GET :[0-9]* /assets/pack.js")"
  "$chromium" --app="$game" --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --no-sandbox --window-position=0,0 \
    --autoplay-policy=no-user-gesture-required \
    --window-size=1280,800 --user-data-dir="$(mktemp -d "$work/chromium-XXXXXX")" \
    >"$work/game-chromium.log" 2>&1 &
  pid=$!
  if wait_more "GET :[0-9]* /assets/pack.js" "$packs" 300; then
    settle_and_weigh "$pid" "$(date +%s%3N)" chromium
  else
    echo "game window: chromium did not load the game page" >&2
  fi
  kill "$pid"; wait "$pid" 2>/dev/null
done
exit 0
GAME
chmod +x "$work/game.sh"
: >"$work/game-memory"
# Chromium's app window on the same page, in each round, when Debian's chromium is there.
local chromium; chromium="$(command -v chromium || true)"
xvfb-run -a -s "-screen 0 1280x800x24" "$work/game.sh" "$work" "$runs" "$client" "$reference" "$port" "$chromium"
stop_own_portal
local client_pss reference_pss processes client_cpu reference_cpu
client_pss="$(awk '$1=="client" {print $2}' "$work/game-memory" | median)"
reference_pss="$(awk '$1=="reference" {print $2}' "$work/game-memory" | median)"
[[ -n "$client_pss" && -n "$reference_pss" ]] || { echo "game window: no figures" >&2; return 1; }
processes="$(awk '$1=="client" {c=$3} $1=="reference" {r=$3} END {print c " and " r}' "$work/game-memory")"
echo "game window: $runs pairs (median PSS of the process tree 15 s after the game page loaded, CPU of the next 10 s; processes $processes)"
awk '$1 == "rendering" && NF > 1 {$1 = ""; print "  client:" $0; exit}' "$work/game-memory"
# The two must fill windows of one size (a bare window the window manager did not maximise
# would weigh a smaller page).
local sizes; sizes="$(awk '$1 == "client" || $1 == "reference" {print $1 ":" $5}' "$work/game-memory" | sort -u)"
echo "  window sizes: $(tr '\n' ' ' <<<"$sizes")"
[[ $(awk -F: '{print $2}' <<<"$sizes" | sort -u | wc -l) -eq 1 ]] ||
  echo "  the windows differ in size: the figures below do not compare like with like" >&2
awk -v a="$client_pss" -v b="$reference_pss" \
  'BEGIN {printf "memory (PSS, MiB):  qev %.0f  bare window %.0f  ratio %.2f (target <= 1.30)\n", a / 1024, b / 1024, a / b}'
client_cpu="$(awk '$1=="client" {print $4}' "$work/game-memory" | median)"
reference_cpu="$(awk '$1=="reference" {print $4}' "$work/game-memory" | median)"
awk -v a="$client_cpu" -v b="$reference_cpu" \
  'BEGIN {printf "CPU (s per 10 s):  qev %.2f  bare window %.2f  ratio %.2f (target <= 1.10)\n", a, b, a / b}'
if [[ -z "$chromium" ]]; then
  echo "chromium app window: skipped, Debian's chromium is not installed"
  return 0
fi
local chromium_pss chromium_cpu
chromium_pss="$(awk '$1=="chromium" {print $2}' "$work/game-memory" | median)"
chromium_cpu="$(awk '$1=="chromium" {print $4}' "$work/game-memory" | median)"
[[ -n "$chromium_pss" ]] || { echo "chromium app window: no figures" >&2; return 0; }
awk -v a="$client_pss" -v b="$chromium_pss" -v c="$client_cpu" -v d="$chromium_cpu" \
  'BEGIN {printf "chromium app window:  PSS %.0f MiB (qev ratio %.2f)  CPU %.2f s per 10 s (qev ratio %.2f)\n", b / 1024, a / b, d, c / d}'
}

# A start-up report server that accepts and never answers must not hold up the first paint:
# the same copy of the client (in a folder of its own, where its settings file is read) is
# started with a report address on such a server and without one, interleaved.
report_bench() {
local dir="$work/report-client"
mkdir -p "$dir"
cp "$client" "$dir/qev"
python3 - "$work/stall-port" <<'STALL' &
import socket, sys, time
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(16)
open(sys.argv[1], "w").write(str(server.getsockname()[1]))
held = []
while True:
    held.append(server.accept()[0])  # read nothing, answer nothing
STALL
local stall_pid=$!
for _ in $(seq 50); do [[ -s "$work/stall-port" ]] && break; sleep 0.1; done
local stall_port; stall_port="$(cat "$work/stall-port")"
cat >"$work/report.sh" <<'REPORT'
#!/usr/bin/env bash
set -u
work="$1" runs="$2" dir="$3" stall_port="$4"
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
export QEV_TRACE_FIRST_PAINT=1 HOME="$work/report-home" XDG_STATE_HOME="$work/report-home/state"
mkdir -p "$HOME"
paint() { # name
  local log="$work/report-$1.log" start pid
  : >"$log"
  start="$(date +%s%3N)"
  "$dir/qev" 2>"$log" >/dev/null & pid=$!
  for _ in $(seq 200); do grep -q '^first-paint ' "$log" && break; sleep 0.02; done
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  echo "$1 $(( $(awk '/^first-paint /{print $2; exit}' "$log") - start ))" >>"$work/report-times"
  sleep 0.3
}
for _ in $(seq "$runs"); do
  rm -f "$dir/pm_config.ini"; paint plain
  printf '[config]\r\nPM=http://127.0.0.1:%s/report?from=bench\r\n' "$stall_port" >"$dir/pm_config.ini"
  paint stalled
done
REPORT
chmod +x "$work/report.sh"
: >"$work/report-times"
xvfb-run -a -s "-screen 0 1280x800x24" "$work/report.sh" "$work" "$runs" "$dir" "$stall_port"
kill "$stall_pid" 2>/dev/null; wait "$stall_pid" 2>/dev/null || true
local plain stalled
plain="$(awk '$1=="plain" {print $2}' "$work/report-times" | median)"
stalled="$(awk '$1=="stalled" {print $2}' "$work/report-times" | median)"
echo "report server that never answers: $runs pairs (median first paint, ms from process start)"
awk -v p="$plain" -v s="$stalled" \
  'BEGIN {printf "first paint:  no report %d  stalled report %d  ratio %.2f  difference %+d (target within 200)\n", p, s, s / p, s - p}'
}

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
case "$parts" in
all) login_bench; warm_bench; game_bench; report_bench ;;
login) login_bench ;;
warm) warm_bench ;;
game) game_bench ;;
report) report_bench ;;
*) echo "unknown part: $parts (all, login, warm, game or report)" >&2; exit 2 ;;
esac
