#!/usr/bin/env bash
# Download benchmark: qev-fetch against curl on the same loopback file, served by the demo
# portal. Builds nothing; give it a build directory that holds bin/qev-fetch and
# bin/qev-demo-portal.
#   bench/download/run.sh BUILD_DIR [SIZE_MIB]
# Prints the median throughput of each tool over 3 interleaved runs and their ratio, then
# fetches once more through a portal that drops every connection after 32 MiB of body and
# checks that the file is byte-identical and how many bytes were fetched twice.
set -euo pipefail

build="${1:?usage: run.sh BUILD_DIR [SIZE_MIB]}"
size_mib="${2:-256}"
fetch="$build/bin/qev-fetch"
portal="$build/bin/qev-demo-portal"
for tool in "$fetch" "$portal"; do
  [[ -x "$tool" ]] || { echo "missing $tool (build it first)" >&2; exit 1; }
done
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 1; }

work="$(mktemp -d)"
portal_pid=""
stop_portal() {
  if [[ -n "$portal_pid" ]]; then
    kill "$portal_pid" 2>/dev/null || true
    wait "$portal_pid" 2>/dev/null || true
    portal_pid=""
  fi
}
trap 'stop_portal; rm -rf "$work"' EXIT

mkdir -p "$work/files" "$work/a" "$work/b" "$work/c"
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$work/files/big.bin"
bytes="$(stat -c %s "$work/files/big.bin")"

start_portal() {
  local port
  for _ in $(seq 1 20); do
    port=$((20000 + RANDOM % 20000))
    "$portal" --port "$port" --files "$work/files" "$@" >"$work/portal.log" 2>&1 &
    portal_pid=$!
    for _ in $(seq 1 50); do
      if curl -s -o /dev/null -r 0-0 "http://127.0.0.1:$port/files/big.bin"; then
        url="http://127.0.0.1:$port/files/big.bin"
        return 0
      fi
      kill -0 "$portal_pid" 2>/dev/null || break
      sleep 0.1
    done
    stop_portal
  done
  echo "the demo portal did not start" >&2
  cat "$work/portal.log" >&2
  exit 1
}

now() { date +%s.%N; }
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

start_portal
: >"$work/fetch.times"
: >"$work/fetch8.times"
: >"$work/curl.times"
# time_fetch TIMES_FILE [qev-fetch options]
time_fetch() {
  local times="$1"
  shift
  rm -f "$work/a/big.bin"
  sync
  local t0 t1
  t0="$(now)"
  "$fetch" "$@" "$url" "$work/a" >/dev/null
  t1="$(now)"
  cmp -s "$work/files/big.bin" "$work/a/big.bin" || { echo "qev-fetch: file differs" >&2; exit 1; }
  awk -v a="$t0" -v b="$t1" -v n="$bytes" 'BEGIN {printf "%.3f\n", n / (b - a) / 1048576}' >>"$times"
}
time_curl() {
  rm -f "$work/b/big.bin"
  sync
  local t0 t1
  t0="$(now)"
  curl -s -o "$work/b/big.bin" "$url"
  t1="$(now)"
  cmp -s "$work/files/big.bin" "$work/b/big.bin" || { echo "curl: file differs" >&2; exit 1; }
  awk -v a="$t0" -v b="$t1" -v n="$bytes" 'BEGIN {printf "%.3f\n", n / (b - a) / 1048576}' >>"$work/curl.times"
}
# Interleaved, alternating which goes first; written data is flushed before each timing
# so neither tool pays for the other's write-back.
# The client's own buffer sizes (256 KiB grown to 2 MiB), and the largest buffer the
# download thread accepts: reading steps keep at least 2 ms between them, so the buffer
# size bounds what one step can carry.
for run in 1 2 3; do
  if ((run % 2)); then
    time_fetch "$work/fetch.times"; time_curl; time_fetch "$work/fetch8.times" --buffer 8388608
  else
    time_fetch "$work/fetch8.times" --buffer 8388608; time_curl; time_fetch "$work/fetch.times"
  fi
done
stop_portal

fetch_mibs="$(median <"$work/fetch.times")"
fetch8_mibs="$(median <"$work/fetch8.times")"
curl_mibs="$(median <"$work/curl.times")"
echo "file: $size_mib MiB over loopback, 3 interleaved runs each"
echo "qev-fetch median: $fetch_mibs MiB/s ($(paste -sd' ' "$work/fetch.times"))"
echo "qev-fetch --buffer 8 MiB median: $fetch8_mibs MiB/s ($(paste -sd' ' "$work/fetch8.times"))"
echo "curl -o   median: $curl_mibs MiB/s ($(paste -sd' ' "$work/curl.times"))"
awk -v a="$fetch_mibs" -v b="$curl_mibs" 'BEGIN {printf "ratio qev-fetch/curl: %.2f\n", a / b}'
awk -v a="$fetch8_mibs" -v b="$curl_mibs" 'BEGIN {printf "ratio qev-fetch --buffer 8 MiB/curl: %.2f\n", a / b}'

# Dropped connections: every response is cut after 32 MiB of body.
start_portal --drop-every 33554432
"$fetch" "$url" "$work/c" >"$work/drop.notices"
stop_portal
if cmp -s "$work/files/big.bin" "$work/c/big.bin"; then identical=yes; else identical=NO; fi
# A reopen (kind 2) below the highest position already reported means bytes came twice.
awk '
  { for (i = 1; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] } }
  f["kind"] == 2 && f["code"] == 0 {
    opens++
    if (f["received"] < top) twice += top - f["received"]
  }
  f["received"] > top { top = f["received"] }
  END { printf "drop every 32 MiB: %d opens, %d bytes fetched twice\n", opens, twice }
' "$work/drop.notices"
echo "drop every 32 MiB: byte-identical: $identical"
[[ "$identical" == yes ]]
