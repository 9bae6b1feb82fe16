# A web server for the tests on 127.0.0.1 that keeps every request it
# receives in the folder given: rN.req (method, path and content type, one
# a line) and rN.body. Answers 404 for paths under /missing, a small web
# page for /page.html, and 200 "ok" otherwise.
# Writes its port to the file "port" there when ready; runs until it is
# ended by a signal.
import http.server
import os
import sys

folder = sys.argv[1]
PAGE = b"<html><body><h1>Fetched heading</h1><p>A paragraph from the local server.</p></body></html>"


class Keep(http.server.BaseHTTPRequestHandler):
    def keep(self, body):
        n = len([x for x in os.listdir(folder) if x.endswith(".req")])
        base = os.path.join(folder, "r%d" % n)
        with open(base + ".body", "wb") as f:
            f.write(body)
        # Written before the answer, so the test finds it complete.
        with open(base + ".req", "w") as f:
            f.write("%s\n%s\n%s\n" % (self.command, self.path, self.headers.get("Content-Type", "")))
        page = self.path == "/page.html"
        answer = PAGE if page else b"ok"
        self.send_response(404 if self.path.startswith("/missing") else 200)
        self.send_header("Content-Type", "text/html" if page else "text/plain")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def do_POST(self):
        self.keep(self.rfile.read(int(self.headers.get("Content-Length", "0"))))

    def do_GET(self):
        self.keep(b"")

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Keep)
with open(os.path.join(folder, "port.part"), "w") as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(folder, "port.part"), os.path.join(folder, "port"))
server.serve_forever()
