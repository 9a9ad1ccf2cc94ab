#!/usr/bin/env bash
# Download soak: RUNS downloads with qev-fetch against qev-soak-server on loopback, each run
# misbehaving in one way picked from SEED (printed, so a run can be repeated):
#   clean       a clean answer
#   drop        the line drops at a random byte, the resume is answered well
#   ignored     a drop, then every Range is ignored (200 with the whole object)
#   wrongstart  a 206 whose Content-Range starts elsewhere than asked (after a drop, or always)
#   short       the length headers promise 100 bytes more than ever come
#   404         no such object
#   stall       the body goes silent at a random byte (once, or on every answer)
#   trickle     the body comes 1 KiB every 10 ms
# Checks, per run: it ends within BOUND seconds; a success (exit 0) is byte-identical to the
# object; a failure leaves no file claimed complete (no completion notice). Prints a table
# by behaviour and exits 1 on any violation.
# Usage: tests/soak/run.sh BUILD_DIR [RUNS [SEED]]
set -euo pipefail

build="${1:?usage: $0 BUILD_DIR [RUNS [SEED]]}"
runs="${2:-1000}"
seed="${3:-$(((RANDOM << 15) | RANDOM))}"
fetch="$build/bin/qev-fetch"
server="$build/bin/qev-soak-server"
for tool in "$fetch" "$server"; do
  [[ -x "$tool" ]] || { echo "FAIL: $tool not built"; exit 1; }
done

# The client's waits, shortened so a hostile run ends soon: a body silent for 1 s counts as
# stopped and reconnecting waits 250 ms. The slowest run (silent on every answer) is then
# 1 + 5 reopens of about 2.5 s each; BOUND leaves room for a loaded machine.
stall_seconds=1
retry_ms=250
bound=30
max_size=$((2 * 1024 * 1024))
trickle_max=$((64 * 1024))
behaviours=(clean drop ignored wrongstart short 404 stall trickle)

work="$(mktemp -d)"
server_pid=""
cleanup() {
  [[ -n "$server_pid" ]] && { exec 3>&-; wait "$server_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

# The server runs until its input closes.
mkfifo "$work/server.in"
"$server" <"$work/server.in" >"$work/server.out" 2>&1 &
server_pid=$!
exec 3>"$work/server.in"
for _ in $(seq 200); do
  grep -q '^port ' "$work/server.out" && break
  sleep 0.05
done
port=$(sed -n 's/^port //p' "$work/server.out")
[[ -n "$port" ]] || { echo "FAIL: soak server did not start"; exit 1; }

echo "soak: seed $seed, $runs runs, bound ${bound} s per run (stall ${stall_seconds} s, retry ${retry_ms} ms)"
RANDOM=$seed
declare -A count ok failed bad slowest
for b in "${behaviours[@]}"; do count[$b]=0 ok[$b]=0 failed[$b]=0 bad[$b]=0 slowest[$b]=0; done
violations=0

for run in $(seq 1 "$runs"); do
  b=${behaviours[$((RANDOM % ${#behaviours[@]}))]}
  limit=$max_size
  [[ $b == trickle ]] && limit=$trickle_max
  size=$(((((RANDOM << 15) | RANDOM) % (limit - 1)) + 2))
  cut=$(((((RANDOM << 15) | RANDOM) % (size - 1)) + 1))
  variant=$((RANDOM % 2))
  dir="$work/run$run"
  mkdir "$dir"
  url="http://127.0.0.1:$port/soak/$run/$b/$size/$cut/$variant/f$run.bin"

  start=$(date +%s%N)
  rc=0
  timeout "$bound" "$fetch" --stall-seconds "$stall_seconds" --retry-ms "$retry_ms" \
    "$url" "$dir" >"$dir/notices" 2>&1 || rc=$?
  ms=$((($(date +%s%N) - start) / 1000000))

  count[$b]=$((count[$b] + 1))
  ((ms > slowest[$b])) && slowest[$b]=$ms
  problem=""
  if [[ $rc == 124 ]]; then
    problem="did not end within ${bound} s"
  elif [[ $rc == 0 ]]; then
    "$server" --content "$run" "$size" "$dir/expected"
    if cmp -s "$dir/expected" "$dir/f$run.bin"; then
      ok[$b]=$((ok[$b] + 1))
    else
      problem="success with bytes that differ"
    fi
  elif [[ $rc == 1 ]]; then
    if grep -q '^kind=5 ' "$dir/notices"; then
      problem="failure, but a completion was reported"
    else
      failed[$b]=$((failed[$b] + 1))
    fi
  else
    problem="exit status $rc"
  fi
  if [[ -n "$problem" ]]; then
    bad[$b]=$((bad[$b] + 1))
    violations=$((violations + 1))
    echo "VIOLATION run $run ($b, size $size, cut $cut, variant $variant): $problem"
    tail -n 5 "$dir/notices" | sed 's/^/  /'
  else
    rm -rf "$dir"
  fi
done

printf '%-11s %6s %8s %8s %10s %9s\n' behaviour runs success failure violation "max s"
for b in "${behaviours[@]}"; do
  printf '%-11s %6d %8d %8d %10d %7d.%d\n' "$b" "${count[$b]}" "${ok[$b]}" "${failed[$b]}" \
    "${bad[$b]}" $((slowest[$b] / 1000)) $((slowest[$b] % 1000 / 100))
done
echo "soak: seed $seed: $violations violation(s) in $runs runs"
[[ $violations == 0 ]]
