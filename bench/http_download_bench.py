#!/usr/bin/env python3
"""Whole-program download comparison: the HTTP client's read loop against a plain libcurl easy
transfer and against curl's command-line tool.

    http_download_bench.py PATH/TO/http_read_loop [--size-mib 1024] [--runs 7] [--curl /usr/bin/curl]

Serves one body of --size-mib MiB from nginx on loopback (sendfile, over http and over https
with a certificate made for the run) and fetches it, in alternated rounds (--runs of them, the
order turning each round), with `http_read_loop URL` (the setup download's loop: one 64 KiB
buffer, the bytes dropped), with `curl_easy_loop URL` beside it (one libcurl easy transfer with
the same TLS settings, receive buffer and sink) and with `curl -o /dev/null URL`. Prints, per
baseline, the median of the rounds' ratios (baseline seconds / our seconds) with their range,
and our peak resident set. Goals: every ratio against the easy transfer >= 1.0, peak RSS <= 12
MiB.
"""

from __future__ import annotations

import os
import re
import statistics
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import nginx_bench  # noqa: E402


def main() -> int:
    args = nginx_bench.parse_arguments(__doc__.splitlines()[0], "reader",
                                       "the http_read_loop program", runs=7)
    if nginx_bench.tools_missing(args.curl):
        return 1
    easy = args.reader.with_name("curl_easy_loop")

    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    size = args.size_mib * 1024 * 1024
    with nginx_bench.nginx_site("http-bench.") as site:
        body = site.www / "body.bin"
        with open(body, "wb") as out:
            block = os.urandom(1 << 20)
            for _ in range(args.size_mib):
                out.write(block)
        os.chmod(body, 0o644)

        def checked(name: str, out: str) -> int:
            match = re.search(r"bytes=(\d+) .* peak_rss_kib=(\d+)", out)
            if not match or int(match.group(1)) != size:
                raise RuntimeError(f"{name} got {out.strip()!r}, want {size} bytes")
            return int(match.group(2))

        for scheme, port in site.ports.items():
            url = f"{scheme}://127.0.0.1:{port}/body.bin"
            ca = [str(site.certs.ca.cert)] if scheme == "https" else []
            commands = {
                "ours": [str(args.reader), url] + ca,
                "easy": [str(easy), url] + ca,
                "curl": nginx_bench.curl_command(args.curl, url, "/dev/null",
                                                 site.certs.ca.cert if ca else None),
            }
            names = list(commands)
            seconds: dict[str, list[float]] = {name: [] for name in names}
            peak_rss = 0
            for round_ in range(args.runs):
                turn = round_ % len(names)
                for name in names[turn:] + names[:turn]:
                    took, out = nginx_bench.timed(commands[name], env)
                    seconds[name].append(took)
                    if name != "curl":
                        rss = checked(name, out)
                        if name == "ours":
                            peak_rss = max(peak_rss, rss)
            mib = size / (1024 * 1024)
            line = [f"{scheme:5}: ours {mib / statistics.median(seconds['ours']):8.1f} MiB/s"]
            for baseline, goal in (("easy", " (goal >= 1.0)"), ("curl", "")):
                ratios = [b / o for b, o in zip(seconds[baseline], seconds["ours"])]
                line.append(f"against {baseline}: ratio median {statistics.median(ratios):.3f}, "
                            f"range {min(ratios):.3f}-{max(ratios):.3f}{goal}")
            line.append(f"our peak RSS {peak_rss / 1024:.1f} MiB (goal <= 12)")
            print("; ".join(line))
    return 0


if __name__ == "__main__":
    sys.exit(main())
