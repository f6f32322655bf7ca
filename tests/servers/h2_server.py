#!/usr/bin/env python3
"""HTTP/2-only TLS server on loopback: Debian's nghttpd serving a folder.

    h2_server.py --dir DIR

Makes a CA and a server certificate in DIR, puts "hello.txt" (a short text) and "big.bin"
(3 MiB of a byte pattern) in DIR/www, starts nghttpd on a free port of 127.0.0.1, and prints one
JSON line {"port": ..., "ca": ...} once it listens. nghttpd ends with this script.
"""

from __future__ import annotations

import argparse
import ctypes
import json
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import tls_server  # noqa: E402

NGHTTPD = "/usr/sbin/nghttpd"
PR_SET_PDEATHSIG = 1


def die_with_parent() -> None:
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dir", required=True, type=Path)
    args = parser.parse_args()
    directory = args.dir.resolve()
    certs = tls_server.make_certs(directory)
    www = directory / "www"
    www.mkdir(exist_ok=True)
    (www / "hello.txt").write_bytes(b"hello over h2\n")
    (www / "big.bin").write_bytes(bytes(range(256)) * (3 * 4096))

    port = free_port()
    server = subprocess.Popen([NGHTTPD, "--address=127.0.0.1", "-d", str(www), str(port),
                               str(certs.server.key), str(certs.server.cert)],
                              stdout=subprocess.DEVNULL, preexec_fn=die_with_parent)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            break
        except OSError:
            time.sleep(0.05)
    print(json.dumps({"port": port, "ca": str(certs.ca.cert)}), flush=True)
    return server.wait()


if __name__ == "__main__":
    sys.exit(main())
