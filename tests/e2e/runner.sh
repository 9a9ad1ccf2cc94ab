# shellcheck shell=bash disable=SC2034 # $source_dir: the scripts'
# Sourced first by every end-to-end script, with the script's arguments: strict mode, the
# build folder ($build, the first argument), a scratch folder ($work) that goes at exit with
# the processes in $pids and the portal, the demo portal (portal.sh), fail and the waits
# (journey.sh). A journey's steps go to $work/steps.log; fail shows the logs in $logs.
set -euo pipefail
build="${1:?usage: $0 BUILD_DIR}"
e2e_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source_dir="$(cd "$e2e_dir/../.." && pwd)"
portal="$build/bin/qev-demo-portal"
artifacts="$build/test-artifacts"
work="$(mktemp -d)"
source "$e2e_dir/portal.sh"
source "$e2e_dir/journey.sh"

# Ended in this order at exit; then the pictures in $keep are copied to $artifacts.
pids=() keep=()
logs=("$work/steps.log" "$work/home/state/qev/qev.log" "$work/state/qev/qev.log" "$work/portal.log")
at_exit() {
  set +e
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  stop_portal
  ((${#keep[@]} == 0)) || { mkdir -p "$artifacts" && cp "${keep[@]}" "$artifacts/" 2>/dev/null; }
  rm -rf "$work"
}
trap at_exit EXIT

# layout_portal [OPTIONS...]: the portal on the built-in layout's ports (QEV_DEMO_PORT_BASE
# to +3, in $base), or fail.
# shellcheck disable=SC2120 # the options are optional
layout_portal() {
  start_portal_on "${QEV_DEMO_PORT_BASE:-18080}" "$@" ||
    fail "portal did not start (ports $base..$((base + 3)) busy?)"
}

# client_environment: a home of its own under $work, no XDG folders of the caller's, and the
# engine's flags for a machine without a GPU (sandbox_user_test runs it with its sandbox on).
client_environment() {
  mkdir -p "$work/home" "$work/run" && chmod 700 "$work/run"
  export HOME="$work/home" XDG_STATE_HOME="$work/home/state" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work"
  unset XDG_DATA_HOME XDG_CACHE_HOME XDG_CONFIG_HOME XDG_DOWNLOAD_DIR
  export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
  export QT_QPA_PLATFORM=xcb
}

# journey [--bus] [--ac] WIDTHxHEIGHT NAME ARGS...: runs journeys/NAME.sh with ARGS in a new
# X server of that size (--bus: with a session bus of its own and the client's accessibility
# on, for the accessibility tree; --ac: open to every user), its steps in $work/steps.log and
# printed; fails when it ends otherwise than 0.
journey() {
  local bus=() server="" result=0
  if [[ $1 == --bus ]]; then bus=(dbus-run-session -- env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1); shift; fi
  if [[ $1 == --ac ]]; then server="-ac "; shift; fi
  local screen="$1" name="$2"
  shift 2
  xvfb-run -a -s "$server-screen 0 ${screen}x24" "${bus[@]}" bash "$e2e_dir/journeys/$name.sh" "$@" \
    >"$work/steps.log" 2>&1 || result=$?
  ((result == 0)) || fail "the journey $name ended with $result"
  cat "$work/steps.log"
}
