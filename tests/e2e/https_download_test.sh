#!/usr/bin/env bash
# The download over https, against the demo portal serving with a certificate authority made
# here: a name with a blank and the manifest arrive whole; an untrusted certificate or one for
# another name is refused with one log line each; a redirect from http to https (another port)
# is followed, one from https down to http is refused with a log line.
# Usage: https_download_test.sh BUILD_DIR
set -euo pipefail

build="${1:?usage: $0 BUILD_DIR}"
portal="$build/bin/qev-demo-portal"
fetch="$build/bin/qev-fetch"
for tool in "$portal" "$fetch"; do [[ -x "$tool" ]] || { echo "FAIL: $tool not built"; exit 1; }; done

work="$(mktemp -d)"
source "$(dirname "$0")/portal.sh"
redirector_pid=""
trap 'stop_portal; [[ -n "$redirector_pid" ]] && kill "$redirector_pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; echo "--- portal log"; cat "$work/portal.log" 2>/dev/null || true; exit 1; }
pass() { echo "ok: $*"; }
export XDG_STATE_HOME="$work/state"
log="$work/state/qev/qev.log"

# A CA of this test's own, a certificate for 127.0.0.1 and one for another name.
make_cert() { # NAME SAN
  openssl req -newkey rsa:2048 -nodes -keyout "$work/$1.key" -subj "/CN=$1" \
    -out "$work/$1.csr" 2>/dev/null
  printf 'subjectAltName=%s\n' "$2" >"$work/$1.ext"
  openssl x509 -req -in "$work/$1.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -CAcreateserial -days 2 -extfile "$work/$1.ext" -out "$work/$1.pem" 2>/dev/null
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" \
  -days 2 -subj "/CN=qev test CA" 2>/dev/null
make_cert local "IP:127.0.0.1"
make_cert other "DNS:other.example"

mkdir -p "$work/files" "$work/got" "$work/got2" "$work/got3" "$work/got4"
head -c 3000000 /dev/urandom >"$work/files/qev setup.bin"

start_portal --tls "$work/local.pem" "$work/local.key" --files "$work/files" ||
  fail "portal did not start over https"
static="127.0.0.1:$((base + 3))"
"$fetch" --ca-file "$work/ca.pem" "https://$static/files/qev%20setup.bin" "$work/got" >"$work/f1" ||
  fail "the https download failed: $(tail -3 "$work/f1")"
cmp -s "$work/files/qev setup.bin" "$work/got/qev setup.bin" || fail "the https download differs"
"$fetch" --ca-file "$work/ca.pem" "https://$static/micro_client/mm/qev_new/update.xml" "$work/got" \
  >/dev/null || fail "the https manifest failed"
grep -q '<game ' "$work/got/update.xml" || fail "the manifest is not whole"
pass "https download of a name with a blank, and the manifest"

rm -f "$log"
if "$fetch" "https://$static/files/qev%20setup.bin" "$work/got2" >/dev/null 2>&1; then
  fail "a certificate of an unknown authority was taken"
fi
grep -qx "download certificate refused (untrusted): https://$static/files/qev%20setup.bin" "$log" ||
  fail "no log line for the untrusted certificate: $(cat "$log" 2>/dev/null)"
pass "untrusted certificate refused with one log line"

# http -> https on another port is followed; https -> http is not.
python3 - "$work" "$static" "$work/local.pem" "$work/local.key" <<'PY' >"$work/redirector.log" 2>&1 &
import http.server, ssl, sys, threading
work, static, cert, key = sys.argv[1:]
class Up(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(301)
        self.send_header("Location", "https://" + static + self.path)
        self.send_header("Content-Length", "0")
        self.end_headers()
class Down(Up):
    def do_GET(self):
        self.send_response(302)
        self.send_header("Location", "http://127.0.0.1:%d%s" % (up.server_port, self.path))
        self.send_header("Content-Length", "0")
        self.end_headers()
up = http.server.HTTPServer(("127.0.0.1", 0), Up)
down = http.server.HTTPServer(("127.0.0.1", 0), Down)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
down.socket = context.wrap_socket(down.socket, server_side=True)
open(work + "/ports", "w").write("%d %d\n" % (up.server_port, down.server_port))
threading.Thread(target=down.serve_forever, daemon=True).start()
up.serve_forever()
PY
redirector_pid=$!
for _ in $(seq 100); do [[ -s "$work/ports" ]] && break; sleep 0.05; done
read -r up_port down_port <"$work/ports" || fail "the redirector did not start"
rm -rf "$work/got"; mkdir -p "$work/got"
"$fetch" --ca-file "$work/ca.pem" "http://127.0.0.1:$up_port/files/qev%20setup.bin" "$work/got" \
  >/dev/null || fail "the redirect from http to https was not followed"
cmp -s "$work/files/qev setup.bin" "$work/got/qev setup.bin" || fail "the redirected download differs"
rm -f "$log"
if "$fetch" --ca-file "$work/ca.pem" "https://127.0.0.1:$down_port/files/qev%20setup.bin" \
  "$work/got3" >/dev/null 2>&1; then
  fail "a redirect from https down to http was followed"
fi
grep -q "^download redirect refused (scheme not allowed): http://127.0.0.1:$up_port/" "$log" ||
  fail "no log line for the refused redirect: $(cat "$log" 2>/dev/null)"
pass "http to https followed, https to http refused with one log line"

stop_portal
start_portal --tls "$work/other.pem" "$work/other.key" --files "$work/files" || fail "portal restart"
static="127.0.0.1:$((base + 3))"
rm -f "$log"
if "$fetch" --ca-file "$work/ca.pem" "https://$static/files/qev%20setup.bin" "$work/got4" \
  >/dev/null 2>&1; then
  fail "a certificate for another name was taken"
fi
grep -qx "download certificate refused (it names another host): https://$static/files/qev%20setup.bin" \
  "$log" || fail "no log line for the certificate of another name: $(cat "$log" 2>/dev/null)"
pass "certificate for another name refused with one log line"
