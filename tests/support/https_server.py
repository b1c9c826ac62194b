"""What the HTTPS stand-ins of the tests share (fake_github.py, git_https_server.py): a throw-away
CA with a server certificate, and a threading HTTPS server on loopback."""

import os
import ssl
import subprocess
import time
from http.server import ThreadingHTTPServer


def make_certificates(folder, hosts, ca_name):
    """A throw-away CA called `ca_name` and a server certificate for `hosts` signed by it, made in
    `folder` with the openssl command line. Returns the paths (ca, cert, key)."""
    def run(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    curve = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run("req", "-x509", *curve, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=" + ca_name,
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("req", *curve, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=" + hosts[0])
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("subjectAltName=" + ",".join("DNS:" + h for h in hosts) + "\n")
        f.write("basicConstraints=critical,CA:FALSE\n")
        f.write("keyUsage=critical,digitalSignature\n")
        f.write("extendedKeyUsage=serverAuth\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-set_serial", str(int(time.time() * 1000)), "-days", "2",
        "-extfile", "server.ext", "-out", "server.pem")
    return tuple(os.path.join(folder, n) for n in ("ca.pem", "server.pem", "server.key"))


def server_context(folder, hosts, ca_name):
    """make_certificates, then a server-side TLS context with that certificate. Returns
    (the CA's path, the context)."""
    ca, cert, key = make_certificates(folder, hosts, ca_name)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return ca, context


class HTTPSServer(ThreadingHTTPServer):
    """`handler` over TLS on 127.0.0.1:`port` (0: a free port), one thread a connection."""
    daemon_threads = True

    def __init__(self, port, handler, context):
        super().__init__(("127.0.0.1", port), handler)
        self.context = context

    def finish_request(self, request, client_address):
        # The TLS handshake runs in the connection's own thread, so a client that never
        # completes it blocks nobody else.
        try:
            request = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass  # clients that hang up early are part of the tests
