"""Runs Windows programs under Wine for the end-to-end tests, with their full exit codes."""

import os
import subprocess
import sys
import tempfile
from pathlib import Path

WINE_RUN = os.environ["KOVANE_WINE_RUN"]
EXIT_CODE_RUNNER = os.environ["KOVANE_EXIT_CODE_RUNNER"]
TOOLS = Path(os.environ.get("KOVANE_TOOLS", Path(__file__).resolve().parents[2] / "tools"))
sys.path.insert(0, str(TOOLS))

FAST_FAIL_STATUS = 0xC0000409


def windows_path(path) -> str:
    """The path as a Windows program under Wine sees it, through the Z: drive."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def quoted(path) -> str:
    return '"' + windows_path(path) + '"'


class Result:
    def __init__(self, code: int, stdout: bytes, stderr: bytes):
        self.code, self.stdout, self.stderr = code, stdout, stderr

    def __repr__(self):
        return f"Result(code={self.code:#x}, stderr={self.stderr!r})"


def run_windows(command_line: str, *, stderr=subprocess.PIPE, no_stderr=False,
                stderr_console_input=False, display=False, env=None, prefix=None,
                timeout=120) -> Result:
    """Starts `command_line` exactly as given (CreateProcessW) and returns its 32-bit exit code.

    `stderr` may be a file object: the child's standard error then goes there. With
    `stderr_console_input` the child's standard error is the console's input handle. With `prefix` (a
    path that does not exist yet) the run's Wine prefix is made there and left for the caller."""
    with tempfile.TemporaryDirectory() as work:
        line_file = Path(work, "command_line.txt")
        line_file.write_bytes(command_line.encode("utf-8"))
        result_file = Path(work, "exit_code.txt")
        argv = [WINE_RUN]
        if display:
            argv.append("--display")
        if prefix is not None:
            argv += ["--prefix", str(prefix)]
        for name, value in (env or {}).items():
            argv += ["--env", f"{name}={value}"]
        argv += [EXIT_CODE_RUNNER, windows_path(line_file), windows_path(result_file)]
        if no_stderr:
            argv.append("--no-stderr")
        elif stderr_console_input:
            argv.append("--stderr-console-input")
        done = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=stderr, timeout=timeout)
        if done.returncode != 0 or not result_file.exists():
            raise AssertionError(f"exit_code_runner failed with {done.returncode}: {done.stderr!r}")
        return Result(int(result_file.read_text()), done.stdout, done.stderr or b"")
