#!/usr/bin/env python3
"""HTTPS test server on loopback with a certificate authority made for the run.

Run as a program, it makes a CA and a server certificate for 127.0.0.1 and
localhost in --dir, serves BODY for GET / on 127.0.0.1 at a free port, prints
one JSON line {"port": ..., "ca": ..., "url": ...} on standard output and
serves until it is killed.

Other test scripts import make_ca / make_server_cert / make_certs to get
certificates of their own.
"""

from __future__ import annotations

import argparse
import http.server
import json
import os
import socket
import ssl
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

BODY = b"kovane tls test server\nsecond line\n"

DEFAULT_HOSTS = ("127.0.0.1", "localhost")


@dataclass(frozen=True)
class CertAuthority:
    cert: Path
    key: Path


@dataclass(frozen=True)
class ServerCert:
    cert: Path
    key: Path
    # Server certificate followed by the CA, for servers that want to send it.
    chain: Path


@dataclass(frozen=True)
class CertSet:
    ca: CertAuthority
    server: ServerCert


def _openssl(*args: str, cwd: Path) -> None:
    # The machine's OPENSSL_CONF or SSL_CERT_* must not change what we make.
    env = {k: v for k, v in os.environ.items() if not k.startswith(("OPENSSL_", "SSL_CERT_"))}
    result = subprocess.run(["openssl", *args], cwd=cwd, env=env, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"openssl {' '.join(args)} failed:\n{result.stderr}")


def _key_args(key_type: str) -> list[str]:
    if key_type == "ec":
        return ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"]
    if key_type == "rsa":
        return ["-newkey", "rsa:2048"]
    raise ValueError(f"unknown key type {key_type!r}")


_CA_EXTENSIONS = ("basicConstraints=critical,CA:TRUE", "keyUsage=critical,keyCertSign,cRLSign",
                  "subjectKeyIdentifier=hash")


def make_ca(directory: Path, name: str = "ca", common_name: str = "Kovane Test CA",
            key_type: str = "ec", days: int = 2, expired: bool = False) -> CertAuthority:
    """Makes a self-signed CA certificate <name>.pem and key <name>.key in directory; an expired
    one ended a year ago."""
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    cert, key = directory / f"{name}.pem", directory / f"{name}.key"
    if expired:
        _make_expired_ca(directory, name, common_name, key_type)
        return CertAuthority(cert=cert, key=key)
    extensions = [arg for extension in _CA_EXTENSIONS for arg in ("-addext", extension)]
    _openssl("req", "-x509", *_key_args(key_type), "-nodes", "-keyout", str(key), "-out", str(cert),
             "-days", str(days), "-subj", f"/CN={common_name}", *extensions, cwd=directory)
    return CertAuthority(cert=cert, key=key)


def _make_expired_ca(directory: Path, name: str, common_name: str, key_type: str) -> None:
    # "req -x509" only counts days forward; "ca" takes any dates.
    work = directory / f"{name}-ca-work"
    work.mkdir()
    (work / "index.txt").write_text("")
    (work / "serial").write_text("01\n")
    (work / "ca.cnf").write_text(
        "[ca]\ndefault_ca = d\n[d]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
        "default_md = sha256\npolicy = p\nunique_subject = no\n[p]\ncommonName = supplied\n")
    (work / "ext").write_text("".join(extension + "\n" for extension in _CA_EXTENSIONS))
    csr = work / "ca.csr"
    _openssl("req", "-new", *_key_args(key_type), "-nodes", "-keyout",
             str(directory / f"{name}.key"), "-out", str(csr), "-subj", f"/CN={common_name}",
             cwd=work)
    year_ago = time.gmtime(time.time() - 365 * 86400)
    start = time.strftime("%Y%m%d000000Z", time.gmtime(time.time() - 2 * 365 * 86400))
    _openssl("ca", "-batch", "-config", "ca.cnf", "-selfsign", "-keyfile",
             str(directory / f"{name}.key"), "-in", str(csr), "-out", str(directory / f"{name}.pem"),
             "-startdate", start, "-enddate", time.strftime("%Y%m%d000000Z", year_ago),
             "-extfile", "ext", "-notext", cwd=work)


def make_server_cert(directory: Path, ca: CertAuthority, hosts=DEFAULT_HOSTS, name: str = "server",
                     key_type: str = "ec", days: int = 2,
                     common_name_only: bool = False) -> ServerCert:
    """Makes a server certificate signed by ca, valid for hosts (IP addresses or DNS names); with
    common_name_only the first host is only its common name, without subjectAltName."""
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    cert, key, csr = directory / f"{name}.pem", directory / f"{name}.key", directory / f"{name}.csr"
    ext = directory / f"{name}.ext"
    alt_names = []
    for host in hosts:
        try:
            socket.inet_pton(socket.AF_INET6 if ":" in host else socket.AF_INET, host)
            alt_names.append(f"IP:{host}")
        except OSError:
            alt_names.append(f"DNS:{host}")
    ext.write_text(
        "basicConstraints=critical,CA:FALSE\n"
        "keyUsage=critical,digitalSignature,keyEncipherment\n"
        "extendedKeyUsage=serverAuth\n"
        "subjectKeyIdentifier=hash\n"
        "authorityKeyIdentifier=keyid\n"
        + ("" if common_name_only else f"subjectAltName={','.join(alt_names)}\n"))
    _openssl("req", "-new", *_key_args(key_type), "-nodes", "-keyout", str(key), "-out", str(csr),
             "-subj", f"/CN={hosts[0]}", cwd=directory)
    _openssl("x509", "-req", "-in", str(csr), "-CA", str(ca.cert), "-CAkey", str(ca.key),
             "-set_serial", str(int.from_bytes(os.urandom(8), "big")), "-days", str(days),
             "-extfile", str(ext), "-out", str(cert), cwd=directory)
    chain = directory / f"{name}-chain.pem"
    chain.write_bytes(cert.read_bytes() + ca.cert.read_bytes())
    return ServerCert(cert=cert, key=key, chain=chain)


def make_certs(directory: Path, hosts=DEFAULT_HOSTS, key_type: str = "ec") -> CertSet:
    """A new CA and a server certificate for hosts, both in directory."""
    ca = make_ca(directory, key_type=key_type)
    return CertSet(ca=ca, server=make_server_cert(directory, ca, hosts, key_type=key_type))


def server_context(server: ServerCert) -> ssl.SSLContext:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    # The leaf alone, as most servers send for a root-signed certificate.
    context.load_cert_chain(str(server.cert), str(server.key))
    context.set_alpn_protocols(["http/1.1"])
    return context


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def _answer(self, send_body: bool) -> None:
        if self.path != "/":
            body, status = b"not found\n", 404
        else:
            body, status = BODY, 200
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if send_body:
            self.wfile.write(body)

    def do_GET(self) -> None:  # noqa: N802 (name fixed by http.server)
        self._answer(send_body=True)

    def do_HEAD(self) -> None:  # noqa: N802
        self._answer(send_body=False)

    def log_message(self, format: str, *args) -> None:  # noqa: A002
        sys.stderr.write("tls_server: %s\n" % (format % args))


class TlsServer(http.server.ThreadingHTTPServer):
    """Accepts plain TCP and does the TLS handshake in the connection's own
    thread, so a client that stalls or fails its handshake holds up no one."""

    daemon_threads = True

    def __init__(self, context: ssl.SSLContext, handler=_Handler):
        super().__init__(("127.0.0.1", 0), handler)
        self.context = context

    def finish_request(self, request, client_address) -> None:
        request.settimeout(30)
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as error:
            sys.stderr.write(f"tls_server: handshake with {client_address[0]} failed: {error}\n")
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            tls.close()

    def handle_error(self, request, client_address) -> None:
        error = sys.exc_info()[1]
        if isinstance(error, (ssl.SSLError, ConnectionError, TimeoutError)):
            sys.stderr.write(f"tls_server: connection from {client_address[0]}: {error}\n")
            return
        super().handle_error(request, client_address)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dir", required=True, type=Path, help="folder for the certificates")
    parser.add_argument("--key-type", choices=("ec", "rsa"), default="ec")
    args = parser.parse_args()

    certs = make_certs(args.dir.resolve(), key_type=args.key_type)
    server = TlsServer(server_context(certs.server))
    port = server.server_address[1]
    print(json.dumps({"port": port, "ca": str(certs.ca.cert), "url": f"https://127.0.0.1:{port}/"}),
          flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
