#!/usr/bin/env bash
# The "-u" hand-over step killed with SIGKILL at spread-out moments of its copy over a large
# program file. After every kill the program file must be exactly the old bytes or exactly
# the new ones, with its mode, and one later start of the program must leave no temporary
# sibling beside it.
#
# usage: tests/soak/handover_kill.sh BUILD [POINTS] [MIB]
#   BUILD   build folder holding bin/qev
#   POINTS  kill moments (default 100), spread evenly over the measured copy time
#   MIB     padding of the program file in MiB (default 32); it makes the copy take a while
# The work folder is under $TMPDIR (default /tmp), so the copy meets a real file system.
set -euo pipefail
build="$1"
points="${2:-100}"
mib="${3:-32}"
qev="$build/bin/qev"
[[ -x "$qev" ]] || { echo "no program at $qev"; exit 2; }
work="$(mktemp -d "${TMPDIR:-/tmp}/qev-kill-XXXXXX")"
trap 'rm -rf "$work"' EXIT
export XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache"
fail() { echo "FAIL at point $1: $2"; exit 1; }

# The old and the new program: the client itself (so the later start runs it) with two
# different paddings after it, which the loader ignores.
cp "$qev" "$work/old"
head -c "${mib}M" /dev/urandom >>"$work/old"
cp "$qev" "$work/new"
head -c "${mib}M" /dev/urandom >>"$work/new"
program_mode=751 # neither the package's 600 nor a default, so a lost mode shows

now_us() { local t="$EPOCHREALTIME"; echo "${t/./}"; }
# Sub-millisecond naps without starting a process: a read that times out on a pipe no one
# writes to. Spinning instead would take a core from the very copy being measured.
exec {nap_fd}<> <(:)
nap() { read -r -t "$1" -u "$nap_fd" _ || true; }
siblings() { compgen -G "$1/prog.qev-*.tmp" | wc -l || true; }

# Lays out point folder $1: the program file (old), the package (new, as the download
# leaves it) and the updater, which is the package itself: the update step installs its
# own running program.
prepare() {
  mkdir -p "$1"
  cp "$work/old" "$1/prog"
  chmod "$program_mode" "$1/prog"
  cp "$work/new" "$1/pkg"
  chmod 600 "$1/pkg"
  cp "$work/new" "$1/updater"
  chmod 700 "$1/updater"
}

# Busy-waits (no fork) until the copy's temporary sibling appears; prints the time.
wait_for_copy_start() {
  local dir="$1" pid="$2"
  while ! compgen -G "$dir/prog.qev-*.tmp" >/dev/null; do
    kill -0 "$pid" 2>/dev/null || break
    nap 0.0005
  done
  now_us
}

# Calibration: how long the copy lasts, from its sibling's appearance to the rename.
durations=()
for run in 1 2 3; do
  dir="$work/calibrate$run"
  prepare "$dir"
  inode_before="$(stat -c %i "$dir/prog")"
  "$dir/updater" -u -p0 "$dir/pkg" "$dir/prog" & pid=$!
  start="$(wait_for_copy_start "$dir" "$pid")"
  while [[ "$(stat -c %i "$dir/prog")" == "$inode_before" ]]; do
    kill -0 "$pid" 2>/dev/null || break
    nap 0.0005
  done
  durations+=($(($(now_us) - start)))
  wait "$pid" || true
  cmp -s "$dir/prog" "$work/new" || fail calibration "an uninterrupted hand-over did not install"
done
copy_us="$(printf '%s\n' "${durations[@]}" | sort -n | sed -n 2p)"
echo "copy of $((mib + $(stat -c %s "$qev") / 1048576)) MiB takes ${copy_us} us (median of 3); $points kill points"

old=0 new=0 left=0
for ((i = 0; i < points; i++)); do
  dir="$work/p$i"
  prepare "$dir"
  # Moments from the copy's start to a little past its end (the rename and the restart).
  delay=$((copy_us * (2 * i + 1) * 11 / (20 * points)))
  "$dir/updater" -u -p0 "$dir/pkg" "$dir/prog" & pid=$!
  start="$(wait_for_copy_start "$dir" "$pid")"
  target=$((start + delay))
  # Nap most of the way, then watch the clock for the last few milliseconds.
  if ((delay > 6000)); then
    nap "$(((delay - 5000) / 1000000)).$(printf '%06d' $(((delay - 5000) % 1000000)))"
  fi
  while ((${EPOCHREALTIME/./} < target)); do :; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true

  if cmp -s "$dir/prog" "$work/old"; then
    old=$((old + 1))
  elif cmp -s "$dir/prog" "$work/new"; then
    new=$((new + 1))
  else
    fail "$i" "the program file is neither the old nor the new bytes"
  fi
  [[ "$(stat -c %a "$dir/prog")" == "$program_mode" ]] ||
    fail "$i" "the program file's mode is $(stat -c %a "$dir/prog")"
  n="$(siblings "$dir")"
  left=$((left + n))
  # One later start of the program (its cleanup step, which needs no display).
  "$dir/prog" -r -p0 "$dir/none1" "$dir/none2"
  [[ "$(siblings "$dir")" == 0 ]] || fail "$i" "a temporary sibling survived a later start"
  rm -rf "$dir"
done
echo "handover kill: $points points, old $old, new $new, temporary siblings left by kills $left, all removed by the next start: ok"
