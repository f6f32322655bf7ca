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

import os
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import nginx_bench  # noqa: E402

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
    args = nginx_bench.parse_arguments(__doc__.splitlines()[0], "runner",
                                       "the setup_download_run program")
    if nginx_bench.tools_missing(args.curl):
        return 1

    size = args.size_mib * 1024 * 1024
    with nginx_bench.nginx_site("setup-bench.") as site:
        write_body(site.www / "kov-latest-setup.exe", size)
        disk = site.folder / "disk"  # both write here: our TMPDIR and curl's output folder
        disk.mkdir()
        env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        env["TMPDIR"] = str(disk)
        curl_out = disk / "curl-kovsetup.exe"

        def peak_rss_of(out: str) -> int:
            match = re.search(r"exit=(\d+) .* peak_rss_kib=(\d+)", out)
            if not match or match.group(1) != "0" or any(disk.iterdir()):
                raise RuntimeError(f"the step gave {out.strip()!r} and left {list(disk.iterdir())}")
            return int(match.group(2))

        def check_curl() -> None:
            if curl_out.stat().st_size != size:
                raise RuntimeError(f"curl wrote {curl_out.stat().st_size} bytes")
            curl_out.unlink()

        for scheme, port in site.ports.items():
            url = f"{scheme}://127.0.0.1:{port}/kov-latest-setup.exe"
            ca = site.certs.ca.cert if scheme == "https" else None
            ours_cmd = [str(args.runner), url] + ([str(ca)] if ca else [])
            curl_cmd = nginx_bench.curl_command(args.curl, url, curl_out, ca)
            nginx_bench.print_result(
                scheme, size,
                *nginx_bench.best_of(args.runs, ours_cmd, curl_cmd, env, peak_rss_of, check_curl))
    return 0


if __name__ == "__main__":
    sys.exit(main())
