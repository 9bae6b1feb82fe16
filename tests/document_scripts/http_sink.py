# A web server for the tests on 127.0.0.1 that keeps every request it
# receives in the folder given: rN.req (method, path and content type, one
# a line) and rN.body. Answers 404 for paths under /missing, 200 otherwise.
# Prints its port when ready and stops when its standard input closes.
import http.server
import os
import sys
import threading

folder = sys.argv[1]


class Keep(http.server.BaseHTTPRequestHandler):
    def keep(self, body):
        n = len([x for x in os.listdir(folder) if x.endswith(".req")])
        base = os.path.join(folder, "r%d" % n)
        with open(base + ".body", "wb") as f:
            f.write(body)
        with open(base + ".req.part", "w") as f:
            f.write("%s\n%s\n%s\n" % (self.command, self.path, self.headers.get("Content-Type", "")))
        os.rename(base + ".req.part", base + ".req")
        code = 404 if self.path.startswith("/missing") else 200
        self.send_response(code)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", "2")
        self.end_headers()
        self.wfile.write(b"ok")

    def do_POST(self):
        self.keep(self.rfile.read(int(self.headers.get("Content-Length", "0"))))

    def do_GET(self):
        self.keep(b"")

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Keep)
print(server.server_address[1], flush=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
sys.stdin.read()
server.shutdown()
