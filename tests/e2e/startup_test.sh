#!/usr/bin/env bash
# The qev program as a user starts it: the update modes without any display, and an
# ordinary start that stays running until it is closed.
set -euo pipefail
build="$1"
qev="$build/bin/qev"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# -u with three arguments touches nothing, even without a display.
echo new > "$work/pkg"; echo old > "$work/prog"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$qev" -u -p0 "$work/pkg" || fail "-u (3 args) exit code"
[[ "$(cat "$work/prog")" == old && "$(cat "$work/pkg")" == new ]] || fail "-u with three arguments touched a file"

# -u installs the package (here a script) and starts it with the -r line; no display needed.
cat > "$work/pkg" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$@" > "$work/args.part" && mv "$work/args.part" "$work/args"
SCRIPT
rm -f "$work/prog"; cp "$qev" "$work/prog"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$qev" -u -p0 "$work/pkg" "$work/prog" || fail "-u exit code"
cmp -s "$work/pkg" "$work/prog" || fail "program file is not the package"
[[ -x "$work/prog" ]] || fail "program file lost its executable bit"
for _ in $(seq 50); do [[ -f "$work/args" ]] && break; sleep 0.1; done
[[ "$(sed -n 1p "$work/args")" == "-r" && "$(sed -n 4p "$work/args")" == "$work/pkg" ]] \
  || fail "installed program started with: $(tr '\n' ' ' < "$work/args")"

# -r deletes the copy and the package and opens nothing.
echo a > "$work/copy"; echo b > "$work/package"
env -u DISPLAY QT_QPA_PLATFORM=xcb "$qev" -r -p0 "$work/copy" "$work/package" || fail "-r exit code"
[[ ! -e "$work/copy" && ! -e "$work/package" ]] || fail "-r left files behind"

# An ordinary start runs until it is closed.
export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
result="$(xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  "$0" >/dev/null 2>&1 & pid=$!
  sleep 6
  if kill -0 $pid 2>/dev/null; then echo running; kill $pid; wait $pid 2>/dev/null; else echo ended; fi; exit 0' "$qev")"
[[ "$result" == running ]] || fail "ordinary start did not stay running ($result)"
echo "startup e2e: ok"
