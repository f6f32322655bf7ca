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

import os
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import nginx_bench  # noqa: E402


def main() -> int:
    args = nginx_bench.parse_arguments(__doc__.splitlines()[0], "reader",
                                       "the http_read_loop program")
    if nginx_bench.tools_missing(args.curl):
        return 1

    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    size = args.size_mib * 1024 * 1024
    with nginx_bench.nginx_site("http-bench.") as site:
        body = site.www / "body.bin"
        with open(body, "wb") as out:
            block = os.urandom(1 << 20)
            for _ in range(args.size_mib):
                out.write(block)
        os.chmod(body, 0o644)

        def peak_rss_of(out: str) -> int:
            match = re.search(r"bytes=(\d+) .* peak_rss_kib=(\d+)", out)
            if not match or int(match.group(1)) != size:
                raise RuntimeError(f"our reader got {out.strip()!r}, want {size} bytes")
            return int(match.group(2))

        for scheme, port in site.ports.items():
            url = f"{scheme}://127.0.0.1:{port}/body.bin"
            ca = site.certs.ca.cert if scheme == "https" else None
            ours_cmd = [str(args.reader), url] + ([str(ca)] if ca else [])
            curl_cmd = nginx_bench.curl_command(args.curl, url, "/dev/null", ca)
            nginx_bench.print_result(
                scheme, size, *nginx_bench.best_of(args.runs, ours_cmd, curl_cmd, env, peak_rss_of))
    return 0


if __name__ == "__main__":
    sys.exit(main())
