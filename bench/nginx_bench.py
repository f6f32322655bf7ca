"""What the whole-program download benches share: nginx serving a folder over http and https on
loopback with a certificate made for the run, the timed alternation of our program and curl,
and the line of results.
"""

from __future__ import annotations

import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "servers"))

import tls_server  # noqa: E402

NGINX = "/usr/sbin/nginx"


def parse_arguments(description: str, program: str, program_help: str,
                    runs: int = 3) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument(program, type=Path, help=program_help)
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=runs)
    parser.add_argument("--curl", default="/usr/bin/curl")
    return parser.parse_args()


def tools_missing(curl: str) -> bool:
    if Path(NGINX).exists() and shutil.which(curl):
        return False
    print(f"needs {NGINX} (Debian nginx-light) and {curl}", file=sys.stderr)
    return True


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_nginx(folder: Path, root: Path,
                certs: tls_server.CertSet) -> tuple[subprocess.Popen, int, int]:
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
        root {root};
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


@dataclass(frozen=True)
class Site:
    folder: Path  # the run's folder, deleted at the end
    www: Path  # what nginx serves
    certs: tls_server.CertSet
    ports: dict[str, int]  # by scheme


@contextmanager
def nginx_site(prefix: str) -> Iterator[Site]:
    """A new folder with an empty www that nginx serves until the block ends."""
    with tempfile.TemporaryDirectory(prefix=prefix) as temp:
        folder = Path(temp)
        os.chmod(folder, 0o755)  # nginx's worker may run as another user
        www = folder / "www"
        www.mkdir(mode=0o755)
        certs = tls_server.make_certs(folder / "certs")
        os.chmod(certs.server.key, 0o644)
        server, http_port, https_port = start_nginx(folder, www, certs)
        try:
            yield Site(folder, www, certs, {"http": http_port, "https": https_port})
        finally:
            server.terminate()
            server.wait(timeout=10)


def timed(command: list[str], env: dict[str, str]) -> tuple[float, str]:
    """Wall seconds and standard output of one run."""
    started = time.perf_counter()
    result = subprocess.run(command, capture_output=True, env=env)
    seconds = time.perf_counter() - started
    if result.returncode != 0:
        raise RuntimeError(f"{command[0]} failed ({result.returncode}): "
                           f"{result.stderr.decode(errors='replace')}")
    return seconds, result.stdout.decode()


def curl_command(curl: str, url: str, output: Path | str, ca: Path | None) -> list[str]:
    command = [curl, "-s", "-S", "--noproxy", "*", "-o", str(output), url]
    if ca is not None:
        command[1:1] = ["--cacert", str(ca)]
    return command


def best_of(runs: int, ours: list[str], curl: list[str], env: dict[str, str],
            peak_rss_of: Callable[[str], int], after_curl: Callable[[], None] = lambda: None,
            ) -> tuple[float, float, int]:
    """Runs ours and curl alternately; the best seconds of each and our largest peak RSS (KiB).
    peak_rss_of checks our program's output and returns the peak it reports."""
    best_ours = best_curl = float("inf")
    peak_rss = 0
    for _ in range(runs):
        seconds, out = timed(ours, env)
        best_ours = min(best_ours, seconds)
        peak_rss = max(peak_rss, peak_rss_of(out))
        seconds, _ = timed(curl, env)
        after_curl()
        best_curl = min(best_curl, seconds)
    return best_ours, best_curl, peak_rss


def print_result(scheme: str, size: int, best_ours: float, best_curl: float,
                 peak_rss_kib: int) -> None:
    mib = size / (1024 * 1024)
    ratio = best_curl / best_ours
    print(f"{scheme:5}: ours {mib / best_ours:8.1f} MiB/s, curl {mib / best_curl:8.1f} MiB/s, "
          f"ratio {ratio:.3f} (goal >= 0.95), our peak RSS {peak_rss_kib / 1024:.1f} MiB "
          f"(goal <= 16)")
