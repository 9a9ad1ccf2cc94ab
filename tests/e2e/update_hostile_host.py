# The hostile update host of self_update_two_copies_test.sh: the same manifest, an unsigned
# package of the same name, and a statement that is never answered. Arguments: the manifest,
# the package, the port. Logs each request to stderr.
import http.server, sys, time
manifest, evil, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        sys.stderr.write("GET %s\n" % self.path); sys.stderr.flush()
        if self.path.endswith(".sig"):
            time.sleep(600)
            return
        body = open(manifest if self.path.endswith(".xml") else evil, "rb").read()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler).serve_forever()
