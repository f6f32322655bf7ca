#!/usr/bin/env python3
"""Runs http_client_smoke.exe (the launcher's HTTP client) against the loopback TLS server.

    http_client_smoke_test.py PATH/TO/http_client_smoke.exe --runner "tools/wine-run"

The client must fetch the body over HTTPS, by address and by name, when it trusts the run's CA,
and must refuse the server with a Request error when it trusts another CA.
"""

from __future__ import annotations

import argparse
import shlex
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import https_smoke_test as smoke  # noqa: E402
import tls_server  # noqa: E402  (on the path through https_smoke_test)

CASES = [
    smoke.Case("IP address, the run's CA", "127.0.0.1", "good", 0, want_body=tls_server.BODY),
    smoke.Case("host name, the run's CA", "localhost", "good", 0, want_body=tls_server.BODY),
    smoke.Case("another CA", "127.0.0.1", "other", 2, want_stderr="ClientError { kind: Request"),
]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe", type=Path)
    parser.add_argument("--runner", required=True)
    args = parser.parse_args()
    failed = smoke.run_cases(CASES, shlex.split(args.runner), args.exe.resolve(),
                             "http-client-smoke.")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
