#!/usr/bin/env python3
"""Loopback HTTP/1.1 server for the HTTP client's tests, well-behaved and not.

    http_test_server.py [--tls-dir DIR [--tls-hosts H,...] [--tls-min V] [--tls-max V]
                         [--tls-ciphers C] [--key-type ec|rsa]
                         [--tls-chain FILE --tls-key FILE]]

Listens on 127.0.0.1 at a free port and prints one JSON line {"port": ..., "ca": ...}.
Routes (the query gives the numbers):
  /echo...            200, the request as received: "GET target" then one "Name: value" line
                      per header, then "sni: NAME" over TLS
  /status?code=N      status N with a short body
  /chain?n=N          302 to /chain?n=N-1 ... /chain?n=0 answers like /echo
  /location?code=N&to=URL   status N with Location URL (raw, as given)
  /nolocation         302 without a Location
  /connection         200, the serial number of the connection the request came on
  /bytes?n=N          N bytes with a Content-Length; &chunked=1 without one
  /slow-head?ms=N     the head after N ms
  /pause?ms=N         half the body, N ms of silence, the rest
  /trickle?pieces=N&ms=M    N pieces of one byte, M ms apart
  /short              Content-Length 100, 10 bytes, then the connection closes
  /reset              part of the body, then a reset connection
  /malformed          a head that is not HTTP
  /endless-headers    header lines that never end
  /long-header        one header line that never ends
  /silent             never answers
  /close              closes without answering
Proxy mode (--proxy): every request is answered as a proxy would; see handle_proxy.
"""

from __future__ import annotations

import argparse
import itertools
import socket
import ssl
import struct
import sys
import time
import urllib.parse
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import loopback  # noqa: E402
import tls_server  # noqa: E402

_serials = itertools.count(1)


def answer(conn, status: int, body: bytes, headers=(), reason: str = "X") -> None:
    head = f"HTTP/1.1 {status} {reason}\r\n"
    for name, value in headers:
        head += f"{name}: {value}\r\n"
    if not any(name.lower() in ("content-length", "transfer-encoding") for name, _ in headers):
        head += f"Content-Length: {len(body)}\r\n"
    conn.sendall(head.encode("latin-1") + b"\r\n" + body)


def pattern(n: int) -> bytes:
    block = bytes(range(256)) * 256
    out = bytearray()
    while len(out) < n:
        out += block[: n - len(out)]
    return bytes(out)


def handle_request(conn, serial: int, request_line: str, lines: list[str], sni: str | None) -> bool:
    """Answers one request; False when the connection must close."""
    target = request_line.split(" ")[1] if " " in request_line else "/"
    parsed = urllib.parse.urlsplit(target)
    query = dict(urllib.parse.parse_qsl(parsed.query))
    path = parsed.path
    number = lambda key, default=0: int(query.get(key, default))  # noqa: E731

    if path.startswith("/echo") or (path == "/chain" and number("n") == 0):
        text = request_line + "\n" + "".join(line + "\n" for line in lines)
        if sni is not None:
            text += f"sni: {sni}\n"
        answer(conn, 200, text.encode("latin-1"))
    elif path == "/status":
        answer(conn, number("code"), b"status body")
    elif path == "/chain":
        answer(conn, 302, b"", [("Location", f"/chain?n={number('n') - 1}")])
    elif path == "/location":
        to = urllib.parse.unquote(query.get("to", ""))
        answer(conn, number("code", 302), b"moved", [("Location", to)])
    elif path == "/nolocation":
        answer(conn, 302, b"no location")
    elif path == "/connection":
        answer(conn, 200, str(serial).encode())
    elif path == "/bytes":
        # Sent as it is made: a large body must not keep its head waiting.
        n = number("n")
        block = pattern(65536)
        pieces = (block[: min(65536, n - at)] for at in range(0, n, 65536))
        if query.get("chunked"):
            conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
            for piece in pieces:
                conn.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
            conn.sendall(b"0\r\n\r\n")
        else:
            conn.sendall(b"HTTP/1.1 200 X\r\nContent-Length: %d\r\n\r\n" % n)
            for piece in pieces:
                conn.sendall(piece)
    elif path == "/slow-head":
        time.sleep(number("ms") / 1000)
        answer(conn, 200, b"late head")
    elif path == "/pause":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nfirs")
        time.sleep(number("ms") / 1000)
        conn.sendall(b"t2nd")
    elif path == "/trickle":
        pieces = number("pieces")
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % pieces)
        for _ in range(pieces):
            time.sleep(number("ms") / 1000)
            conn.sendall(b"x")
    elif path == "/short":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789")
        return False
    elif path == "/reset":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + b"r" * 1000)
        time.sleep(0.1)
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        return False
    elif path == "/malformed":
        conn.sendall(b"this is not an answer\r\n\r\n")
        return False
    elif path == "/endless-headers":
        conn.sendall(b"HTTP/1.1 200 OK\r\n")
        try:
            while True:
                conn.sendall(b"X-Filler: " + b"f" * 100 + b"\r\n")
        except OSError:
            pass
        return False
    elif path == "/long-header":
        conn.sendall(b"HTTP/1.1 200 OK\r\nX-Long: ")
        try:
            while True:
                conn.sendall(b"l" * 4096)
        except OSError:
            pass
        return False
    elif path == "/silent":
        time.sleep(3600)
        return False
    elif path == "/close":
        return False
    else:
        answer(conn, 404, b"not found")
    return True


def serve_connection(conn, sni_holder: dict) -> None:
    serial = next(_serials)
    try:
        while True:
            head = loopback.read_head(conn, limit=1 << 20)
            if head is None:
                return
            text = head.split(b"\r\n\r\n", 1)[0].decode("latin-1")
            request_line, *lines = text.split("\r\n")
            if not handle_request(conn, serial, request_line, lines, sni_holder.get("sni")):
                return
    except OSError:
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def make_intermediate(directory: Path, root: tls_server.CertAuthority) -> tls_server.CertAuthority:
    """A CA certificate signed by root: trusted alone, it must serve as an anchor of its own."""
    cert, key, csr = directory / "intermediate.pem", directory / "intermediate.key", directory / "i.csr"
    ext = directory / "intermediate.ext"
    ext.write_text("basicConstraints=critical,CA:TRUE\n"
                   "keyUsage=critical,keyCertSign,cRLSign\n"
                   "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n")
    tls_server._openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                        "-nodes", "-keyout", str(key), "-out", str(csr),
                        "-subj", "/CN=Kovane Test Intermediate", cwd=directory)
    tls_server._openssl("x509", "-req", "-in", str(csr), "-CA", str(root.cert), "-CAkey",
                        str(root.key), "-set_serial", "7", "-days", "2", "-extfile", str(ext),
                        "-out", str(cert), cwd=directory)
    return tls_server.CertAuthority(cert=cert, key=key)


def make_context(args) -> tuple[ssl.SSLContext, str]:
    hosts = tuple(args.tls_hosts.split(",")) if args.tls_hosts else tls_server.DEFAULT_HOSTS
    directory = Path(args.tls_dir)
    if args.tls_chain:
        # Certificates the test made itself: the chain is printed as ca.
        certs = tls_server.CertSet(
            ca=tls_server.CertAuthority(cert=Path(args.tls_chain), key=Path(args.tls_key)),
            server=tls_server.ServerCert(cert=Path(args.tls_chain), key=Path(args.tls_key),
                                         chain=Path(args.tls_chain)))
    elif args.intermediate:
        root = tls_server.make_ca(directory, key_type=args.key_type)
        issuer = make_intermediate(directory, root)
        server = tls_server.make_server_cert(directory, issuer, hosts, key_type=args.key_type)
        certs = tls_server.CertSet(ca=issuer, server=server)
    else:
        certs = tls_server.make_certs(directory, hosts=hosts, key_type=args.key_type)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    versions = {"1.1": ssl.TLSVersion.TLSv1_1, "1.2": ssl.TLSVersion.TLSv1_2,
                "1.3": ssl.TLSVersion.TLSv1_3}
    if args.tls_ciphers or args.tls_max == "1.1" or args.tls_min == "1.1":
        context.set_ciphers((args.tls_ciphers or "DEFAULT") + ":@SECLEVEL=0")
    context.minimum_version = versions[args.tls_min]
    context.maximum_version = versions[args.tls_max]
    context.load_cert_chain(str(certs.server.cert), str(certs.server.key))
    context.set_alpn_protocols(["http/1.1"])
    return context, str(certs.ca.cert)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tls-dir")
    parser.add_argument("--tls-hosts")
    parser.add_argument("--tls-min", default="1.2")
    parser.add_argument("--tls-max", default="1.3")
    parser.add_argument("--tls-ciphers")
    parser.add_argument("--key-type", choices=("ec", "rsa"), default="ec")
    parser.add_argument("--tls-chain", help="PEM file: the server certificate, then the chain")
    parser.add_argument("--tls-key", help="the server certificate's key, with --tls-chain")
    parser.add_argument("--intermediate", action="store_true",
                        help="the server certificate comes from an intermediate CA, printed as ca")
    args = parser.parse_args()

    context, ca = make_context(args) if args.tls_dir else (None, None)
    listener = loopback.listen(64)
    loopback.announce(listener, ca=ca)

    if context is not None:
        def remember(tls, name, _context):
            tls.kov_sni = name
        context.sni_callback = remember

    def accept_one(conn) -> None:
        sni_holder: dict = {}
        if context is not None:
            try:
                conn.settimeout(30)
                conn = context.wrap_socket(conn, server_side=True)
                conn.settimeout(None)
            except (ssl.SSLError, OSError) as error:
                sys.stderr.write(f"http_test_server: handshake failed: {error}\n")
                conn.close()
                return
            sni_holder["sni"] = getattr(conn, "kov_sni", None)
        serve_connection(conn, sni_holder)

    loopback.serve_forever(listener, accept_one)


if __name__ == "__main__":
    loopback.run(main)
