#!/usr/bin/env python3
"""Runs https_smoke.exe against the loopback TLS server.

    https_smoke_test.py PATH/TO/https_smoke.exe --runner "tools/wine-run"

The runner is the command prefix that starts a Windows program (split like a
shell would). The program must fetch the body when it is given the run's CA,
and must refuse the server when it is given another CA or an empty file.
"""

from __future__ import annotations

import argparse
import json
import os
import shlex
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "servers"))

import tls_server  # noqa: E402

# Exit status of https_smoke.exe when the transfer fails.
TRANSFER_FAILED = 2
# curl's CURLE_PEER_FAILED_VERIFICATION and CURLE_SSL_CACERT_BADFILE, as the
# program prints them.
PEER_NOT_VERIFIED = "curl error 60:"
CA_FILE_UNUSABLE = "curl error 77:"

RUN_TIMEOUT_S = 120


def to_wine_path(path: Path) -> str:
    """A Unix absolute path as Wine sees it through its Z: drive."""
    path = Path(path).resolve()
    return "Z:" + str(path).replace("/", "\\")


def child_environment() -> dict[str, str]:
    # These machines export SSL_CERT_* and may export proxies; a Windows
    # process under Wine inherits them, so they go.
    dropped = {"SSL_CERT_FILE", "SSL_CERT_DIR", "http_proxy", "https_proxy", "all_proxy",
               "no_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY"}
    env = {k: v for k, v in os.environ.items() if k not in dropped}
    env.setdefault("WINEDEBUG", "-all")
    return env


@dataclass(frozen=True)
class Case:
    name: str
    host: str
    ca: str  # key into the CA files made for the run
    want_status: int
    want_body: bytes | None = None
    want_stderr: str | None = None


CASES = [
    Case("IP address, the run's CA", "127.0.0.1", "good", 0, want_body=tls_server.BODY),
    Case("host name, the run's CA", "localhost", "good", 0, want_body=tls_server.BODY),
    Case("another CA", "127.0.0.1", "other", TRANSFER_FAILED, want_stderr=PEER_NOT_VERIFIED),
    Case("empty CA file", "127.0.0.1", "empty", TRANSFER_FAILED, want_stderr=CA_FILE_UNUSABLE),
]


def start_server(directory: Path, log: Path) -> tuple[subprocess.Popen, dict]:
    with open(log, "wb") as log_file:
        server = subprocess.Popen(
            [sys.executable, str(HERE.parent / "servers" / "tls_server.py"), "--dir", str(directory)],
            stdout=subprocess.PIPE, stderr=log_file, text=True)
    line = server.stdout.readline()
    if not line:
        server.kill()
        server.communicate()
        raise RuntimeError(f"tls_server.py did not start:\n{log.read_text()}")
    return server, json.loads(line)


def run_case(case: Case, runner: list[str], exe: Path, port: int, ca_files: dict[str, str],
             env: dict[str, str], cwd: Path) -> list[str]:
    url = f"https://{case.host}:{port}/"
    command = [*runner, str(exe), url, ca_files[case.ca]]
    try:
        result = subprocess.run(command, capture_output=True, env=env, cwd=cwd,
                                timeout=RUN_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return [f"no exit within {RUN_TIMEOUT_S} s: {shlex.join(command)}"]
    stderr = result.stderr.decode("utf-8", "replace")
    problems = []
    if result.returncode != case.want_status:
        problems.append(f"exit status {result.returncode}, want {case.want_status}")
    if case.want_body is not None and result.stdout != case.want_body:
        problems.append(f"body {result.stdout!r}, want {case.want_body!r}")
    if case.want_status != 0 and result.stdout:
        problems.append(f"wrote {result.stdout!r} although the transfer must fail")
    if case.want_stderr is not None and case.want_stderr not in stderr:
        problems.append(f"standard error lacks {case.want_stderr!r}")
    if problems:
        problems.append(f"command: {shlex.join(command)}")
        problems.append(f"standard error: {stderr.strip()}")
    return problems


def run_cases(cases: list[Case], runner: list[str], exe: Path, temp_prefix: str,
              as_path=to_wine_path) -> int:
    """Runs the cases against a TLS server of their own, with the CA files they name made for
    the run ("good", "other", "empty"); prints a line a case and the number that failed."""
    with tempfile.TemporaryDirectory(prefix=temp_prefix) as temp:
        temp = Path(temp)
        env = child_environment()
        # Wine leaves /tmp/wine-* folders behind without a TMPDIR of its own.
        (temp / "tmp").mkdir()
        env["TMPDIR"] = str(temp / "tmp")

        server_log = temp / "server.log"
        server, info = start_server(temp / "server", server_log)
        failed = 0
        try:
            other = tls_server.make_ca(temp / "other", common_name="Unrelated Test CA")
            empty = temp / "empty.pem"
            empty.write_bytes(b"")
            ca_files = {"good": as_path(Path(info["ca"])), "other": as_path(other.cert),
                        "empty": as_path(empty)}
            for case in cases:
                problems = run_case(case, runner, exe, info["port"], ca_files, env, temp)
                print(f"{'ok  ' if not problems else 'FAIL'} {case.name}")
                for problem in problems:
                    print(f"     {problem}")
                failed += bool(problems)
            if failed:
                print("server log:\n" + server_log.read_text())
        finally:
            server.terminate()
            try:
                server.communicate(timeout=10)
            except subprocess.TimeoutExpired:
                server.kill()
                server.communicate()
    return failed


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe", type=Path, help="https_smoke.exe")
    parser.add_argument("--runner", required=True,
                        help='command prefix that runs a Windows program, e.g. "tools/wine-run" '
                             '("" runs the program directly)')
    parser.add_argument("--ca-path-style", choices=("wine", "unix"), default="wine",
                        help="how the program is told the CA file: Z:\\... (default) or as is, "
                             "for a build of the program for the host")
    args = parser.parse_args()
    exe = args.exe.resolve()
    if not exe.is_file():
        print(f"no such program: {exe}", file=sys.stderr)
        return 1
    as_path = to_wine_path if args.ca_path_style == "wine" else str
    failed = run_cases(CASES, shlex.split(args.runner), exe, "https-smoke.", as_path)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
