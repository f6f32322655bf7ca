#!/usr/bin/env python3
"""Loopback HTTP proxy for the HTTP client's tests.

    proxy_server.py --log FILE [--mode MODE] [--auth USER:PASSWORD]

Prints one JSON line {"port": ...}. Every request head it receives is appended to FILE (the
head's lines, then an empty line).
  CONNECT host:port   with --auth, a missing or wrong Proxy-Authorization gets 407; otherwise by
                      MODE: "tunnel" (default) relays to host:port, "refuse" answers 403, "eof"
                      closes at once, "huge" sends header lines that never end
  GET absolute-URI    answered by the proxy itself: 200 with the request as received, like the
                      echo route of http_test_server.py
"""

from __future__ import annotations

import argparse
import base64
import socket
import threading

import loopback


def relay(source, sink) -> None:
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    finally:
        try:
            sink.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--log", required=True)
    parser.add_argument("--mode", default="tunnel", choices=("tunnel", "refuse", "eof", "huge"))
    parser.add_argument("--auth")
    args = parser.parse_args()
    log_lock = threading.Lock()
    expected_auth = ("Basic " + base64.b64encode(args.auth.encode()).decode()) if args.auth else None

    def handle(conn) -> None:
        try:
            head = loopback.read_head(conn)
            if head is None:
                return
            text, rest = head.split(b"\r\n\r\n", 1)
            lines = text.decode("latin-1").split("\r\n")
            with log_lock, open(args.log, "a", encoding="latin-1") as log:
                log.write("\n".join(lines) + "\n\n")
            request_line = lines[0]
            headers = {line.split(":", 1)[0].strip().lower(): line.split(":", 1)[1].strip()
                       for line in lines[1:] if ":" in line}
            if request_line.startswith("CONNECT "):
                if expected_auth and headers.get("proxy-authorization") != expected_auth:
                    conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                                 b"Proxy-Authenticate: Basic realm=\"test\"\r\n"
                                 b"Content-Length: 0\r\n\r\n")
                    return
                if args.mode == "refuse":
                    conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
                    return
                if args.mode == "eof":
                    return
                if args.mode == "huge":
                    conn.sendall(b"HTTP/1.1 200 OK\r\n")
                    while True:
                        conn.sendall(b"X-Filler: " + b"f" * 100 + b"\r\n")
                host, port = request_line.split(" ")[1].rsplit(":", 1)
                upstream = socket.create_connection((host.strip("[]"), int(port)))
                conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                if rest:
                    upstream.sendall(rest)
                threading.Thread(target=relay, args=(upstream, conn), daemon=True).start()
                relay(conn, upstream)
                return
            body = ("\n".join(lines) + "\n").encode("latin-1")
            conn.sendall(b"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: %d\r\n\r\n"
                         % len(body) + body)
        except OSError:
            pass
        finally:
            conn.close()

    listener = loopback.listen(64)
    loopback.announce(listener)
    loopback.serve_forever(listener, handle)


if __name__ == "__main__":
    loopback.run(main)
