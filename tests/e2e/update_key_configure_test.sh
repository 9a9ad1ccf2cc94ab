#!/usr/bin/env bash
# Configure alone, in scratch folders: a build for loopback hosts makes its own update key
# pair once; a build for any real host needs the operator's key; empty keys, malformed keys
# and keys whose secrets the repository holds are refused.
# Usage: update_key_configure_test.sh BUILD_DIR (its bin/qev-sign makes the operator's key)
source "$(dirname "$0")/runner.sh"
cmake_bin="${QEV_CMAKE:-cmake}"
generator="${QEV_CMAKE_GENERATOR:-Ninja}"
logs=("$work/log")
pass() { echo "ok: $*"; }
[[ -x "$build/bin/qev-sign" ]] || fail "$build/bin/qev-sign not built"

# configure DIR [cmake args...]: configure only; true when it succeeds, its output in $work/log.
configure() {
  local dir="$1"
  shift
  "$cmake_bin" -S "$source_dir" -B "$dir" -G "$generator" -DQEV_BUILD_GUI=OFF \
    -DQEV_BUILD_TESTS=OFF "$@" >"$work/log" 2>&1
}
# built_key DIR: the update key DIR's client is compiled with (every definition of it).
built_key() {
  grep -o 'QEV_UPDATE_PUBLIC_KEY=[^ ]*' "$1/compile_commands.json" | tr -d '\\"' | sort -u
}
loopback_hosts=(-DQEV_PORTAL_HOST=127.0.0.1:18080 -DQEV_GAME_HOST=127.0.0.1:18081
  -DQEV_FORUM_HOST=127.0.0.1:18082 -DQEV_STATIC_HOST=127.0.0.1:18083)
real_hosts=(-DQEV_PORTAL_HOST=portal.velmora.example -DQEV_GAME_HOST=game.velmora.example
  -DQEV_FORUM_HOST=forum.velmora.example -DQEV_STATIC_HOST=static.velmora.example)

# --- loopback hosts, no key: the folder's own pair, made once
own="$work/own"
configure "$own" || fail "loopback build without a key"
secret="$own/update-key/qev-update.secret"
public="$(cat "$own/update-key/qev-update.public")"
[[ "$(stat -c %a "$secret")" == 600 ]] || fail "secret file mode $(stat -c %a "$secret")"
[[ "$(stat -c %a "$own/update-key")" == 700 ]] || fail "key folder mode"
grep -vq '^#' <(head -n -1 "$secret") && fail "more than comments before the key line"
tail -n 1 "$secret" | grep -Eqx 'qev-update-secret-key 1 [A-Za-z0-9+/]{43}=' ||
  fail "key line: $(tail -n 1 "$secret")"
[[ "$(built_key "$own")" == "QEV_UPDATE_PUBLIC_KEY=$public" ]] ||
  fail "the client is not built with the folder's public key $public"
grep -Fq "$(tail -n 1 "$secret")" "$own/tools/demo-portal/demo_update_key.h" ||
  fail "the portal does not carry the folder's secret"
cp "$secret" "$work/first.secret"
configure "$own" || fail "second configure"
cmp -s "$secret" "$work/first.secret" || fail "the second configure made another pair"
pass "loopback build makes its own pair (secret mode 0600) and keeps it"

# --- which hosts count as loopback; each case on one of the four host variables
loopback=("127.0.0.1" "127.0.0.1:80" "127.255.255.255:65535" "127.0.0.0" "localhost"
  "localhost:18080" "[::1]" "[::1]:18080")
real=("velmora.example" "127.evil.example:80" "127.0.0.1.evil.example" "localhost.evil.example"
  "127.0.0.256" "127.1" "0127.0.0.1" "127.00.0.1" "128.0.0.1" "10.0.0.1:80" "[::2]:80"
  "[::1].evil.example" "127.0.0.1:80@evil.example" "127.0.0.1:" "127.0.0.1:http" "")
vars=(QEV_PORTAL_HOST QEV_GAME_HOST QEV_FORUM_HOST QEV_STATIC_HOST)
i=0
for host in "${loopback[@]}" "${real[@]}"; do
  var="${vars[i % 4]}"
  expect=pass
  ((i >= ${#loopback[@]})) && expect=fail
  i=$((i + 1))
  got=fail
  configure "$own" "${loopback_hosts[@]}" "-D$var=$host" && got=pass
  [[ $got == "$expect" ]] || fail "$var='$host' without a key: configure should $expect"
  if [[ $got == fail ]]; then
    grep -q "$var=" "$work/log" && grep -q 'qev-sign keygen' "$work/log" ||
      fail "$var='$host': the message names neither the host nor how to make a key"
  fi
done
configure "$own" "${loopback_hosts[@]}" || fail "back to loopback hosts"
cmp -s "$secret" "$work/first.secret" || fail "the pair changed"
pass "${#loopback[@]} loopback hosts pass, ${#real[@]} others need a key"

# --- real hosts: no key fails; the operator's key builds, with no secret anywhere
operator="$work/operator"
configure "$operator" "${real_hosts[@]}" && fail "real hosts without a key configured"
grep -q 'qev-sign keygen' "$work/log" && grep -q 'DQEV_UPDATE_PUBLIC_KEY=' "$work/log" ||
  fail "the message does not say how to make a key"
key="$("$build/bin/qev-sign" keygen "$work/operator.key")"
configure "$operator" "${real_hosts[@]}" "-DQEV_UPDATE_PUBLIC_KEY=$key" ||
  fail "real hosts with the operator's key"
[[ ! -e "$operator/update-key" ]] || fail "an operator build made its own pair"
[[ "$(built_key "$operator")" == "QEV_UPDATE_PUBLIC_KEY=$key" ]] ||
  fail "the client is not built with the operator's key"
! grep -q 'qev-update-secret-key' "$operator/tools/demo-portal/demo_update_key.h" ||
  fail "an operator build's portal carries a secret"
configure "$operator" || fail "reconfigure keeps the operator's key"
pass "real hosts need a key; the operator's key builds without any secret"

# --- refused keys: every one whose secret the repository holds, empty, malformed
mapfile -t committed < <(grep -oE '^[A-Za-z0-9+/]{43}=' "$source_dir/cmake/committed_update_keys.txt")
((${#committed[@]} >= 5)) || fail "only ${#committed[@]} keys on the committed list"
for refused in "${committed[@]}"; do
  configure "$operator" "-DQEV_UPDATE_PUBLIC_KEY=$refused" && fail "committed key $refused taken"
  grep -q 'in this repository' "$work/log" || fail "committed key $refused: no reason given"
done
for bad in "" "${key:0:43}" "${key}A" "${key:0:42}B=" "${key:0:42}!=" " $key"; do
  configure "$operator" "-DQEV_UPDATE_PUBLIC_KEY=$bad" && fail "key '$bad' taken"
done
configure "$operator" "-DQEV_UPDATE_PUBLIC_KEY=$key" || fail "the operator's key again"
pass "${#committed[@]} committed keys, an empty key and 5 malformed keys refused"

# --- a folder configured before builds made their own keys: the old default is dropped
cat >"$work/old-cache.cmake" <<EOF
set(QEV_UPDATE_PUBLIC_KEY "36KzXt4AVKjWizZcBruKwN9QqNI28JreWzt7fv3swQE=" CACHE STRING
    "Base64 Ed25519 public key that signs update packages (empty: no check)")
EOF
configure "$work/old" -C "$work/old-cache.cmake" || fail "old build folder"
[[ -s "$work/old/update-key/qev-update.secret" ]] || fail "the old folder made no pair"
pass "an old folder's former default key is replaced by its own pair"
echo "update key configure: ok"
