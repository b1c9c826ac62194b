#!/usr/bin/env python3
"""A git smart-HTTP server over HTTPS for end-to-end tests: git's own `git http-backend` behind a
small TLS front that asks for Basic authentication the way GitHub does.

Start:
    git_https_server.py --root DIR --token-file FILE --hosts github.com [--port 443] [--wait 300]

It makes a throw-away CA and a server certificate for the host names (openssl CLI), listens on
127.0.0.1, and writes one JSON line to standard output when it is ready:
    {"port": 443, "ca": "/tmp/git-https-x/ca.pem"}
or {"error": "..."} when it cannot listen. While another server holds the port it waits for it,
at most --wait seconds, so that test programs and the demo take turns on port 443.

Every request must carry "Authorization: Basic" with the user "x-access-token" and, as the
password, the token currently written in --token-file (read on each request, so a test can
change it). Anything else gets 401 with a Basic challenge. Authorised requests are served by
`git http-backend` for the repositories under --root (pushes included).

Each request is appended to --log, when given, as one JSON line:
    {"method": "GET", "path": "/o/n.git/info/refs?service=...", "user": "...", "password": "...",
     "status": 200}
End of standard input stops the server and removes the CA and keys.
"""

import argparse
import base64
import errno
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from https_server import HTTPSServer, server_context  # noqa: E402


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def version_string(self):
        return "GitHTTPSTestServer"

    def log_message(self, format, *args):
        pass

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip(), 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(body)
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def credentials(self):
        header = self.headers.get("Authorization", "")
        if not header.startswith("Basic "):
            return None, None
        try:
            user, _, password = base64.b64decode(header[6:]).decode().partition(":")
        except ValueError:
            return None, None
        return user, password

    def send(self, status, headers, body):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def handle_any(self):
        server = self.server
        body = self.read_body()
        user, password = self.credentials()
        with open(server.token_file) as f:
            token = f.read().strip()
        authorised = user == "x-access-token" and password == token
        status = self.serve(body, user) if authorised else self.challenge()
        server.record({"method": self.command, "path": self.path, "user": user,
                       "password": password, "status": status})

    def challenge(self):
        self.send(401, [("WWW-Authenticate", 'Basic realm="GitHub"'),
                        ("Content-Type", "text/plain")], b"Authentication required\n")
        return 401

    def serve(self, body, user):
        path, _, query = self.path.partition("?")
        environment = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "GIT_PROJECT_ROOT": self.server.root,
            "GIT_HTTP_EXPORT_ALL": "1",
            "REQUEST_METHOD": self.command,
            "PATH_INFO": path,
            "QUERY_STRING": query,
            "CONTENT_TYPE": self.headers.get("Content-Type", ""),
            "CONTENT_LENGTH": str(len(body)),
            "REMOTE_USER": user,  # lets http-backend accept pushes
            "REMOTE_ADDR": "127.0.0.1",
        }
        for header, variable in (("Content-Encoding", "HTTP_CONTENT_ENCODING"),
                                 ("Git-Protocol", "GIT_PROTOCOL")):
            if self.headers.get(header):
                environment[variable] = self.headers[header]
        result = subprocess.run(["git", "http-backend"], input=body, env=environment,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        head, _, payload = result.stdout.partition(b"\r\n\r\n")
        if not _:
            head, _, payload = result.stdout.partition(b"\n\n")
        status = 200
        headers = []
        for line in head.decode("latin-1").splitlines():
            name, _, value = line.partition(":")
            if name.lower() == "status":
                status = int(value.strip().split()[0])
            elif name:
                headers.append((name, value.strip()))
        self.send(status, headers, payload)
        return status

    do_GET = do_POST = handle_any


class Server(HTTPSServer):
    def __init__(self, port, context, root, token_file, log):
        super().__init__(port, Handler, context)
        self.root = root
        self.token_file = token_file
        self.log = log
        self.log_lock = threading.Lock()

    def record(self, entry):
        if not self.log:
            return
        with self.log_lock, open(self.log, "a") as f:
            f.write(json.dumps(entry) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--token-file", required=True)
    parser.add_argument("--hosts", default="github.com")
    parser.add_argument("--port", type=int, default=443)
    parser.add_argument("--log")
    parser.add_argument("--wait", type=float, default=300,
                        help="seconds to wait while another server holds the port")
    options = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="git-https-")
    try:
        ca, context = server_context(folder, options.hosts.split(","), "Git HTTPS Test CA")
        # The port is the turn: tests and the demo that need it wait until it is free.
        deadline = time.monotonic() + options.wait
        while True:
            try:
                server = Server(options.port, context, options.root, options.token_file,
                                options.log)
                break
            except OSError as error:
                if error.errno != errno.EADDRINUSE or time.monotonic() > deadline:
                    sys.stdout.write(json.dumps({"error": str(error)}) + "\n")
                    sys.stdout.flush()
                    return
                time.sleep(0.2)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        sys.stdout.write(json.dumps({"port": server.server_address[1], "ca": ca}) + "\n")
        sys.stdout.flush()
        for _ in sys.stdin:
            pass
        server.shutdown()
        server.server_close()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
