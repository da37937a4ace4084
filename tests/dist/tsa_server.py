"""An RFC 3161 time-stamp server on 127.0.0.1 for the signing tests: answers
each POSTed query with `openssl ts -reply` under the given configuration.
Writes the port it listens on to PORT_FILE, then serves until killed.
    tsa_server.py OPENSSL_TS_CONFIG PORT_FILE
"""
import http.server
import os
import subprocess
import sys
import tempfile

config, port_file = sys.argv[1], sys.argv[2]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.NamedTemporaryFile() as q, tempfile.NamedTemporaryFile() as r:
            q.write(query)
            q.flush()
            done = subprocess.run(
                ["openssl", "ts", "-reply", "-config", config, "-queryfile", q.name,
                 "-out", r.name], capture_output=True)
            reply = r.read() if done.returncode == 0 else b""
        if not reply:
            sys.stderr.write(done.stderr.decode(errors="replace"))
            self.send_error(500)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(port_file + ".tmp", port_file)
server.serve_forever()
