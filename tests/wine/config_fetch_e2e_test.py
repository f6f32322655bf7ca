"""The signed, tagged launcher under Wine asks a loopback configuration service and acts on its
answer: stores the configuration and goes on, or ends with exit code 1 after a declined question
or a service error. Real message boxes are answered with xdotool on the run's own Xvfb."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

from winehelp import FAST_FAIL_STATUS, quoted, run_windows

import make_tagged_copy as tagging

LAUNCHER = Path(os.environ["KOVANE_LAUNCHER"])
SERVERS = Path(__file__).resolve().parents[1] / "servers"
sys.path.insert(0, str(SERVERS))

import tls_server  # noqa: E402

CONFIG = '{"channel":"beta","note":"line\\nnext \u00fc"}'
ERROR_TEXT = "Dienst nicht verf\u00fcgbar\nBitte sp\u00e4ter \u2603"
ANSWERS = {
    "/config": {"status": 200, "body": json.dumps({"config": CONFIG})},
    "/question": {"status": 200, "body": json.dumps({"prompt": "Install the beta?",
                                                      "config": CONFIG})},
    "/error": {"status": 503, "body": json.dumps({"error": ERROR_TEXT})},
}
BOX_CAPTION = "Kovane Console"
# tests/wine/config_holder.cpp: an earlier stored configuration, held open while the launcher runs.
CONFIG_HOLDER = Path(os.environ["KOVANE_CONFIG_HOLDER"])
EARLIER_CONFIG = b'{"channel":"earlier"}'
FILE_ATTRIBUTE_HIDDEN = 0x2
WINDOW_WAIT_S = 60


class ConfigService:
    """tests/servers/config_service.py in the background, with its log of request heads."""

    def __init__(self, work: Path, tls: "tls_server.ServerCert | None" = None):
        answers = work / "answers.json"
        answers.write_text(json.dumps(ANSWERS), encoding="utf-8")
        self.log = work / "requests.log"
        self.log.write_bytes(b"")
        arguments = ["--tls-cert", str(tls.cert), "--tls-key", str(tls.key)] if tls else []
        self.process = subprocess.Popen(
            [sys.executable, str(SERVERS / "config_service.py"), "--answers", str(answers),
             "--log", str(self.log), *arguments], stdout=subprocess.PIPE, text=True)
        scheme = "https" if tls else "http"
        self.origin = f"{scheme}://127.0.0.1:{self.process.stdout.readline().strip()}"

    def stop(self):
        self.process.terminate()
        self.process.wait()
        self.process.stdout.close()

    def request_lines(self) -> list[bytes]:
        """The request line and headers of every request so far, one list entry per head."""
        return [head for head in self.log.read_bytes().split(b"\r\n\r\n") if head]


class ConfigDispatch(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp())
        cls.service = ConfigService(cls.work)
        # One signed copy per service path; the setup program comes from the same service.
        cls.launchers = {}
        for path in ANSWERS:
            tag = json.dumps({"config_url": cls.service.origin + path,
                              "installer_url": cls.service.origin + "/setup.exe"}).encode()
            launcher = cls.work / f"launcher{path.replace('/', '-')}.exe"
            tagging.make_tagged_copy(LAUNCHER, launcher, tag, cls.work / f"certs{path}")
            cls.launchers[path] = launcher

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()
        shutil.rmtree(cls.work)

    def setUp(self):
        self.prefix = Path(tempfile.mkdtemp(dir=self.work)) / "prefix"
        self.heads_before = len(self.service.request_lines())

    def run_launcher(self, path: str, silent: bool, **kwargs):
        # An interactive run goes on to the progress dialog, which needs a display.
        kwargs.setdefault("display", not silent)
        line = quoted(self.launchers[path]) + (" /S" if silent else "")
        return run_windows(line, prefix=self.prefix, **kwargs)

    def run_answering_box(self, path: str, silent: bool, key: str, **kwargs):
        """Runs the launcher on a display, waits for its box and presses `key` in it."""
        outcome = {}

        def run():
            try:
                outcome["result"] = self.run_launcher(path, silent, display=True, **kwargs)
            except BaseException as error:  # reported by the main thread
                outcome["error"] = error

        runner = threading.Thread(target=run)
        runner.start()
        started = time.monotonic()
        pressed = self.press_in_box(key, runner)
        runner.join(WINDOW_WAIT_S * 2)
        if "error" in outcome:
            raise outcome["error"]
        self.assertTrue(pressed, f"no box with the caption {BOX_CAPTION!r} took the key {key} "
                                 f"in {time.monotonic() - started:.1f} s; the run: {outcome}")
        self.assertIn("result", outcome, "the launcher did not end after the box was answered")
        return outcome["result"]

    def press_in_box(self, key: str, runner: threading.Thread):
        """Presses `key` in the box once it is on the screen and waits until the box is gone.

        The press is judged by its effect, not by xdotool's status: Return or a letter closes the
        box on its press, so a release sent to the box's window afterwards would find no window
        and fail, which under load happens often. Only the press goes to the box; the release
        goes through the server, or the key auto-repeats into the next window. A press that is
        lost is tried again on the same box, never on a window that came after it."""
        deadline = time.monotonic() + WINDOW_WAIT_S
        box, pressed = None, False
        while time.monotonic() < deadline and runner.is_alive():
            time.sleep(0.2)
            env = self.display_env()
            if env is None:
                continue
            boxes = self.find_boxes(env)
            if box is not None and box not in boxes:
                if pressed:
                    return True
                box = None  # gone before the press: a window of the box's set-up
            if box is None:
                if not boxes:
                    continue
                box = boxes[0]
            subprocess.run(["xdotool", "keydown", "--window", box, key], env=env,
                           capture_output=True)
            subprocess.run(["xdotool", "keyup", key], env=env, capture_output=True)
            pressed = True
            pressed_at = time.monotonic()
            while time.monotonic() < pressed_at + 5 and runner.is_alive():
                time.sleep(0.2)
                if box not in self.find_boxes(env):
                    return True
        # The run ended right after a press, before the box was seen to go.
        return pressed and not runner.is_alive()

    def display_env(self) -> dict | None:
        display_file = self.prefix / "display"
        if not display_file.exists() or not display_file.read_text().strip():
            return None
        return dict(os.environ, DISPLAY=":" + display_file.read_text().strip())

    @staticmethod
    def find_boxes(env: dict) -> list[str]:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                f"^{BOX_CAPTION}$"], env=env, capture_output=True, text=True)
        return found.stdout.split()

    def stored_config(self) -> bytes | None:
        found = list(self.prefix.glob(
            "drive_c/users/*/AppData/Roaming/kovane-console/installer_config.json"))
        return found[0].read_bytes() if found else None

    def product_folders(self) -> list[Path]:
        return list(self.prefix.glob("drive_c/users/*/AppData/Roaming/kovane-console"))

    def new_heads(self) -> list[bytes]:
        return self.service.request_lines()[self.heads_before:]

    def assert_went_on_to_the_setup_program(self, result):
        # The run goes on to the download: the setup request arrives.
        went_on = any(head.startswith(b"GET /setup.exe ") for head in self.new_heads())
        self.assertTrue(went_on, result)
        self.assertNotEqual(result.code, 1, result)
        self.assertNotRegex(result.stderr, rb"common/src/(config_fetch|config_store|user_locale)")

    def config_request(self) -> bytes:
        heads = [head for head in self.new_heads() if not head.startswith(b"GET /setup.exe ")]
        self.assertEqual(len(heads), 1, heads)
        return heads[0]

    def test_stored_configuration_goes_on(self):
        for silent, target in ((False, b"/config"), (True, b"/config?is_silent_mode_requested=true")):
            with self.subTest(silent=silent):
                self.setUp()
                result = self.run_launcher("/config", silent)
                self.assert_went_on_to_the_setup_program(result)
                self.assertEqual(self.stored_config(), CONFIG.encode("utf-8"))
                head = self.config_request()
                self.assertTrue(head.startswith(b"GET " + target + b" HTTP/1.1\r\n"), head)
                lines = head.split(b"\r\n")
                self.assertEqual([l for l in lines if l.lower().startswith(b"accept")],
                                 [b"Accept: application/json", b"Accept-Language: en-US"])

    def test_question_answered_yes_stores_and_goes_on(self):
        result = self.run_answering_box("/question", False, "y")
        self.assert_went_on_to_the_setup_program(result)
        self.assertEqual(self.stored_config(), CONFIG.encode("utf-8"))

    def test_question_answered_no_in_silent_mode_ends_with_1(self):
        result = self.run_answering_box("/question", True, "n")
        self.assertEqual((result.code, result.stderr), (1, b""), result)
        self.assertEqual(self.product_folders(), [])
        self.assertFalse(any(head.startswith(b"GET /setup.exe ") for head in self.new_heads()))

    def test_error_in_interactive_mode_is_shown_in_a_box_only(self):
        result = self.run_answering_box("/error", False, "Return")
        self.assertEqual((result.code, result.stderr), (1, b""), result)
        self.assertEqual(self.product_folders(), [])

    def test_error_in_silent_mode_goes_to_standard_error(self):
        expected = ERROR_TEXT.encode("utf-8") + b"\n"
        with self.subTest("pipe"):
            result = self.run_launcher("/error", True)
            self.assertEqual((result.code, result.stderr), (1, expected), result)
        with self.subTest("file"), tempfile.TemporaryFile() as sink:
            self.setUp()
            result = self.run_launcher("/error", True, stderr=sink)
            sink.seek(0)
            self.assertEqual((result.code, sink.read()), (1, expected), result)
        with self.subTest("none"):
            self.setUp()
            result = self.run_launcher("/error", True, no_stderr=True)
            self.assertEqual((result.code, result.stderr), (1, b""), result)
        with self.subTest("console input"):
            # Passes for a console, but the system refuses the write as an invalid handle.
            self.setUp()
            result = self.run_launcher("/error", True, stderr_console_input=True, display=True)
            self.assertEqual((result.code, result.stderr), (1, b""), result)
        self.assertEqual(self.product_folders(), [])

    def run_with_earlier_config(self, *options: str, change=None):
        """Runs the silent launcher for /config through config_holder, which puts EARLIER_CONFIG
        in place first and passes `options` on. `change`, when given, is called with the file's
        path once it is in place and before the launcher starts. Returns the run's result and
        the file's attributes after it."""
        work = Path(tempfile.mkdtemp(dir=self.work))
        earlier, line, report, marker = (work / name for name in
                                         ("earlier.json", "line.txt", "report.txt", "go"))
        earlier.write_bytes(EARLIER_CONFIG)
        line.write_bytes((quoted(self.launchers["/config"]) + " /S").encode("utf-8"))
        arguments = [quoted(CONFIG_HOLDER), quoted(earlier), quoted(line), quoted(report),
                     *options]
        if change is not None:
            arguments += ["--wait-for", quoted(marker)]
        outcome = {}

        def run():
            try:
                outcome["result"] = run_windows(" ".join(arguments), prefix=self.prefix)
            except BaseException as error:  # reported by the main thread
                outcome["error"] = error

        runner = threading.Thread(target=run)
        runner.start()
        deadline = time.monotonic() + WINDOW_WAIT_S
        while change is not None and runner.is_alive() and time.monotonic() < deadline:
            time.sleep(0.1)
            if self.stored_config() == EARLIER_CONFIG:
                change(self.config_path())
                marker.touch()
                break
        runner.join(WINDOW_WAIT_S * 2)
        if "error" in outcome:
            raise outcome["error"]
        self.assertIn("result", outcome, "the run did not end")
        return outcome["result"], int(report.read_text()) if report.exists() else None

    def config_path(self) -> Path:
        [path] = self.prefix.glob(
            "drive_c/users/*/AppData/Roaming/kovane-console/installer_config.json")
        return path

    def assert_only_the_config_file(self):
        self.assertEqual([p.name for p in self.config_path().parent.iterdir()],
                         ["installer_config.json"])

    def test_configuration_held_open_with_read_write_sharing_is_stored(self):
        result, _ = self.run_with_earlier_config("--share", "rw")
        self.assert_went_on_to_the_setup_program(result)
        self.assertEqual(self.stored_config(), CONFIG.encode("utf-8"))
        self.assert_only_the_config_file()

    def test_configuration_held_open_without_write_sharing_ends_the_run(self):
        result, _ = self.run_with_earlier_config("--share", "r")
        self.assertEqual(result.code, FAST_FAIL_STATUS, result)
        self.assertRegex(result.stderr,
                         rb"^fatal error at common/src/config_store\.cpp:\d+:\d+: CreateFileW "
                         rb"failed: Sharing violation\. \(os error 32\)\n$")
        self.assertEqual(self.stored_config(), EARLIER_CONFIG)
        self.assert_only_the_config_file()
        self.assertFalse(any(head.startswith(b"GET /setup.exe ") for head in self.new_heads()))

    def test_hidden_configuration_stays_hidden(self):
        result, attributes = self.run_with_earlier_config("--hidden")
        self.assert_went_on_to_the_setup_program(result)
        self.assertEqual(self.stored_config(), CONFIG.encode("utf-8"))
        self.assertTrue(attributes & FILE_ATTRIBUTE_HIDDEN, attributes)
        self.assert_only_the_config_file()

    def test_configuration_that_is_a_link_stays_a_link(self):
        # A Unix link inside the prefix, to a file outside it: Wine 8 cannot make file links.
        real = Path(tempfile.mkdtemp(dir=self.work)) / "config.json"

        def make_link(config: Path):
            real.write_bytes(config.read_bytes())
            config.unlink()
            config.symlink_to(real)

        result, _ = self.run_with_earlier_config(change=make_link)
        self.assert_went_on_to_the_setup_program(result)
        self.assertTrue(self.config_path().is_symlink())
        self.assertEqual(real.read_bytes(), CONFIG.encode("utf-8"))
        self.assert_only_the_config_file()
        self.assertEqual([p.name for p in real.parent.iterdir()], ["config.json"])


class HttpsConfigService(unittest.TestCase):
    """The tag's `ca` roots against an https configuration service: a root counts for its name and
    key, and the server's certificate names its host in subjectAltName or not at all."""

    def setUp(self):
        self.work = Path(tempfile.mkdtemp())
        self.prefix = self.work / "prefix"
        self.service = None

    def tearDown(self):
        if self.service is not None:
            self.service.stop()
        shutil.rmtree(self.work)

    def run_with(self, root: "tls_server.CertAuthority", server: "tls_server.ServerCert"):
        self.service = ConfigService(self.work, tls=server)
        tag = json.dumps({"config_url": self.service.origin + "/config",
                          "installer_url": self.service.origin + "/setup.exe",
                          "ca": root.cert.read_text()}).encode()
        launcher = self.work / "launcher.exe"
        tagging.make_tagged_copy(LAUNCHER, launcher, tag, self.work / "signing")
        return run_windows(quoted(launcher) + " /S", prefix=self.prefix)

    def stored_config(self) -> bytes | None:
        found = list(self.prefix.glob(
            "drive_c/users/*/AppData/Roaming/kovane-console/installer_config.json"))
        return found[0].read_bytes() if found else None

    def test_expired_root_in_the_tag_is_an_anchor(self):
        root = tls_server.make_ca(self.work / "certs", expired=True)
        result = self.run_with(root, tls_server.make_server_cert(self.work / "certs", root))
        self.assertEqual(self.stored_config(), CONFIG.encode("utf-8"), result)
        # The run goes on to the download from the same service.
        heads = self.service.request_lines()
        self.assertTrue(any(head.startswith(b"GET /setup.exe ") for head in heads), result)

    def test_server_named_by_its_common_name_alone_ends_the_run(self):
        root = tls_server.make_ca(self.work / "certs")
        server = tls_server.make_server_cert(self.work / "certs", root, common_name_only=True)
        result = self.run_with(root, server)
        self.assertEqual(result.code, FAST_FAIL_STATUS, result)
        self.assertRegex(result.stderr,
                         rb'^fatal error at common/src/config_fetch\.cpp:\d+:\d+: ClientError '
                         rb'\{ kind: Request, url: "' + re.escape(self.service.origin.encode())
                         + rb'/config\?is_silent_mode_requested=true", cause: "[^"\n]*'
                         rb'hostname mismatch[^"\n]*" \}\n$')
        self.assertIsNone(self.stored_config())
        self.assertEqual(self.service.request_lines(), [])


if __name__ == "__main__":
    unittest.main()
