#!/usr/bin/env python3
"""A fake GitHub for tests: HTTPS on loopback, scripted over standard input.

Start:
    fake_github.py [--hosts github.com,api.github.com] [--fixtures DIR] [--routes FILE]

It makes a throw-away test CA and a server certificate for the given host names (openssl CLI),
listens on 127.0.0.1 on a free port, and writes one JSON line to standard output when it is
ready:
    {"port": 40123, "ca": "/tmp/fake-github-x/ca.pem"}

Clients reach it through libcurl's connect-to ("github.com:443:127.0.0.1:40123") and trust the
CA file. It then reads one JSON command per line on standard input and answers each with one
JSON line on standard output:
    {"op": "route", "route": {...}}   add a route                  -> {"ok": true}
    {"op": "reset"}                   forget routes and requests   -> {"ok": true}
    {"op": "requests"}                the requests received so far -> {"requests": [...]}
End of input stops the service (and removes the CA and keys).

A route answers one method and path:
    {"method": "GET", "path": "/user",        path with query, or without it to match any query
     "host": "api.github.com",                optional: only requests for this Host
     "status": 200,                           default 200
     "headers": [["Content-Type", "application/json"]],
     "body": "text" | "body_file": "user.json" (in --fixtures) | "body_size": 4194304,
     "body_byte": "x",                        filler for body_size, default "x"
     "delay": 1.5,                            seconds to wait before answering
     "hang": true,                            read the request, never answer
     "stream": true,                          no Content-Length: the body ends when the
                                              connection closes
     "drop_after": 100,                       announce the whole body, send only its first
                                              100 bytes, then drop the connection
     "times": 2}                              answer this many times, then give way
Routes added for the same method and path queue up: the first answers until its "times" run
out, then the next one does ("pending", "pending", "authorized"). A route added without "times"
answers for good. Requests that match no route get GitHub's 404 body.

Built-in endpoints (answers computed from the request rather than scripted) are plain functions
registered with @endpoint(method, path); a scripted route for the same method and path wins.

The REST paths ("/user", "/repos/{owner}/{repo}", the installation listings) are answered by
rest_endpoints.py, after the scripted routes and the endpoints above, the way GitHub answers
them: rate-limit headers, Link pages, accounts chosen by the bearer token (see that module).

The second of --hosts is the API host. Every request to it is first checked as GitHub checks
it: an X-GitHub-Api-Version that GitHub does not support answers 400, whatever is scripted.
Scripted routes otherwise answer exactly as scripted (a test that scripts a 403 decides its
rate-limit headers); the built-in answers and the 404 of an unknown API path carry GitHub's
x-ratelimit-* headers.

Every request is recorded: {"method", "path", "host", "headers": [[name, value], ...], "body"}.
"""

import argparse
import json
import os
import shutil
import socket
import sys
import tempfile
import threading
from http.server import BaseHTTPRequestHandler

import rest_endpoints  # GitHub's REST answers for repositories and installations

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from https_server import HTTPSServer, server_context  # noqa: E402

NOT_FOUND = {"message": "Not Found", "documentation_url": "https://docs.github.com/rest"}

# (method, path) -> function(request dict) -> route dict (same keys as a scripted route)
ENDPOINTS = {}


def endpoint(method, path):
    def register(function):
        ENDPOINTS[(method, path)] = function
        return function
    return register


class State:
    def __init__(self, fixtures, api_host=None):
        self.fixtures = fixtures
        self.api_host = api_host
        self.lock = threading.Lock()
        self.routes = {}  # (method, path) -> [route, ...]
        self.requests = []
        self.stopping = threading.Event()

    def add_route(self, route):
        if "method" not in route or "path" not in route:
            raise ValueError("a route needs a method and a path")
        with self.lock:
            self.routes.setdefault((route["method"], route["path"]), []).append(dict(route))

    def reset(self):
        with self.lock:
            self.routes.clear()
            self.requests.clear()

    def record(self, request):
        with self.lock:
            self.requests.append(request)

    def recorded(self):
        with self.lock:
            return list(self.requests)

    def answer_for(self, request):
        """The route that answers `request`, used up by one if it counts its answers."""
        full = request["path"]
        bare = full.split("?", 1)[0]
        api = request["host"] == self.api_host
        if api:
            refusal = rest_endpoints.version_refusal(request)
            if refusal is not None:
                return refusal
        with self.lock:
            for key in ((request["method"], full), (request["method"], bare)):
                queue = self.routes.get(key, [])
                for route in queue:
                    if route.get("host") not in (None, request["host"]):
                        continue
                    if "times" in route:
                        route["times"] -= 1
                        if route["times"] <= 0:
                            queue.remove(route)
                    return route
        for key in ((request["method"], full), (request["method"], bare)):
            if key in ENDPOINTS:
                return ENDPOINTS[key](request)
        built_in = rest_endpoints.answer_for(request)
        if built_in is not None:
            return built_in
        not_found = {"status": 404,
                     "headers": [["Content-Type", "application/json; charset=utf-8"]],
                     "body": json.dumps(NOT_FOUND)}
        return rest_endpoints.with_rate_headers(not_found) if api else not_found

    def body_of(self, route):
        if "body_file" in route:
            with open(os.path.join(self.fixtures, route["body_file"]), "rb") as f:
                return f.read()
        if "body_size" in route:
            return route.get("body_byte", "x").encode()[:1] * int(route["body_size"])
        body = route.get("body", "")
        return body.encode() if isinstance(body, str) else bytes(body)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def version_string(self):
        return "FakeGitHub"

    def handle_any(self):
        state = self.server.state
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        request = {
            "method": self.command,
            "path": self.path,
            "host": (self.headers.get("Host") or "").split(":")[0],
            "headers": [[k, v] for k, v in self.headers.items()],
            "body": body.decode("utf-8", "replace"),
        }
        state.record(request)
        route = state.answer_for(request)
        if route.get("hang"):
            state.stopping.wait()
            self.close_connection = True
            return
        if route.get("delay"):
            if state.stopping.wait(float(route["delay"])):
                return
        payload = state.body_of(route)
        self.send_response(int(route.get("status", 200)))
        headers = route.get("headers", [])
        if isinstance(headers, dict):
            headers = list(headers.items())
        for name, value in headers:
            self.send_header(name, value)
        if route.get("stream"):
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        if self.command != "HEAD":
            sent = payload
            if "drop_after" in route:
                sent = payload[:int(route["drop_after"])]
            for start in range(0, len(sent), 65536):
                self.wfile.write(sent[start:start + 65536])
            if "drop_after" in route:
                self.drop_connection()

    def drop_connection(self):
        """Ends the connection mid-body: no more bytes, no TLS close_notify."""
        self.wfile.flush()
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = do_HEAD = handle_any

    def log_message(self, format, *args):
        pass


def serve_commands(state, output):
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            command = json.loads(line)
            op = command.get("op")
            if op == "route":
                state.add_route(command["route"])
                answer = {"ok": True}
            elif op == "reset":
                state.reset()
                answer = {"ok": True}
            elif op == "requests":
                answer = {"requests": state.recorded()}
            else:
                answer = {"error": "unknown op %r" % op}
        except (ValueError, KeyError, TypeError, AttributeError) as error:
            answer = {"error": str(error)}
        output.write(json.dumps(answer) + "\n")
        output.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hosts", default="github.com,api.github.com")
    parser.add_argument("--fixtures", default=os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "fixtures", "github"))
    parser.add_argument("--routes", help="JSON file with a list of routes to start with")
    options = parser.parse_args()

    hosts = [h for h in options.hosts.split(",") if h]
    folder = tempfile.mkdtemp(prefix="fake-github-")
    try:
        ca, context = server_context(folder, hosts, "Fake GitHub Test CA")
        state = State(options.fixtures, hosts[1] if len(hosts) > 1 else None)
        if options.routes:
            with open(options.routes) as f:
                for route in json.load(f):
                    state.add_route(route)
        server = HTTPSServer(0, Handler, context)
        server.state = state
        thread = threading.Thread(target=server.serve_forever, daemon=True)
        thread.start()
        output = sys.stdout
        output.write(json.dumps({"port": server.server_address[1], "ca": ca}) + "\n")
        output.flush()
        serve_commands(state, output)
        state.stopping.set()
        server.shutdown()
        server.server_close()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
