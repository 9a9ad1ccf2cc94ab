#!/usr/bin/env bash
# The client as a player runs it: an ordinary user (nobody, with a home of its own), the web
# engine's sandbox on and no engine flags at all. The login page must render, the engine's
# processes must run in a user namespace of their own (the sandbox), and the terminal it was
# started from gets nothing but the engine's error reports until it is told to end. Skipped,
# with the reason, where the kernel forbids unprivileged user namespaces or the test is not root.
set -euo pipefail
build="$1"
portal="$build/bin/qev-demo-portal"
here="$(cd "$(dirname "$0")" && pwd)"
if [[ "$(id -u)" != 0 ]]; then echo "SKIP: needs root to start the client as another user"; exit 0; fi
player=nobody
if ! runuser -u "$player" -- unshare -Ur true 2>/dev/null; then
  echo "SKIP: this kernel forbids unprivileged user namespaces (unshare -Ur true failed as $player)"
  exit 0
fi
work="$(mktemp -d)"
chmod 755 "$work"
source "$here/portal.sh"
trap 'stop_portal; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; cat "$work/steps.log" 2>/dev/null; echo "--- portal"; tail -20 "$work/portal.log"; exit 1; }
base="${QEV_DEMO_PORT_BASE:-18080}"
start_portal_on "$base" || fail "portal did not start"

# The player's own copy of the program and home; nothing of root's is reachable.
install -m 755 "$build/bin/qev" "$work/qev"
# A login session's runtime folder, as a desktop gives one.
mkdir -p "$work/home" "$work/run"
chown "$player" "$work/home" "$work/run"
chmod 700 "$work/run"

set +e
xvfb-run -a -s "-ac -screen 0 1280x800x24" bash -c '
  set -u
  work="$1"; player="$2"; base="$3"
  until_true() { for _ in $(seq "${2:-100}"); do eval "$1" && return 0; sleep 0.1; done; return 1; }
  runuser -u "$player" -- env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" HOME="$work/home" \
    XDG_RUNTIME_DIR="$work/run" \
    QT_QPA_PLATFORM=xcb "$work/qev" >"$work/client.out" 2>&1 & pid=$!
  until_true "grep -q \"GET :$base /micro2 \" \"$work/portal.log\"" 300 || { echo "no login page request"; exit 10; }
  # The page has painted once the login pane is no longer one flat colour.
  painted=""
  for _ in $(seq 100); do
    import -window root "$work/shot.png"
    spread="$(convert "$work/shot.png" -crop 300x200+326+252 +repage -colorspace gray -format "%[fx:standard_deviation]" info:)"
    awk -v s="$spread" "BEGIN { exit !(s > 0.03) }" && { painted=yes; break; }
    sleep 0.2
  done
  [[ -n "$painted" ]] || { echo "the login page did not render (spread $spread)"; exit 11; }
  # Its render processes are sandboxed: forked from the zygote of the engine inside a user
  # namespace other than the one of the client (and so still named after the zygote).
  own="$(readlink /proc/$pid/ns/user)"; sandboxed=0
  for p in $(pgrep -u "$player" -f QtWebEngineProcess); do
    grep -q -- "--no-sandbox" /proc/$p/cmdline && { echo "process $p runs with --no-sandbox"; exit 12; }
    [[ "$(readlink /proc/$p/ns/user)" != "$own" ]] && sandboxed=$((sandboxed + 1))
  done
  echo "engine processes in a sandbox namespace: $sandboxed"
  ((sandboxed > 0)) || exit 13
  # Only the engine error reports may be there (this X server has no GPU to give it).
  if grep -Ev "^\[[0-9]+:[0-9]+:[0-9/.]+:(ERROR|FATAL):" "$work/client.out" >"$work/chatter"; then
    echo "the client wrote to the terminal:"; head -20 "$work/chatter"; exit 14
  fi
  kill $pid; wait $pid
  exit 0
' _ "$work" "$player" "$base" >"$work/steps.log" 2>&1
result=$?
set -e
((result == 0)) || fail "ended with $result"
cat "$work/steps.log"
echo "sandbox as an ordinary user e2e: ok"
