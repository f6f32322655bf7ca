#!/usr/bin/env python3
"""Whole-program download comparison: the HTTP client's read loop against curl's command-line tool.

    http_download_bench.py PATH/TO/http_read_loop [--size-mib 1024] [--runs 3] [--curl /usr/bin/curl]

Serves one body of --size-mib MiB from nginx on loopback (sendfile, over http and over https
with a certificate made for the run) and fetches it with `http_read_loop URL` (the setup
download's loop: one 64 KiB buffer) and with `curl -o /dev/null URL`, alternating, --runs times
each. Prints the best throughput of each, the ratio ours/curl, and our peak resident set.
Goals: ratio >= 0.95, peak RSS <= 16 MiB.
"""

from __future__ import annotations

import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "servers"))

import tls_server  # noqa: E402

NGINX = "/usr/sbin/nginx"


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_nginx(folder: Path, body: Path, certs: tls_server.CertSet) -> tuple[subprocess.Popen, int, int]:
    http_port, https_port = free_port(), free_port()
    config = folder / "nginx.conf"
    config.write_text(f"""
daemon off;
worker_processes 1;
pid {folder}/nginx.pid;
error_log {folder}/error.log;
events {{ worker_connections 64; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    client_body_temp_path {folder}/tmp;
    proxy_temp_path {folder}/tmp;
    fastcgi_temp_path {folder}/tmp;
    uwsgi_temp_path {folder}/tmp;
    scgi_temp_path {folder}/tmp;
    types {{ }}
    default_type application/octet-stream;
    server {{
        listen 127.0.0.1:{http_port};
        listen 127.0.0.1:{https_port} ssl;
        ssl_certificate {certs.server.cert};
        ssl_certificate_key {certs.server.key};
        ssl_protocols TLSv1.2 TLSv1.3;
        root {body.parent};
    }}
}}
""")
    (folder / "tmp").mkdir()
    server = subprocess.Popen([NGINX, "-c", str(config), "-e", str(folder / "error.log")],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", https_port), timeout=1).close()
            socket.create_connection(("127.0.0.1", http_port), timeout=1).close()
            return server, http_port, https_port
        except OSError:
            time.sleep(0.05)
    server.kill()
    raise RuntimeError("nginx did not start:\n" + (folder / "error.log").read_text())


def timed(command: list[str], env: dict[str, str]) -> tuple[float, str]:
    """Wall seconds and standard output of one run."""
    started = time.perf_counter()
    result = subprocess.run(command, capture_output=True, env=env)
    seconds = time.perf_counter() - started
    if result.returncode != 0:
        raise RuntimeError(f"{command[0]} failed ({result.returncode}): "
                           f"{result.stderr.decode(errors='replace')}")
    return seconds, result.stdout.decode()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("reader", type=Path, help="the http_read_loop program")
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--curl", default="/usr/bin/curl")
    args = parser.parse_args()
    if not Path(NGINX).exists() or not shutil.which(args.curl):
        print(f"needs {NGINX} (Debian nginx-light) and {args.curl}", file=sys.stderr)
        return 1

    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    size = args.size_mib * 1024 * 1024
    with tempfile.TemporaryDirectory(prefix="http-bench.") as temp:
        folder = Path(temp)
        os.chmod(folder, 0o755)  # nginx's worker may run as another user
        www = folder / "www"
        www.mkdir(mode=0o755)
        body = www / "body.bin"
        with open(body, "wb") as out:
            block = os.urandom(1 << 20)
            for _ in range(args.size_mib):
                out.write(block)
        os.chmod(body, 0o644)
        certs = tls_server.make_certs(folder / "certs")
        os.chmod(certs.server.key, 0o644)
        server, http_port, https_port = start_nginx(folder, body, certs)
        try:
            for scheme, port in (("http", http_port), ("https", https_port)):
                url = f"{scheme}://127.0.0.1:{port}/body.bin"
                ours_cmd = [str(args.reader), url] + ([str(certs.ca.cert)] if scheme == "https" else [])
                curl_cmd = [args.curl, "-s", "-S", "--noproxy", "*", "-o", "/dev/null", url]
                if scheme == "https":
                    curl_cmd[1:1] = ["--cacert", str(certs.ca.cert)]
                best_ours = best_curl = float("inf")
                peak_rss = 0
                for _ in range(args.runs):
                    seconds, out = timed(ours_cmd, env)
                    match = re.search(r"bytes=(\d+) .* peak_rss_kib=(\d+)", out)
                    if not match or int(match.group(1)) != size:
                        raise RuntimeError(f"our reader got {out.strip()!r}, want {size} bytes")
                    best_ours = min(best_ours, seconds)
                    peak_rss = max(peak_rss, int(match.group(2)))
                    seconds, _ = timed(curl_cmd, env)
                    best_curl = min(best_curl, seconds)
                mib = size / (1024 * 1024)
                ratio = best_curl / best_ours
                print(f"{scheme:5}: ours {mib / best_ours:8.1f} MiB/s, curl {mib / best_curl:8.1f} MiB/s, "
                      f"ratio {ratio:.3f} (goal >= 0.95), our peak RSS {peak_rss / 1024:.1f} MiB "
                      f"(goal <= 16)")
        finally:
            server.terminate()
            server.wait(timeout=10)
    return 0


if __name__ == "__main__":
    sys.exit(main())
