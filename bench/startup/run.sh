#!/usr/bin/env bash
# Start-up benchmark: time from process start to the first paint of the login background,
# against the smallest web-engine window showing the same login page, both started the same
# way inside one xvfb-run session, interleaved. Also reports the time to the login page's
# first load for both, and the memory both use once the page is loaded (proportional set
# size of the process and all its descendants, the web engine's helpers included). Needs
# bin/qev, bin/qev-startup-reference and (unless a portal already answers on the build's
# portal port) bin/qev-demo-portal in the build directory.
#   bench/startup/run.sh BUILD_DIR [RUNS]
set -euo pipefail

build="$(cd "${1:?usage: run.sh BUILD_DIR [RUNS]}" && pwd)"
runs="${2:-5}"
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
  rm -rf "$work"
}
trap cleanup EXIT

if ! curl -s -o /dev/null "$page"; then
  [[ -x "$portal" ]] || { echo "no portal on 127.0.0.1:$port and no $portal" >&2; exit 1; }
  "$portal" --port "$port" >"$work/portal.log" 2>&1 &
  portal_pid=$!
  for _ in $(seq 1 50); do curl -s -o /dev/null "$page" && break; sleep 0.1; done
fi

# One run inside the X session: start time, then the two traced moments, in ms.
cat >"$work/inner.sh" <<'INNER'
#!/usr/bin/env bash
set -u
work="$1" runs="$2" client="$3" reference="$4" page="$5"
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
export QEV_TRACE_FIRST_PAINT=1
# Both programs keep their profiles and logs in a private home for the benchmark.
export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_DATA_HOME="$work/home/data"
export XDG_CACHE_HOME="$work/home/cache" XDG_CONFIG_HOME="$work/home/config"
mkdir -p "$HOME"
# PSS in KiB of a process and all its descendants.
tree_pss() {
  local pids=("$1") all=() pid total=0 kb
  while ((${#pids[@]})); do
    pid="${pids[0]}"; pids=("${pids[@]:1}"); all+=("$pid")
    for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do pids+=("$child"); done
  done
  for pid in "${all[@]}"; do
    kb="$(awk '/^Pss:/ {print $2; exit}' /proc/"$pid"/smaps_rollup 2>/dev/null)"
    total=$((total + ${kb:-0}))
  done
  echo "$total"
}
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
  local pss; pss="$(tree_pss "$pid")"
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
