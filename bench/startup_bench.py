#!/usr/bin/env python3
"""Start-up under Wine: from spawning the launcher to the first byte of its configuration request
at a loopback service, against a Windows program that only connects to the same service.

    startup_bench.py PATH/TO/kovane-launcher.exe PATH/TO/connect_probe.exe [--rounds 10]

Makes one Wine prefix (tools/wine-run's template) with a persistent wineserver, a tagged copy of
the launcher whose configuration address is the loopback service (http, and https with the
service's root in the tag's `ca`), runs each program once to warm up, then alternates the
programs for --rounds rounds. Prints the median and spread of each and the ratios
launcher/baseline. Goal: ratio <= 2.
"""

from __future__ import annotations

import argparse
import json
import os
import queue
import shutil
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(ROOT / "tests" / "servers"))

import make_tagged_copy as tagging  # noqa: E402
import tls_server  # noqa: E402

WINE = "/usr/lib/wine/wine64"
WINESERVER = next(p for p in ("/usr/lib/wine/wineserver64", "/usr/lib/wine/wineserver")
                  if os.path.exists(p))
FIRST_BYTE_WAIT_S = 60


class FirstByteService:
    """Accepts connections on loopback and notes when the first byte of each arrives; the
    connection is closed then, so the launcher ends at once."""

    def __init__(self, context: ssl.SSLContext | None):
        self.context = context
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.arrivals: queue.Queue[float] = queue.Queue()
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            conn, _ = self.listener.accept()
            threading.Thread(target=self.first_byte, args=(conn,), daemon=True).start()

    def first_byte(self, conn):
        try:
            if self.context is not None:
                conn = self.context.wrap_socket(conn, server_side=True)
            if conn.recv(1):
                self.arrivals.put(time.monotonic())
        except (OSError, ssl.SSLError):
            pass
        finally:
            conn.close()


class Prefix:
    """One Wine prefix with its server kept running, so every spawn meets a warm wineserver."""

    def __init__(self, work: Path, probe: Path):
        self.path = work / "prefix"
        env = dict(os.environ, KOVANE_WINE_ROOT=str(work / "wine-root"))
        subprocess.run([str(ROOT / "tools" / "wine-run"), "--prefix", str(self.path), str(probe),
                        "9"], env=env, check=False, capture_output=True)
        self.env = {"PATH": "/usr/bin:/bin", "HOME": os.environ.get("HOME", "/root"),
                    "USER": os.environ.get("USER", "root"), "WINEDEBUG": "-all",
                    "WINEDLLOVERRIDES": "mscoree,mshtml=", "LC_ALL": "en_US.UTF-8",
                    "WINEPREFIX": str(self.path), "TMPDIR": str(self.path / "tmp")}
        (self.path / "tmp").mkdir(exist_ok=True)
        self.server = subprocess.Popen([WINESERVER, "-f", "-p"], env=self.env)

    def spawn(self, program: Path, *arguments: str) -> subprocess.Popen:
        return subprocess.Popen([WINE, str(program), *arguments], env=self.env,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def close(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True)
        self.server.wait(timeout=30)


def time_to_first_byte(prefix: Prefix, service: FirstByteService, program: Path,
                       *arguments: str) -> float:
    start = time.monotonic()
    process = prefix.spawn(program, *arguments)
    try:
        arrived = service.arrivals.get(timeout=FIRST_BYTE_WAIT_S)
    finally:
        try:
            process.wait(timeout=FIRST_BYTE_WAIT_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return arrived - start


def describe(times: list[float]) -> str:
    return (f"median {statistics.median(times) * 1000:.0f} ms "
            f"(spread {min(times) * 1000:.0f}-{max(times) * 1000:.0f} ms)")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("launcher", type=Path)
    parser.add_argument("probe", type=Path)
    parser.add_argument("--rounds", type=int, default=10)
    args = parser.parse_args()

    work = Path(tempfile.mkdtemp(prefix="kov-startup-"))
    prefix = None
    try:
        certs = tls_server.make_certs(work / "certs")
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(str(certs.server.cert), str(certs.server.key))
        services = {"http": FirstByteService(None), "https": FirstByteService(tls)}
        launchers = {}
        for scheme, service in services.items():
            tag = {"config_url": f"{scheme}://127.0.0.1:{service.port}/config"}
            if scheme == "https":
                tag["ca"] = certs.ca.cert.read_text()
            launchers[scheme] = work / f"launcher-{scheme}.exe"
            tagging.make_tagged_copy(args.launcher, launchers[scheme], json.dumps(tag).encode(),
                                     work / f"signing-{scheme}")
        prefix = Prefix(work, args.probe)

        runs = {
            "baseline": lambda: time_to_first_byte(prefix, services["http"], args.probe,
                                                   str(services["http"].port)),
            "http": lambda: time_to_first_byte(prefix, services["http"], launchers["http"], "/S"),
            "https": lambda: time_to_first_byte(prefix, services["https"], launchers["https"],
                                                "/S"),
        }
        for run in runs.values():  # warm-up: page cache, wineserver, prefix registry
            run()
        times: dict[str, list[float]] = {name: [] for name in runs}
        for _ in range(args.rounds):
            for name, run in runs.items():
                times[name].append(run())

        baseline = statistics.median(times["baseline"])
        print(f"connect-only baseline: {describe(times['baseline'])}")
        for scheme in ("http", "https"):
            ratio = statistics.median(times[scheme]) / baseline
            print(f"launcher over {scheme}: {describe(times[scheme])}, ratio {ratio:.2f} "
                  f"(goal <= 2.00)")
    finally:
        if prefix is not None:
            prefix.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
