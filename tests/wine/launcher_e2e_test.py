"""The Windows launcher under Wine: finding its tag, its silent switch, its standard error."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

from winehelp import FAST_FAIL_STATUS, quoted, run_windows, windows_path

import make_tagged_copy as tagging

LAUNCHER = Path(os.environ["KOVANE_LAUNCHER"])
SILENT_PROBE = Path(os.environ["KOVANE_SILENT_PROBE"])
STDERR_PROBE = Path(os.environ["KOVANE_STDERR_PROBE"])
EXIT_PROBE = Path(os.environ["KOVANE_EXIT_PROBE"])
SOCKETS_EXIT_PROBE = Path(os.environ["KOVANE_SOCKETS_EXIT_PROBE"])


SERVERS = Path(__file__).resolve().parents[1] / "servers"

# A launcher without a tag fetches the setup program from the product's download host.
DEFAULT_INSTALLER_URL = b"https://download.kovane.example/kov-latest-setup.exe"


class RefusingProxy:
    """A loopback proxy that writes down each CONNECT and refuses it: a launcher sent through it
    shows which host it asked for without going on line."""

    def __init__(self, work: Path):
        self.log = work / "proxy.log"
        self.process = subprocess.Popen(
            [sys.executable, str(SERVERS / "proxy_server.py"), "--log", str(self.log),
             "--mode", "refuse"], stdout=subprocess.PIPE)
        self.url = f"http://127.0.0.1:{json.loads(self.process.stdout.readline())['port']}"

    def first_request_line(self) -> str:
        return self.log.read_text().splitlines()[0] if self.log.exists() else ""

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()


CONFIG_SERVICE_UNREACHABLE = re.compile(
    rb'^fatal error at common/src/config_fetch\.cpp:\d+:\d+: ClientError \{ kind: Request, '
    rb'url: "http://127\.0\.0\.1:9/config", cause: "[^\n]*" \}\n$')


class TagRoads(unittest.TestCase):
    """Which road a launcher takes shows whether it found a tag: without one it goes straight to
    the download from the default address, with one it decodes the text first and goes on to the
    configuration only when that succeeds."""

    def setUp(self):
        self.work = Path(tempfile.mkdtemp())
        self.proxy = RefusingProxy(self.work)

    def tearDown(self):
        self.proxy.close()
        shutil.rmtree(self.work)

    def run_launcher(self, exe: Path, arguments: str = "", **kwargs):
        # Interactive runs show the progress dialog, which needs a display.
        return run_windows(quoted(exe) + arguments, display="/S" not in arguments,
                           env={"HTTPS_PROXY": self.proxy.url}, **kwargs)

    def assert_default_download_refused(self, result):
        self.assertEqual(result.code, FAST_FAIL_STATUS, result)
        self.assertRegex(result.stderr,
                         rb"^fatal error at common/src/setup_download\.cpp:\d+:\d+: ClientError "
                         rb"\{ kind: Request, url: \"" + re.escape(DEFAULT_INSTALLER_URL) + rb"\"")
        self.assertEqual(self.proxy.first_request_line(),
                         "CONNECT download.kovane.example:443 HTTP/1.1")

    def test_launcher_as_built_has_no_tag(self):
        # Its own constant data holds the marker bytes, but no certificate table does.
        self.assertIn(tagging.CERT_TAG_MARKER, LAUNCHER.read_bytes())
        self.assert_default_download_refused(self.run_launcher(LAUNCHER))

    def test_signed_launcher_without_tag_has_no_tag(self):
        signed = self.work / "signed.exe"
        tagging.make_tagged_copy(LAUNCHER, signed, None, self.work / "certs")
        self.assert_default_download_refused(self.run_launcher(signed, " /S"))

    def tagged_copy(self, tag: bytes) -> Path:
        tagged = self.work / f"tagged-{len(list(self.work.glob('tagged-*')))}.exe"
        tagging.make_tagged_copy(LAUNCHER, tagged, tag, self.work / f"certs-{tagged.stem}")
        self.assertEqual(tagging.find_tag_in_file(tagged), tag)
        return tagged

    def test_signed_tagged_launcher_decodes_its_tag(self):
        tags = {
            "one-byte length": b'{"config_url":"http://127.0.0.1:9/config"}',
            "two-byte length": b'{"config_url":"http://127.0.0.1:9/config","x":"'
                               + b"y" * 300 + b'"}',
            "array form": b'[null,"http://127.0.0.1:9/config",null]',
        }
        for name, tag in tags.items():
            with self.subTest(name):
                result = self.run_launcher(self.tagged_copy(tag))
                # The decoded address is asked; nothing listens there.
                self.assertEqual(result.code, FAST_FAIL_STATUS, result)
                self.assertRegex(result.stderr, CONFIG_SERVICE_UNREACHABLE)

    def test_tag_that_does_not_decode_ends_the_run(self):
        # The report's detail is the decoding error, its message quoted with escapes.
        cases = {
            b"{}": rb'Error("missing field `config_url`", line: 1, column: 2)',
            b'{"ca":"-----BEGIN\n-----END"}':
                rb'Error("control character (\\u0000-\\u001F) found while parsing a string",'
                rb" line: 2, column: 0)",
        }
        for tag, detail in cases.items():
            with self.subTest(tag=tag):
                result = self.run_launcher(self.tagged_copy(tag))
                self.assertEqual(result.code, FAST_FAIL_STATUS, result)
                self.assertRegex(result.stderr, rb"^fatal error at common/src/installer_tag\.cpp:"
                                 rb"\d+:\d+: " + re.escape(detail) + rb"\n$")

    def test_report_without_standard_error_is_dropped(self):
        result = self.run_launcher(LAUNCHER, no_stderr=True)
        self.assertEqual(result.code, FAST_FAIL_STATUS, result)
        self.assertEqual(result.stderr, b"")


class SilentSwitch(unittest.TestCase):
    """The switch as a real Windows process reads it from GetCommandLineW."""

    def test_command_lines(self):
        probe = quoted(SILENT_PROBE)
        cases = [
            (probe, 0),
            (probe + " /S", 1),
            (probe + " /x /S y", 1),
            (probe + ' "/S"', 1),
            (probe + " /s", 0),
            (probe + " /SILENT", 0),
            (probe + '/S', 0),  # glued to the quoted program path: part of the first argument
        ]
        for line, expected in cases:
            with self.subTest(line):
                self.assertEqual(run_windows(line).code, expected)


class ProcessExit(unittest.TestCase):
    def test_all_32_bits_of_the_code_reach_the_parent(self):
        for code in (0, 1, 0xFFFFFFFF, 0xC0000005, 0x12345678):
            with self.subTest(code=hex(code)):
                self.assertEqual(run_windows(f"{quoted(EXIT_PROBE)} {code:x}").code, code)

    def test_sockets_layer_is_shut_down(self):
        # The HTTP client starts the sockets layer; the exit shuts it down before ExitProcess.
        with tempfile.TemporaryDirectory() as work:
            seen = Path(work, "sockets.txt")
            result = run_windows(f"{quoted(SOCKETS_EXIT_PROBE)} {quoted(seen)}")
            self.assertEqual(result.code, 0, result)
            self.assertEqual(seen.read_text(), "shut down")


class StandardError(unittest.TestCase):
    """The writer through the handles a parent really hands over."""

    TEXT = "grüße, ☃\nsecond line\r\n".encode("utf-8")

    def run_probe(self, **kwargs):
        with tempfile.TemporaryDirectory() as work:
            text = Path(work, "text.bin")
            text.write_bytes(self.TEXT)
            result_file = Path(work, "result.txt")
            result = run_windows(f"{quoted(STDERR_PROBE)} {quoted(text)} {quoted(result_file)}",
                                 **kwargs)
            return result, result_file.read_text()

    def test_file_gets_the_utf8_bytes(self):
        with tempfile.TemporaryFile() as sink:
            result, outcome = self.run_probe(stderr=sink)
            sink.seek(0)
            self.assertEqual((result.code, outcome), (0, "ok"))
            self.assertEqual(sink.read(), self.TEXT)

    def test_pipe_gets_the_utf8_bytes(self):
        result, outcome = self.run_probe()
        self.assertEqual((result.code, outcome), (0, "ok"))
        self.assertEqual(result.stderr, self.TEXT)

    def test_no_handle_drops_the_text(self):
        result, outcome = self.run_probe(no_stderr=True)
        self.assertEqual((result.code, outcome), (0, "ok"))
        self.assertEqual(result.stderr, b"")


if __name__ == "__main__":
    unittest.main()
