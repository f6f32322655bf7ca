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
import tempfile
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
    exe = args.exe.resolve()
    runner = shlex.split(args.runner)
    with tempfile.TemporaryDirectory(prefix="http-client-smoke.") as temp:
        temp = Path(temp)
        env = smoke.child_environment()
        (temp / "tmp").mkdir()
        env["TMPDIR"] = str(temp / "tmp")
        server_log = temp / "server.log"
        server, info = smoke.start_server(temp / "server", server_log)
        failed = 0
        try:
            other = tls_server.make_ca(temp / "other", common_name="Unrelated Test CA")
            ca_files = {"good": smoke.to_wine_path(Path(info["ca"])),
                        "other": smoke.to_wine_path(other.cert)}
            for case in CASES:
                problems = smoke.run_case(case, runner, exe, info["port"], ca_files, env, temp)
                print(f"{'ok  ' if not problems else 'FAIL'} {case.name}")
                for problem in problems:
                    print(f"     {problem}")
                failed += bool(problems)
            if failed:
                print("server log:\n" + server_log.read_text())
        finally:
            server.terminate()
            server.communicate(timeout=10)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
