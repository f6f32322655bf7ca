#!/usr/bin/env python3
"""Whole-program comparison: the setup download to disk against curl's command-line tool.

    setup_download_bench.py PATH/TO/setup_download_run [--size-mib 1024] [--runs 3]
                            [--curl /usr/bin/curl]

Serves one body of --size-mib MiB from nginx on loopback (over http and https, as
http_download_bench.py does). The body is a shell script that exits at once, padded to the size,
so that the step can start it. Fetches it with `setup_download_run URL` (download_and_run_setup:
the copy loop into kovsetup.exe in a new temporary directory, the program's run, the directory's
deletion) and with `curl -o FILE URL` into the same folder (the file deleted after each run, not
timed), alternating, --runs times each. Prints the best throughput of each, the ratio ours/curl
and our peak resident set. Goals: ratio >= 0.95, peak RSS <= 16 MiB.
"""

from __future__ import annotations

import argparse
import os
import re
import shutil
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import http_download_bench as http_bench  # noqa: E402  (nginx and timing helpers)
import tls_server  # noqa: E402  (on the path through http_download_bench)

SCRIPT_HEAD = b"#!/bin/sh\nexit 0\n#"


def write_body(body: Path, size: int) -> None:
    with open(body, "wb") as out:
        out.write(SCRIPT_HEAD)
        block = os.urandom(1 << 20).replace(b"\n", b"x")  # one long comment line
        left = size - len(SCRIPT_HEAD)
        while left > 0:
            out.write(block[:left])
            left -= min(left, len(block))
    os.chmod(body, 0o644)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("runner", type=Path, help="the setup_download_run program")
    parser.add_argument("--size-mib", type=int, default=1024)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--curl", default="/usr/bin/curl")
    args = parser.parse_args()
    if not Path(http_bench.NGINX).exists() or not shutil.which(args.curl):
        print(f"needs {http_bench.NGINX} (Debian nginx-light) and {args.curl}", file=sys.stderr)
        return 1

    size = args.size_mib * 1024 * 1024
    with tempfile.TemporaryDirectory(prefix="setup-bench.") as temp:
        folder = Path(temp)
        os.chmod(folder, 0o755)  # nginx's worker may run as another user
        www = folder / "www"
        www.mkdir(mode=0o755)
        write_body(www / "kov-latest-setup.exe", size)
        disk = folder / "disk"  # both write here: our TMPDIR and curl's output folder
        disk.mkdir()
        env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        env["TMPDIR"] = str(disk)
        certs = tls_server.make_certs(folder / "certs")
        os.chmod(certs.server.key, 0o644)
        server, http_port, https_port = http_bench.start_nginx(folder, www / "x", certs)
        try:
            for scheme, port in (("http", http_port), ("https", https_port)):
                url = f"{scheme}://127.0.0.1:{port}/kov-latest-setup.exe"
                ours_cmd = [str(args.runner), url]
                curl_out = disk / "curl-kovsetup.exe"
                curl_cmd = [args.curl, "-s", "-S", "--noproxy", "*", "-o", str(curl_out), url]
                if scheme == "https":
                    ours_cmd.append(str(certs.ca.cert))
                    curl_cmd[1:1] = ["--cacert", str(certs.ca.cert)]
                best_ours = best_curl = float("inf")
                peak_rss = 0
                for _ in range(args.runs):
                    seconds, out = http_bench.timed(ours_cmd, env)
                    match = re.search(r"exit=(\d+) .* peak_rss_kib=(\d+)", out)
                    if not match or match.group(1) != "0" or any(disk.iterdir()):
                        raise RuntimeError(f"the step gave {out.strip()!r} and left "
                                           f"{list(disk.iterdir())}")
                    best_ours = min(best_ours, seconds)
                    peak_rss = max(peak_rss, int(match.group(2)))
                    seconds, _ = http_bench.timed(curl_cmd, env)
                    if curl_out.stat().st_size != size:
                        raise RuntimeError(f"curl wrote {curl_out.stat().st_size} bytes")
                    curl_out.unlink()
                    best_curl = min(best_curl, seconds)
                mib = size / (1024 * 1024)
                ratio = best_curl / best_ours
                print(f"{scheme:5}: ours {mib / best_ours:8.1f} MiB/s, curl {mib / best_curl:8.1f} "
                      f"MiB/s, ratio {ratio:.3f} (goal >= 0.95), our peak RSS "
                      f"{peak_rss / 1024:.1f} MiB (goal <= 16)")
        finally:
            server.terminate()
            server.wait(timeout=10)
    return 0


if __name__ == "__main__":
    sys.exit(main())
