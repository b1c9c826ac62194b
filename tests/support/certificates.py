"""Certificates for the HTTPS stand-ins of the tests (fake_github.py, git_https_server.py)."""

import os
import subprocess
import time


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
