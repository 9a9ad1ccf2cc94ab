#!/usr/bin/env bash
# qev-fetch.exe under Wine against the Linux demo portal: a 64 MiB file through a portal
# that drops every connection after 7 MiB of body must arrive byte-identical, resumed with
# Range requests through WinINet.
# Usage: fetch_wine_test.sh WINDOWS_BUILD_DIR PORTAL_BINARY WINE_LOADER
# Exits 77 (skipped) when the Linux build with the portal is not there.
set -euo pipefail

build="${1:?usage: $0 WINDOWS_BUILD_DIR PORTAL_BINARY WINE_LOADER}"
portal="${2:?}"
wine="${3:?}"
fetch="$build/bin/qev-fetch.exe"
[[ -x "$portal" ]] || { echo "skipped: no demo portal at $portal (build the Linux tree first)"; exit 77; }
[[ -f "$fetch" ]] || { echo "FAIL: $fetch not built"; exit 1; }

work="$(mktemp -d)"
source "$(dirname "$0")/../e2e/portal.sh"
trap 'stop_portal; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- portal log"; tail -n 20 "$work/portal.log" || true; exit 1; }

size=$((64 * 1024 * 1024))
drop=$((7 * 1024 * 1024))
mkdir -p "$work/files" "$work/out"
head -c "$size" /dev/urandom >"$work/files/big.bin"
start_portal --files "$work/files" --drop-every "$drop" || fail "portal did not start"

# Wine shows the Linux file system as drive Z:.
rc=0
"$wine" "$fetch" "http://127.0.0.1:$base/files/big.bin" "Z:$work/out" >"$work/notices" 2>"$work/stderr" ||
  rc=$?
[[ $rc == 0 ]] || { tail -n 5 "$work/notices" "$work/stderr"; fail "qev-fetch.exe exit status $rc"; }
cmp -s "$work/files/big.bin" "$work/out/big.bin" || fail "downloaded file differs"
# kind=2: a request was opened; one per connection.
opens=$(grep -c '^kind=2 code=0 ' "$work/notices" || true)
expected=$(((size + drop - 1) / drop))
[[ $opens -ge $expected ]] || fail "expected at least $expected opened requests, got $opens"
echo "ok: 64 MiB byte-identical through $opens requests (a drop every 7 MiB)"
