#!/usr/bin/env bash
# Drives qev-demo-portal with curl: login page links, the remembered hero, task feed, manifest,
# package, Range answers, deliberate drops and resuming, the report endpoint, the game page's
# cached script pack and downloads, paced bodies, and a clean stop.
# Usage: demo_portal_test.sh BUILD_DIR
source "$(dirname "$0")/runner.sh"
[[ -x "$portal" ]] || fail "$portal not built"
pass() { echo "ok: $*"; }
fetch() { curl -sS --max-time 10 "$@"; }

# Starts the portal with the given options on a free block of four ports; sets base.
start_portal_or_fail() { start_portal "$@" || fail "portal did not start"; }

# Sends the signal and expects a clean exit (status 0) within 5 s.
stop_with() {
  local rc=0
  kill "-$1" "$portal_pid"
  until_true -n 50 not running "$portal_pid" || fail "portal still running 5 s after SIG$1"
  wait "$portal_pid" || rc=$?
  portal_pid=""
  [[ $rc == 0 ]] || fail "portal exit status $rc after SIG$1"
}

# The version the build announces, from the project's own version (a.b.c.d).
version="$(sed -n 's/^project(qev VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")"
IFS=. read -r v1 v2 v3 v4 <<<"$version"
major=$(((v1 << 16) | v2))
minor=$(((v3 << 16) | v4))

# --- without an update on offer
start_portal_or_fail
portal_url="http://127.0.0.1:$base"
static_url="http://127.0.0.1:$((base + 3))"

fetch "$portal_url/micro2" >"$work/login.html"
grep -q '<input[^>]*name="user"' "$work/login.html" || fail "login page has no name field"
pass "login page"

fetch "$portal_url/micro2?user=Tess+Ward" >"$work/realms.html"
links=$(grep -oE '<a [^>]*target="_game"[^>]*>' "$work/realms.html" |
  grep -E 'title="[^"]+"' | grep -E "href=\"http://127\.0\.0\.1:$((base + 1))/play\?server=[^\"]+&amp;user=Tess%20Ward\"" |
  grep -E 'domain="[^"]+"' | grep -E 'sid="[0-9a-f]{16}"' | grep -c 'user="Tess Ward"') || true
[[ "$links" == 3 ]] || fail "expected 3 _game links with all five attributes, got $links"
pass "server list links"

fetch "$portal_url/micro2/GetTasks?account=Tess&sid=abc&domain=s1.velmora.demo" >"$work/tasks.json"
grep -qE '^\{"server_time":"[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}","activities":\[' \
  "$work/tasks.json" || fail "task feed header: $(cat "$work/tasks.json")"
[[ $(grep -o '"activity_iNo":"[0-9]*"' "$work/tasks.json" | wc -l) == 3 ]] || fail "task feed activities"
grep -q "\"display_sUrl\":\"http:\\\\/\\\\/127.0.0.1:$base\\\\/micro2\\\\/TaskTips?tid=1\"" \
  "$work/tasks.json" || fail "display_sUrl: $(cat "$work/tasks.json")"
pass "task feed"

for page in "/micro2/TaskTips?tid=1011" "/micro2/Logout"; do
  [[ $(fetch -o /dev/null -w '%{http_code}' "$portal_url$page") == 200 ]] || fail "$page"
done
game=$(fetch "http://127.0.0.1:$((base + 1))/play?server=s2&user=Tess")
grep -q 'Moonfall Keep' <<<"$game" && grep -q 'korvel=1' <<<"$game" || fail "game page"
[[ $(fetch -o /dev/null -w '%{http_code}' "http://127.0.0.1:$((base + 2))/") == 200 ]] || fail "forum"
pass "tips, logout, game and forum pages"

# A hero signs in with "Remember me", comes back greeted without the form, and the logout
# forgets them; a sign-in without the box has a session cookie only.
jar="$work/cookies"
grep -q '<input type="checkbox" name="remember" id="remember">' "$work/login.html" ||
  fail "login page has no remember box"
fetch -c "$jar" -D "$work/plain.h" -o /dev/null "$portal_url/micro2?user=Tess"
grep -qiE '^Set-Cookie: session=[0-9a-f]{16}; Path=/micro2; HttpOnly' "$work/plain.h" &&
  ! grep -qiE '^Set-Cookie: session=.*(Max-Age|Expires)' "$work/plain.h" ||
  fail "session cookie: $(cat "$work/plain.h")"
[[ $(fetch -b "$jar" "$portal_url/micro2") == *'name="user"'* ]] || fail "greeted without remember"
fetch -b "$jar" -c "$jar" -D "$work/keep.h" -o /dev/null "$portal_url/micro2?user=%3CTess%3E&remember=on"
grep -qi '^Set-Cookie: remember=%3CTess%3E; Max-Age=2592000; Path=/' "$work/keep.h" ||
  fail "remember cookie: $(cat "$work/keep.h")"
fetch -b "$jar" "$portal_url/micro2" >"$work/back.html"
grep -q '<p id="greeting"[^>]*>Welcome back, &lt;Tess&gt;</p>' "$work/back.html" ||
  fail "no greeting: $(cat "$work/back.html")"
[[ $(grep -oE '<a [^>]*target="_game"[^>]*user="&lt;Tess&gt;"' "$work/back.html" | grep -c sid=) == 3 ]] &&
  ! grep -q 'name="user"' "$work/back.html" || fail "the greeted page is not the realm list"
fetch -b "$jar" -c "$jar" -D "$work/out.h" -o /dev/null "$portal_url/micro2/Logout"
grep -qi '^Set-Cookie: remember=; Max-Age=0; Path=/' "$work/out.h" || fail "logout keeps the hero"
[[ $(fetch -b "$jar" "$portal_url/micro2") == *'name="user"'* ]] || fail "remembered after logout"
pass "remember me: set, greeted, forgotten by the logout"

# The game page's script pack: cached for a day under a strong tag, answered 304 when the
# tag matches, every request counted; its downloads, one cut short.
game_url="http://127.0.0.1:$((base + 1))"
for id in 'button id="fullscreen"' 'a id="download" [^>]*href="/dl/reward.bin"' \
  'a id="download-broken" [^>]*href="/dl/broken.bin"' 'audio id="music" autoplay loop src="/assets/music.wav"' \
  'script src="/assets/pack.js"'; do
  grep -qE "<$id" <<<"$game" || fail "game page lacks <$id"
done
fetch -D "$work/pack.h" -o "$work/pack.js" "$game_url/assets/pack.js"
etag="$(sed -n 's/^etag: *//Ip' "$work/pack.h" | tr -d '\r')"
grep -q '^HTTP/1.1 200' "$work/pack.h" && grep -qi '^Cache-Control: max-age=86400' "$work/pack.h" &&
  [[ $etag == '"'*'"' && $(stat -c %s "$work/pack.js") == 4194304 ]] &&
  [[ $(tail -c 26 "$work/pack.js") == 'window.packLoaded = true;' ]] || fail "pack: $(cat "$work/pack.h")"
fetch -D "$work/pack304.h" -o "$work/pack304.body" -H "If-None-Match: $etag" "$game_url/assets/pack.js"
grep -q '^HTTP/1.1 304' "$work/pack304.h" && [[ ! -s "$work/pack304.body" ]] ||
  fail "If-None-Match: $(cat "$work/pack304.h")"
fetch -o /dev/null -H 'If-None-Match: "other"' "$game_url/assets/pack.js"
[[ $(fetch "http://127.0.0.1:$((base + 2))/stats") == 'pack.js requests=3 200=2 304=1' ]] ||
  fail "stats: $(fetch "$portal_url/stats")"
[[ $(grep -c "^GET :$((base + 1)) /assets/pack.js -> " "$work/portal.log") == 3 ]] || fail "pack requests not logged"
pass "script pack: 200, then 304 for its tag, counted"
fetch -D "$work/music.h" -o "$work/music.wav" "$game_url/assets/music.wav"
[[ $(head -c 4 "$work/music.wav") == RIFF ]] || fail "music"
fetch -D "$work/reward.h" -o "$work/reward.bin" "$game_url/dl/reward.bin"
grep -qi '^Content-Disposition: attachment; filename="reward.bin"' "$work/reward.h" &&
  grep -qi '^Content-Type: application/octet-stream' "$work/reward.h" &&
  [[ $(stat -c %s "$work/reward.bin") == 262144 && $(od -An -tu1 -j 65537 -N1 "$work/reward.bin") == *38 ]] ||
  fail "reward: $(cat "$work/reward.h")"
rc=0
fetch -D "$work/broken.h" -o "$work/broken.bin" "$game_url/dl/broken.bin" 2>/dev/null || rc=$?
grep -qi '^Content-Length: 262144' "$work/broken.h" && grep -qi '^Content-Disposition: attachment' "$work/broken.h" &&
  [[ $rc == 18 ]] && cmp -s "$work/broken.bin" <(head -c 65536 "$work/reward.bin") ||
  fail "broken download: curl exit $rc, $(stat -c %s "$work/broken.bin") bytes"
pass "reward download, and the broken one cut at 65536 bytes"

[[ $(fetch "$portal_url/micro2/Report?from=demo&mac=0A1B2C3D4E5F") == ok ]] || fail "report answer"
grep -q '/micro2/Report?from=demo&mac=0A1B2C3D4E5F' "$work/portal.log" || fail "report not logged"
[[ $(fetch "$portal_url/micro2/Report&mac=0A1B2C3D4E5F") == ok ]] || fail "report without a query"
pass "report endpoint"

for path in /micro_client/mm/qev_new/update.xml /micro_client/mm/qev_newupdate2.xml; do
  manifest=$(fetch "$static_url$path")
  grep -q "<game major=\"$major\" minor=\"$minor\">" <<<"$manifest" || fail "$path: $manifest"
  ! grep -q '<item' <<<"$manifest" || fail "$path offers an item"
done
pass "manifest announces the current version $major/$minor"
rc=0
timeout 10 "$portal" --port "$base" >/dev/null 2>"$work/second.err" || rc=$?
[[ $rc == 1 ]] && grep -q 'cannot listen' "$work/second.err" ||
  fail "a second portal on busy ports: exit $rc, $(cat "$work/second.err")"
pass "a second portal on the same ports is refused"
stop_with INT
pass "stops on SIGINT"

# --- with an update on offer, dropping every response after 50000 body bytes
package="$work/demo pkg.bin"
head -c 200000 /dev/urandom >"$package"
# The portal signs with the key this build made for itself, which its client trusts (ctest
# passes that key); otherwise (a build given the operator's key, or no key passed) it is
# handed a key of this test's own.
if [[ -n "${QEV_UPDATE_SECRET_KEY_FILE:-}" ]]; then
  statement_key="$QEV_UPDATE_PUBLIC_KEY"
  signing=()
  signed_with="the build's own key"
else
  statement_key="$("$build/bin/qev-sign" keygen "$work/test.key")"
  signing=(--secret-key "$work/test.key")
  signed_with="--secret-key"
fi
start_portal_or_fail --offer-update "$package" --drop-every 50000 "${signing[@]}"
static_url="http://127.0.0.1:$((base + 3))"
package_url="$static_url/micro_client/mm/qev_new/packages/demo+pkg.bin"

manifest=$(fetch "$static_url/micro_client/mm/qev_new/update.xml")
grep -q "<game major=\"$major\" minor=\"$((minor + 1))\">" <<<"$manifest" || fail "offer: $manifest"
grep -q "host=\"127.0.0.1:$((base + 3))\" path=\"/micro_client/mm/qev_new/packages/\" file=\"demo pkg.bin\"" \
  <<<"$manifest" || fail "offered item: $manifest"
pass "manifest offers the next version"

fetch -D "$work/h1" -o "$work/range.bin" -H 'Range: bytes=1000-1999' "$package_url"
grep -q '^HTTP/1.1 206' "$work/h1" || fail "range status: $(head -1 "$work/h1")"
grep -qi '^Content-Range: bytes 1000-1999/200000' "$work/h1" || fail "Content-Range"
grep -qi '^Content-Length: 1000' "$work/h1" || fail "Content-Length"
cmp -s "$work/range.bin" <(dd if="$package" bs=1000 skip=1 count=1 2>/dev/null) ||
  fail "range bytes differ"
fetch -D "$work/h2" -o "$work/tail.bin" -H 'Range: bytes=150000-' "$package_url"
grep -qi '^Content-Range: bytes 150000-199999/200000' "$work/h2" || fail "open range"
cmp -s "$work/tail.bin" <(tail -c 50000 "$package") || fail "open range bytes differ"
fetch -D "$work/h3" -o /dev/null -H 'Range: bytes=200000-' "$package_url"
grep -q '^HTTP/1.1 416' "$work/h3" && grep -qi '^Content-Range: bytes \*/200000' "$work/h3" ||
  fail "unsatisfiable range: $(cat "$work/h3")"
pass "range answers 206 and 416"

rc=0
fetch -o "$work/dropped.bin" "$package_url" 2>/dev/null || rc=$?
[[ $rc == 18 && $(stat -c %s "$work/dropped.bin") == 50000 ]] ||
  fail "drop: curl exit $rc, $(stat -c %s "$work/dropped.bin") bytes"
grep -q '^drop ' "$work/portal.log" || fail "drop not logged"
for attempt in 1 2 3 4 5; do
  rc=0
  fetch -C - -o "$work/dropped.bin" "$package_url" 2>/dev/null || rc=$?
  [[ $rc == 0 ]] && break
  [[ $rc == 18 ]] || fail "resume: curl exit $rc"
done
cmp -s "$package" "$work/dropped.bin" || fail "resumed package differs"
[[ $attempt == 3 ]] || fail "expected 3 resumes of 50000 bytes, took $attempt"
pass "dropped connection and resume"

# The statement beside the package holds for it under the key it was signed with.
mkdir -p "$work/check"
cp "$package" "$work/check/demo pkg.bin"
fetch -o "$work/check/demo pkg.bin.sig" "$package_url.sig"
"$build/bin/qev-sign" verify "$statement_key" "$work/check/demo pkg.bin" >/dev/null ||
  fail "the portal's statement does not hold: $(cat "$work/check/demo pkg.bin.sig")"
grep -q "^version $v1\.$v2\.$v3\.$((v4 + 1))\$" "$work/check/demo pkg.bin.sig" ||
  fail "statement version: $(cat "$work/check/demo pkg.bin.sig")"
pass "statement signed with $signed_with"

stop_with TERM
pass "stops on SIGTERM"

# --- hostile files folder and request heads: only regular files inside the folder are
# served, a FIFO does not hold a worker, and heads are bounded
files="$work/files"
mkdir -p "$files"
printf 'inside' >"$files/plain.bin"
printf 'outside' >"$work/secret.txt"
mkfifo "$files/pipe"
ln -s "$work/secret.txt" "$files/out"
start_portal_or_fail --files "$files" --asset-mib 1
files_url="http://127.0.0.1:$base/files"
unpaced=$(fetch -o /dev/null -w '%{time_total}' "http://127.0.0.1:$((base + 1))/assets/pack.js")
[[ $(fetch "$files_url/plain.bin") == inside ]] || fail "regular file in --files"
for name in pipe out; do
  code=$(fetch -o /dev/null -w '%{http_code}' --max-time 3 "$files_url/$name") || code="timeout"
  [[ $code == 404 ]] || fail "$name in --files answered $code"
done
[[ $(fetch "$files_url/plain.bin") == inside ]] || fail "a worker is still held"
pass "FIFO and link in --files refused at once"
many=()
for i in $(seq 100); do many+=(-H "X-Filler-$i: $i"); done
[[ $(fetch -o /dev/null -w '%{http_code}' "${many[@]}" "$files_url/plain.bin") == 431 ]] ||
  fail "100 header lines accepted"
[[ $(fetch -o /dev/null -w '%{http_code}' "${many[@]:0:40}" "$files_url/plain.bin") == 200 ]] ||
  fail "20 header lines refused"
pass "request heads beyond 64 lines refused (431)"
stop_with TERM

# --- paced: a 1 MiB body at 500000 bytes per second takes about two seconds, many times the
# unpaced time, and holds up no other connection; a stop does not wait for it
start_portal_or_fail --rate 500000 --asset-mib 1
fetch -o "$work/paced.js" -w '%{time_total}' "http://127.0.0.1:$((base + 1))/assets/pack.js" >"$work/paced.t" &
fetcher=$!
until_true test -s "$work/paced.js" || fail "the paced body never began"
other=$(fetch -o /dev/null -w '%{time_total}' "http://127.0.0.1:$((base + 1))/stats")
wait "$fetcher" || fail "paced fetch failed"
paced=$(cat "$work/paced.t")
[[ $(stat -c %s "$work/paced.js") == 1048576 ]] || fail "paced body size"
awk -v p="$paced" -v u="$unpaced" -v o="$other" 'BEGIN {exit !(p >= 1.5 && p <= 6 && p >= 5 * u && o < 0.5)}' ||
  fail "paced ${paced}s, unpaced ${unpaced}s, another request meanwhile ${other}s"
pass "paced 1 MiB in ${paced}s (unpaced ${unpaced}s), another request meanwhile ${other}s"
fetch -o "$work/cut.js" "http://127.0.0.1:$((base + 1))/assets/pack.js" 2>/dev/null &
fetcher=$!
until_true test -s "$work/cut.js" || fail "the paced body never began"
kill -TERM "$portal_pid"
until_true -n 10 not running "$portal_pid" || fail "portal still sending its paced body 1 s after SIGTERM"
wait "$portal_pid" || fail "portal exit status $? after SIGTERM"
portal_pid=""
wait "$fetcher" 2>/dev/null || true
pass "stops at once during a paced body"

# --- over https, with a certificate for 127.0.0.1 that this test makes and trusts
make_cert tls
start_portal_or_fail --tls "$work/tls.pem" "$work/tls.key"
fetch --cacert "$work/tls.pem" "https://127.0.0.1:$((base + 3))/micro_client/mm/qev_new/update.xml" |
  grep -q '<game ' || fail "no manifest over https"
pass "serves over https with --tls"
