#!/usr/bin/env bash
# The client as a player runs it: an ordinary user (nobody, with a home of its own), the web
# engine's sandbox on and no engine flags at all. The login page must render, the engine's
# processes must run in a user namespace of their own (the sandbox), and the terminal it was
# started from gets nothing but the engine's error reports until it is told to end. Skipped,
# with the reason, where the kernel forbids unprivileged user namespaces or the test is not root.
source "$(dirname "$0")/runner.sh"
if [[ "$(id -u)" != 0 ]]; then echo "SKIP: needs root to start the client as another user"; exit 0; fi
player=nobody
if ! runuser -u "$player" -- unshare -Ur true 2>/dev/null; then
  echo "SKIP: this kernel forbids unprivileged user namespaces (unshare -Ur true failed as $player)"
  exit 0
fi
chmod 755 "$work"
layout_portal

# The player's own copy of the program and home; nothing of root's is reachable.
install -m 755 "$build/bin/qev" "$work/qev"
# A login session's runtime folder, as a desktop gives one.
mkdir -p "$work/home" "$work/run"
chown "$player" "$work/home" "$work/run"
chmod 700 "$work/run"

journey --ac 1280x800 sandbox_user "$work" "$player" "$base"
echo "sandbox as an ordinary user e2e: ok"
