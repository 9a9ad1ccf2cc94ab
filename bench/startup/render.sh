#!/usr/bin/env bash
# The rendering paths side by side: the bare window (qev-startup-reference, maximised) shows
# the demo portal's game page and its canvas animation under each path in turn, interleaved;
# 15 s after the page loaded, the CPU of its process tree in the next 10 s and, at the end of
# those, the canvas page's frame rate (read through the engine's debugging port). Needs a
# build with bin/qev-startup-reference and bin/qev-demo-portal, the portal's port free.
#   bench/startup/render.sh BUILD_DIR [ROUNDS] [PATH...]
# A path is SCENE:FLAGS, SCENE "gl" (Qt Quick's default) or "software", FLAGS the engine's
# flags with "," for spaces; the default list is the one the client's choice was made from.
set -euo pipefail
build="$(cd "${1:?usage: render.sh BUILD_DIR [ROUNDS] [PATH...]}" && pwd)"
rounds="${2:-2}"
shift $(($# > 1 ? 2 : 1))
paths=("$@")
((${#paths[@]})) || paths=(gl: gl:--disable-gpu gl:--disable-gpu-compositing software:
                           software:--disable-gpu-compositing)
here="$(cd "$(dirname "$0")" && pwd)"
port="$(sed -n 's/^QEV_DEMO_PORT_BASE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)"
port="${port:-18080}"
work="$(mktemp -d)"
"$build/bin/qev-demo-portal" --port "$port" >"$work/portal.log" 2>&1 &
portal_pid=$!
trap 'kill $portal_pid 2>/dev/null; wait $portal_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/micro2" && break; sleep 0.1; done
kill -0 "$portal_pid" 2>/dev/null || { cat "$work/portal.log" >&2; exit 1; }
# The game host is the next port of the layout.
game_port=$((port + 1))
cat >"$work/inner.sh" <<'INNER'
#!/usr/bin/env bash
set -u
work="$1" rounds="$2" reference="$3" game_port="$4" devtools="$5"; shift 5
INNER
cat "$here/player.sh" >>"$work/inner.sh"
cat >>"$work/inner.sh" <<'INNER'
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_REMOTE_DEBUGGING=19229
# The bare window's profile folders go with the work folder.
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
for round in $(seq "$rounds"); do
  for page in play canvas; do
    for path in "$@"; do
      url="http://127.0.0.1:$game_port/$page"
      [[ $page == play ]] && url="$url?server=s1&user=Bench"
      log="$work/run.log"
      scene="${path%%:*}" flags="${path#*:}"
      (
        if [[ $scene == software ]]; then export QT_QUICK_BACKEND=software; else unset QT_QUICK_BACKEND; fi
        export QTWEBENGINE_CHROMIUM_FLAGS="${flags//,/ }"
        exec "$reference" "$url" --maximised 2>"$log" >/dev/null
      ) &
      pid=$!
      for _ in $(seq 600); do grep -q '^page-loaded ' "$log" && break; sleep 0.05; done
      sleep 15
      cpu="$(tree_cpu "$pid" 10)"
      fps=-
      [[ $page == canvas ]] &&
        fps="$(python3 "$devtools" 19229 eval "/$page" "window.fps || 0" 2>/dev/null || echo -)"
      echo "$page $path $cpu $fps" >>"$work/results"
      kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
    done
  done
done
INNER
chmod +x "$work/inner.sh"
: >"$work/results"
xvfb-run -a -s "-screen 0 1280x800x24" "$work/inner.sh" "$work" "$rounds" \
  "$build/bin/qev-startup-reference" "$game_port" "$here/../../tests/e2e/devtools.py" "${paths[@]}" ||
  true
echo "rendering paths: $rounds rounds, bare window maximised (CPU s per 10 s, frames per second; median)"
median() { sort -n | awk '{v[NR] = $1} END {print (NR ? v[int((NR + 1) / 2)] : "-")}'; }
for page in play canvas; do
  for path in "${paths[@]}"; do
    cpu="$(awk -v p="$page" -v q="$path" '$1 == p && $2 == q {print $3}' "$work/results" | median)"
    fps="$(awk -v p="$page" -v q="$path" '$1 == p && $2 == q {print $4}' "$work/results" | median)"
    printf "%-7s %-36s CPU %5s  fps %s\n" "$page" "$path" "$cpu" "$fps"
  done
done
