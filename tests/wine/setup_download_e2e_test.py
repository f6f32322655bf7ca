"""The download-and-run step under Wine: the real shell progress dialog, temporary folder, child
process and exit codes, with the setup program served from a loopback setup server.

SetupDownload: setup_download_probe.exe runs the step as the launcher does after storing a
configuration; its tag's installer_url points at the server. The Windows temporary folder (TMP)
is a folder of the test, so what the step leaves there can be seen. Wine's trace of the shell
dialog (browseui) shows the calls the dialog received.

TaggedLauncher: the whole run of a signed launcher whose tag names the loopback services, from
the configuration to the setup program's exit code."""

import os
import json
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

from winehelp import FAST_FAIL_STATUS, quoted, run_windows, windows_path

import make_tagged_copy as tagging

PROBE = Path(os.environ["KOVANE_SETUP_DOWNLOAD_PROBE"])
LAUNCHER = Path(os.environ["KOVANE_LAUNCHER"])
FAKE_SETUP = Path(os.environ["KOVANE_FAKE_SETUP"])
SERVERS = Path(__file__).resolve().parents[1] / "servers"
DIALOG_TRACE = "-all,trace+browseui"
DIALOG_TITLE = "Kovane Console"


class SetupServer:
    """installer_services.py serving `setup` on loopback."""

    def __init__(self, setup: Path, log: Path):
        self.log = log.open("wb")
        self.process = subprocess.Popen(
            [sys.executable, str(SERVERS / "installer_services.py"), "--setup", str(setup)],
            stdout=subprocess.PIPE, stderr=self.log)
        self.port = int(self.process.stdout.readline())

    def url(self, path: str) -> str:
        return f"http://127.0.0.1:{self.port}{path}"

    def paths_asked(self) -> list[str]:
        return [json.loads(line)["path"] for line in Path(self.log.name).read_text().splitlines()]

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()
        self.log.close()


class PrivateDisplay:
    """An Xvfb of the test's own, so that xdotool can find the dialog on it."""

    def __init__(self, work: Path):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0",
             "1024x768x24"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            self.name = ":" + numbers.readline().strip()

    def xdotool(self, *arguments, check=True) -> str:
        done = subprocess.run(["xdotool", *arguments], env={"DISPLAY": self.name},
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=check,
                              timeout=30)
        return done.stdout.decode()

    def press(self, window: str, key: str):
        """Presses `key` in `window`. Only the press goes to the window: a key that closes it on
        its press would leave a release sent there without a window, which xdotool reports as
        an error. The release goes through the server, or the key auto-repeats."""
        self.xdotool("keydown", "--window", window, key)
        self.xdotool("keyup", key, check=False)

    def wait_for_window(self, title: str, seconds: float = 60) -> str:
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            found = self.xdotool("search", "--name", f"^{title}$", check=False).split()
            if found:
                return found[0]
            time.sleep(0.1)
        raise AssertionError(f"no window {title!r} appeared")

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)


class SetupDownload(unittest.TestCase):
    def setUp(self):
        self.work = Path(tempfile.mkdtemp())
        self.temp = self.work / "temp"
        self.temp.mkdir()
        self.record = self.work / "command_line.txt"
        self.server = SetupServer(FAKE_SETUP, self.work / "server.log")
        self.addCleanup(self.server.close)

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def run_probe(self, path: str, silent=False, display=True, trace=False, extra_env=None,
                  server=None):
        env = {"KOVANE_TEST_TMP": windows_path(self.temp),
               "KOVANE_FAKE_SETUP_RECORD": windows_path(self.record)}
        if trace:
            env["WINEDEBUG"] = DIALOG_TRACE
        env.update(extra_env or {})
        url = (server or self.server).url(path)
        line = quoted(PROBE) + (" /S" if silent else "") + " " + url
        return run_windows(line, display=display, env=env)

    def left_in_temp(self):
        return sorted(p.relative_to(self.temp).as_posix() for p in self.temp.rglob("*"))

    def child_command_line(self) -> str:
        return self.record.read_bytes().decode("utf-16-le")

    @staticmethod
    def dialog_calls(stderr: bytes):
        """The dialog calls Wine traced, as (name, arguments) in order."""
        return re.findall(r"trace:browseui:ProgressDialog_(\w+) \(\w+(?:, )?(.*)\)",
                          stderr.decode("utf-8", "replace"))

    def test_download_with_length_shows_progress_up_to_the_total(self):
        result = self.run_probe("/kov-latest-setup.exe", trace=True)
        self.assertEqual(result.code, 42, result)
        calls = [call for call in self.dialog_calls(result.stderr)
                 if call[0] not in ("QueryInterface", "AddRef", "Release")]
        names = [name for name, _ in calls]
        self.assertEqual(names[:4], ["SetTitle", "SetLine", "StartProgressDialog",
                                     "SetProgress64"], calls)
        self.assertEqual(calls[0][1], 'L"Kovane Console"')
        self.assertEqual(calls[1][1], '1, L"Downloading...", 0')
        # No parent, no modeless object, PROGDLG_NOMINIMIZE alone.
        self.assertEqual(calls[2][1], "0000000000000000, 8, 0000000000000000")
        progress = [tuple(int(n, 16) for n in arguments.split(", "))
                    for name, arguments in calls if name == "SetProgress64"]
        size = FAKE_SETUP.stat().st_size
        self.assertGreaterEqual(len(progress), 2, "the program takes more than one pass")
        self.assertTrue(all(total == size for _, total in progress), progress)
        counts = [count for count, _ in progress]
        self.assertEqual(counts, sorted(set(counts)))
        self.assertEqual(counts[-1], size)
        # Run without the switch, from the temporary directory, which is gone afterwards.
        self.assertRegex(self.child_command_line(),
                         r'^"' + re.escape(windows_path(self.temp)) + r'\\\.tmp[A-Za-z0-9]{6}'
                         r'\\kovsetup\.exe"$')
        self.assertEqual(self.left_in_temp(), [])

    def test_chunked_download_shows_no_progress(self):
        result = self.run_probe("/chunked/kov-latest-setup.exe", trace=True)
        self.assertEqual(result.code, 42, result)
        names = [name for name, _ in self.dialog_calls(result.stderr)]
        self.assertIn("StartProgressDialog", names)
        self.assertNotIn("SetProgress64", names)
        self.assertEqual(self.left_in_temp(), [])

    def test_silent_mode_shows_nothing_and_passes_the_switch(self):
        # Without any display: a dialog would never come up.
        result = self.run_probe("/kov-latest-setup.exe", silent=True, display=False, trace=True)
        self.assertEqual(result.code, 43, result)
        self.assertEqual(self.dialog_calls(result.stderr), [])
        self.assertRegex(self.child_command_line(), r'^"[^"]+\\kovsetup\.exe" /S$')
        self.assertEqual(self.left_in_temp(), [])

    def test_setup_exit_code_comes_back_in_all_32_bits(self):
        for code in (0, 1, 0xFFFFFFFF, 0xC0000005):
            with self.subTest(code=hex(code)):
                result = self.run_probe("/kov-latest-setup.exe", silent=True, display=False,
                                        extra_env={"KOVANE_FAKE_SETUP_EXIT": f"{code:x}"})
                self.assertEqual(result.code, code, result)
                self.assertEqual(self.left_in_temp(), [])

    def test_setup_program_inherits_no_socket_of_the_download(self):
        # The download's connection is still open for reuse while the setup program runs.
        sockets = self.work / "sockets.txt"
        result = self.run_probe("/kov-latest-setup.exe", silent=True, display=False,
                                extra_env={"KOVANE_FAKE_SETUP_SOCKETS": windows_path(sockets)})
        self.assertEqual(result.code, 43, result)
        self.assertEqual(sockets.read_text(), "0")

    def test_error_status_ends_the_run_before_any_directory(self):
        for status in (400, 599):
            with self.subTest(status=status):
                path = f"/status/{status}/kov-latest-setup.exe"
                result = self.run_probe(path, silent=True, display=False)
                self.assertEqual(result.code, FAST_FAIL_STATUS, result)
                self.assertRegex(result.stderr,
                                 rb"^fatal error at common/src/setup_download\.cpp:\d+:\d+: "
                                 rb"ClientError \{ kind: Status\(" + str(status).encode()
                                 + rb"\), url: \"" + re.escape(self.server.url(path).encode())
                                 + rb"\" \}\n$")
                self.assertEqual(self.left_in_temp(), [])
        result = self.run_probe("/status/399/kov-latest-setup.exe", silent=True, display=False)
        self.assertEqual(result.code, 43, result)

    def test_body_that_is_no_program_stays_behind(self):
        page = self.work / "page.html"
        page.write_bytes(b"<html>not found</html>")
        pages = SetupServer(page, self.work / "pages.log")
        self.addCleanup(pages.close)
        result = self.run_probe("/kov-latest-setup.exe", silent=True, display=False, server=pages)
        self.assertEqual(result.code, FAST_FAIL_STATUS, result)
        self.assertRegex(result.stderr, rb"setup_download\.cpp:\d+:\d+: CreateProcessW failed: ")
        left = self.left_in_temp()
        self.assertEqual(len(left), 2, left)
        self.assertEqual((self.temp / left[1]).read_bytes(), page.read_bytes())

    def test_cancel_in_the_dialog_deletes_the_directory_and_ends_with_1(self):
        display = PrivateDisplay(self.work)
        self.addCleanup(display.close)
        outcome = {}

        def run():
            outcome["result"] = self.run_probe("/trickle/kov-latest-setup.exe", display=False,
                                               extra_env={"DISPLAY": display.name})

        runner = threading.Thread(target=run)
        runner.start()
        try:
            window = display.wait_for_window(DIALOG_TITLE)
            # The download is under way: the directory and the partly written file exist.
            deadline = time.monotonic() + 30
            while not list(self.temp.glob(".tmp*/kovsetup.exe")) and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertRegex(" ".join(self.left_in_temp()),
                             r"^\.tmp[A-Za-z0-9]{6} \.tmp[A-Za-z0-9]{6}/kovsetup\.exe$")
            display.press(window, "Escape")
        finally:
            runner.join(timeout=120)
        result = outcome["result"]
        self.assertEqual(result.code, 1, result)
        self.assertEqual(self.left_in_temp(), [])
        self.assertFalse(self.record.exists(), "the setup program was started")


class TaggedLauncher(unittest.TestCase):
    """A signed copy of the launcher tagged with the services' addresses, run to its end."""

    def setUp(self):
        self.work = Path(tempfile.mkdtemp())
        self.server = SetupServer(FAKE_SETUP, self.work / "server.log")
        self.addCleanup(self.server.close)

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def launcher(self, setup_path: str) -> Path:
        tag = json.dumps({"config_url": self.server.url("/config"),
                          "installer_url": self.server.url(setup_path)}).encode()
        launcher = self.work / f"launcher-{len(list(self.work.glob('launcher-*')))}.exe"
        tagging.make_tagged_copy(LAUNCHER, launcher, tag, self.work / f"certs-{launcher.stem}")
        return launcher

    def run_launcher(self, launcher: Path, silent: bool, env=None, **kwargs):
        prefix = Path(tempfile.mkdtemp(dir=self.work)) / "prefix"
        result = run_windows(quoted(launcher) + (" /S" if silent else ""), display=not silent,
                             env=env, prefix=prefix, **kwargs)
        return result, prefix

    def left_in_temp(self, prefix: Path):
        temp = list(prefix.glob("drive_c/users/*/**/Temp"))
        self.assertEqual(len(temp), 1, "where Wine keeps the temporary folder")
        return [p.name for p in temp[0].iterdir() if p.name.startswith(".tmp")]

    def test_configuration_then_setup_program_and_its_exit_code(self):
        launcher = self.launcher("/kov-latest-setup.exe")
        for silent, code in ((False, 42), (True, 43)):
            with self.subTest(silent=silent):
                result, prefix = self.run_launcher(launcher, silent)
                self.assertEqual(result.code, code, result)
                self.assertEqual(result.stderr, b"")
                self.assertEqual(self.left_in_temp(prefix), [])
        self.assertEqual(self.server.paths_asked(),
                         ["/config", "/kov-latest-setup.exe",
                          "/config?is_silent_mode_requested=true", "/kov-latest-setup.exe"])

    def test_setup_exit_code_becomes_the_launchers_in_all_32_bits(self):
        launcher = self.launcher("/chunked/kov-latest-setup.exe")
        for code in (0, 0xFFFFFFFF, 0xC0000005):
            with self.subTest(code=hex(code)):
                result, _ = self.run_launcher(launcher, True,
                                              env={"KOVANE_FAKE_SETUP_EXIT": f"{code:x}"})
                self.assertEqual(result.code, code, result)

    def test_cancel_in_the_dialog_ends_the_launcher_with_1(self):
        launcher = self.launcher("/trickle/kov-latest-setup.exe")
        display = PrivateDisplay(self.work)
        self.addCleanup(display.close)
        outcome = {}

        def run():
            outcome["run"] = self.run_launcher(launcher, False, env={"DISPLAY": display.name})

        runner = threading.Thread(target=run)
        runner.start()
        try:
            window = display.wait_for_window(DIALOG_TITLE)
            time.sleep(1)  # well into the download
            display.press(window, "Escape")
        finally:
            runner.join(timeout=120)
        result, prefix = outcome["run"]
        self.assertEqual((result.code, result.stderr), (1, b""), result)
        self.assertEqual(self.left_in_temp(prefix), [])


if __name__ == "__main__":
    unittest.main()
