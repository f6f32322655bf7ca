#!/usr/bin/env python3
"""Loopback configuration service for the tests of reading its answer.

    config_answer_server.py

Listens on 127.0.0.1 at a free port and prints one JSON line {"port": ...}.
Routes (the query gives the values):
  /answer?status=N&body=TEXT   status N with TEXT (percent-encoded) as the body, head and body
                               in one write; 204 without a body or its length
  /trickle?pieces=N&ms=M       a valid answer of N bytes, one byte every M ms
  /short                       an answer announced as 100 bytes; 10 arrive, then the
                               connection closes
  /endless                     an answer that never ends, sent as fast as the client reads
"""

from __future__ import annotations

import time
import urllib.parse

import loopback


def send_answer(conn, status: int, body: bytes) -> None:
    head = f"HTTP/1.1 {status} X\r\nContent-Type: application/json\r\n"
    if status != 204:
        head += f"Content-Length: {len(body)}\r\n"
    conn.sendall(head.encode("latin-1") + b"\r\n" + body)


def trickle_body(size: int) -> bytes:
    # {"config":"xxx"} padded to the asked size.
    return b'{"config":"' + b"x" * max(size - 13, 0) + b'"}'


def handle(conn) -> None:
    data = loopback.read_head(conn)
    if data is None:
        return
    target = data.split(b" ", 2)[1].decode("latin-1")
    parsed = urllib.parse.urlsplit(target)
    query = dict(urllib.parse.parse_qsl(parsed.query, keep_blank_values=True))
    if parsed.path == "/answer":
        send_answer(conn, int(query["status"]), query.get("body", "").encode("utf-8"))
    elif parsed.path == "/trickle":
        body = trickle_body(int(query["pieces"]))
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body))
        for byte in body:
            time.sleep(int(query["ms"]) / 1000)
            conn.sendall(bytes([byte]))
    elif parsed.path == "/endless":
        conn.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 1000000000000\r\n\r\n{"config":"')
        piece = b"x" * 65536
        while True:
            conn.sendall(piece)
    elif parsed.path == "/short":
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + b'{"config":')
    else:
        send_answer(conn, 404, b"not found")


def serve(conn) -> None:
    try:
        handle(conn)
    except OSError:
        pass
    finally:
        conn.close()


def main() -> int:
    listener = loopback.listen(16)
    loopback.announce(listener)
    loopback.serve_forever(listener, serve)


if __name__ == "__main__":
    loopback.run(main)
