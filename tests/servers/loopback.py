"""What the socket-level test servers share: a listener on a free loopback port announced as one
JSON line, a thread for every connection, and reading a request head.
"""

from __future__ import annotations

import json
import socket
import sys
import threading
from collections.abc import Callable
from typing import NoReturn


def listen(backlog: int) -> socket.socket:
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(backlog)
    return listener


def announce(listener: socket.socket, **more) -> None:
    """The one JSON line the tests wait for: {"port": ..., **more}."""
    print(json.dumps({"port": listener.getsockname()[1], **more}), flush=True)


def serve_forever(listener: socket.socket, handle: Callable[[socket.socket], None]) -> NoReturn:
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=handle, args=(conn,), daemon=True).start()


def read_head(conn: socket.socket, limit: int | None = None) -> bytes | None:
    """Bytes up to and past the blank line that ends a request head; None when the peer closes
    first or the head grows past limit."""
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(65536)
        if not piece:
            return None
        data += piece
        if limit is not None and len(data) > limit:
            return None
    return data


def run(main: Callable[[], int]) -> NoReturn:
    """Runs a server's main; an interrupt ends it quietly."""
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(0)
