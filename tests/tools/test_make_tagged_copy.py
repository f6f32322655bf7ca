#!/usr/bin/env python3
"""Checks tools/make_tagged_copy.py against a real x86-64 executable.

Usage: test_make_tagged_copy.py EXE [unittest options]

EXE is any unsigned x86-64 PE (the launcher in CTest). It is only read.
"""

from __future__ import annotations

import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
TOOL = REPO / "tools" / "make_tagged_copy.py"
sys.path.insert(0, str(TOOL.parent))

import make_tagged_copy as mtc  # noqa: E402

EXE: Path | None = None
MARKER = mtc.CERT_TAG_MARKER


def sha256(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def pe_offset(data: bytes) -> int:
    return struct.unpack_from("<i", data, 0x3C)[0]


def cert_dir(data: bytes) -> tuple[int, int]:
    return struct.unpack_from("<II", data, pe_offset(data) + 168)


def sample_text(length: int, seed: str) -> bytes:
    """Non-zero UTF-8 text of exactly length bytes that differs per seed."""
    unit = f"{seed}=\u00e4\u20ac&".encode()
    return (unit * (length // len(unit) + 1))[:length]


def run_ok(argv: list[str]) -> subprocess.CompletedProcess:
    proc = subprocess.run(argv, capture_output=True, stdin=subprocess.DEVNULL)
    if proc.returncode != 0:
        raise AssertionError(f"{argv[:2]} failed: {proc.stdout!r} {proc.stderr!r}")
    return proc


def embedded_certificate(exe: Path, work: Path) -> bytes:
    """The signer certificate (PEM) from the signature, through osslsigncode and openssl."""
    sig = work / "sig.der"
    sig.unlink(missing_ok=True)
    run_ok(["osslsigncode", "extract-signature", "-in", str(exe), "-out", str(sig)])
    return run_ok(["openssl", "pkcs7", "-inform", "DER", "-in", str(sig), "-print_certs"]).stdout


def pem_to_der(pem: bytes) -> bytes:
    return subprocess.run(
        ["openssl", "x509", "-outform", "DER"], input=pem, capture_output=True, check=True
    ).stdout


class Workspace(unittest.TestCase):
    def setUp(self) -> None:
        self._tmp = tempfile.TemporaryDirectory(prefix="tagged-copy-test-")
        self.dir = Path(self._tmp.name)

    def tearDown(self) -> None:
        self._tmp.cleanup()


# ---------------------------------------------------------------------------------------------
# The reader the other checks rely on, against hand-made PE headers.


def synthetic_pe(
    table: bytes | None,
    *,
    mz: bytes = b"MZ",
    lfanew: int = 0x40,
    signature: bytes = b"PE\0\0",
    machine: int = 0x8664,
    directory: tuple[int, int] | None = None,
    trailer: bytes = b"",
) -> bytes:
    """Headers up to the data directories, then the table (if any), then trailer bytes."""
    data = bytearray(0x40 + 176)
    data[0:2] = mz
    struct.pack_into("<i", data, 0x3C, lfanew)
    data[0x40:0x44] = signature
    struct.pack_into("<H", data, 0x44, machine)
    struct.pack_into("<H", data, 0x40 + 24, 0x20B)
    offset = len(data)
    if table is not None:
        data += table
    data += trailer
    if directory is None:
        directory = (offset, len(table)) if table is not None else (0, 0)
    struct.pack_into("<II", data, 0x40 + 168, *directory)
    return bytes(data)


def value(text: bytes) -> bytes:
    return text + b"\0"


GOOD = b"brand=x"
# (name, file bytes, expected text or None)
READER_CASES = [
    ("short length", synthetic_pe(b"junk" + MARKER + b"\x08" + value(GOOD) + b"pad"), GOOD),
    ("0x81 length", synthetic_pe(MARKER + b"\x81\xc8" + value(b"a" * 199)), b"a" * 199),
    ("0x82 length", synthetic_pe(MARKER + b"\x82\x01\x2d" + value(b"b" * 300)), b"b" * 300),
    # The reader takes the three forms as they come; minimal encoding is not its business.
    ("non-minimal 0x81", synthetic_pe(MARKER + b"\x81\x08" + value(GOOD)), GOOD),
    ("value ends the table", synthetic_pe(MARKER + b"\x08" + value(GOOD)), GOOD),
    ("empty text", synthetic_pe(MARKER + b"\x01\x00"), b""),
    (
        "last marker wins",
        synthetic_pe(MARKER + b"\x04" + value(b"old") + MARKER + b"\x04" + value(b"new")),
        b"new",
    ),
    (
        "malformed last marker hides a good one",
        synthetic_pe(MARKER + b"\x04" + value(b"old") + MARKER + b"\x03abc"),
        None,
    ),
    ("no marker", synthetic_pe(b"\x30\x82\x01\x00" + GOOD), None),
    ("no table", synthetic_pe(None), None),
    ("marker at the end", synthetic_pe(b"x" + MARKER), None),
    ("0x81 cut short", synthetic_pe(MARKER + b"\x81"), None),
    ("0x82 cut short", synthetic_pe(MARKER + b"\x82\x01"), None),
    ("0x83 length", synthetic_pe(MARKER + b"\x83\x00\x00\x08" + value(GOOD)), None),
    ("0x80 length", synthetic_pe(MARKER + b"\x80" + value(GOOD)), None),
    ("zero length", synthetic_pe(MARKER + b"\x00" + value(GOOD)), None),
    ("no terminator", synthetic_pe(MARKER + b"\x07" + GOOD + b"x"), None),
    ("inner zero", synthetic_pe(MARKER + b"\x09" + b"bra\0nd=x\0"), None),
    # The value would be complete if the read ran past the table's size into the file.
    (
        "value past the table",
        synthetic_pe(MARKER + b"\x08" + GOOD[:3], trailer=GOOD[3:] + b"\0"),
        None,
    ),
    ("table past the file", synthetic_pe(None, directory=(0x40 + 176, 64), trailer=MARKER), None),
    (
        "table size zero",
        synthetic_pe(MARKER + b"\x08" + value(GOOD), directory=(0x40 + 176, 0)),
        None,
    ),
    ("not MZ", synthetic_pe(MARKER + b"\x08" + value(GOOD), mz=b"ZM"), None),
    ("negative e_lfanew", synthetic_pe(MARKER + b"\x08" + value(GOOD), lfanew=-64), None),
    ("e_lfanew past the file", synthetic_pe(MARKER + b"\x08" + value(GOOD), lfanew=0x10000), None),
    ("no PE signature", synthetic_pe(MARKER + b"\x08" + value(GOOD), signature=b"PE\0\1"), None),
    ("i386 machine", synthetic_pe(MARKER + b"\x08" + value(GOOD), machine=0x14C), None),
    ("arm64 machine", synthetic_pe(MARKER + b"\x08" + value(GOOD), machine=0xAA64), None),
    ("too short for headers", b"MZ" + b"\0" * 0x3E, None),
]


class ReaderTest(Workspace):
    def test_cases(self) -> None:
        for name, data, expected in READER_CASES:
            with self.subTest(name):
                path = self.dir / "case.exe"
                path.write_bytes(data)
                self.assertEqual(mtc.find_tag_in_file(path), expected)

    def test_hit_reports_stored_length(self) -> None:
        hit = mtc.find_tag_in_table(b"x" * 5 + MARKER + b"\x81\x08" + value(GOOD))
        self.assertIsNotNone(hit)
        self.assertEqual(hit.marker_offset, 5)
        self.assertEqual(hit.length_bytes, b"\x81\x08")
        self.assertEqual(hit.value, value(GOOD))


# ---------------------------------------------------------------------------------------------
# Copies of the real executable.

# (text length, DER length bytes): the value is the text plus its zero byte.
LENGTH_CASES = [
    (0, b"\x01"),
    (1, b"\x02"),
    (60, b"\x3d"),
    (126, b"\x7f"),
    (127, b"\x81\x80"),
    (200, b"\x81\xc9"),
    (254, b"\x81\xff"),
    (255, b"\x82\x01\x00"),
    (300, b"\x82\x01\x2d"),
    (mtc.MAX_READABLE_TAG_LEN, b"\x82\xff\xff"),
]


class TaggedCopyTest(Workspace):
    @classmethod
    def setUpClass(cls) -> None:
        cls.original_hash = sha256(EXE)
        cls.original_mtime = EXE.stat().st_mtime_ns

    def test_input_is_an_unsigned_x86_64_pe(self) -> None:
        data = EXE.read_bytes()
        self.assertEqual(data[:2], b"MZ")
        h = pe_offset(data)
        self.assertEqual(data[h : h + 4], b"PE\0\0")
        self.assertEqual(struct.unpack_from("<H", data, h + 4)[0], 0x8664)
        self.assertEqual(struct.unpack_from("<H", data, h + 24)[0], 0x20B)
        self.assertEqual(cert_dir(data)[0], 0)
        self.assertIsNone(mtc.read_cert_table(EXE))

    def test_length_forms(self) -> None:
        for length, der_length in LENGTH_CASES:
            with self.subTest(length=length):
                text = sample_text(length, f"len{length}")
                out = self.dir / f"tagged-{length}.exe"
                mtc.make_tagged_copy(EXE, out, text, self.dir / f"work-{length}")
                table = mtc.read_cert_table(out)
                self.assertIsNotNone(table)
                # Byte-wise, independent of the reader: one marker, then length, text, zero.
                self.assertEqual(table.count(MARKER), 1)
                self.assertIn(MARKER + der_length + text + b"\0", table)
                hit = mtc.find_tag_in_table(table)
                self.assertIsNotNone(hit)
                self.assertEqual(hit.length_bytes, der_length)
                self.assertEqual(hit.value, text + b"\0")
                self.assertEqual(mtc.find_tag_in_file(out), text)
                out.unlink()

    def test_untagged_copy_has_a_table_without_marker(self) -> None:
        out = self.dir / "untagged.exe"
        mtc.make_tagged_copy(EXE, out, None, self.dir / "work")
        table = mtc.read_cert_table(out)
        self.assertIsNotNone(table)
        self.assertGreater(len(table), 8)
        self.assertNotIn(MARKER, table)
        self.assertNotIn(mtc.TAG_OID.encode(), (self.dir / "work" / "cert.cnf").read_bytes())
        self.assertIsNone(mtc.find_tag_in_file(out))

    def test_signing_only_adds_the_table(self) -> None:
        out = self.dir / "tagged.exe"
        mtc.make_tagged_copy(EXE, out, b"brand=layout", None)
        before = EXE.read_bytes()
        after = out.read_bytes()
        h = pe_offset(before)
        offset, size = cert_dir(after)
        self.assertEqual(offset, (len(before) + 7) // 8 * 8)
        self.assertEqual(offset + size, len(after))
        self.assertEqual(after[len(before) : offset], b"\0" * (offset - len(before)))
        # Only the checksum and the certificate directory entry change in the headers.
        changed = {i for i in range(len(before)) if before[i] != after[i]}
        allowed = set(range(h + 88, h + 92)) | set(range(h + 168, h + 176))
        self.assertLessEqual(changed, allowed)
        self.assertTrue(changed & set(range(h + 168, h + 176)))
        # WIN_CERTIFICATE: its length covers the whole table, revision 2.0, PKCS#7 signed data.
        self.assertEqual(struct.unpack_from("<IHH", after, offset), (size, 0x0200, 0x0002))

    def test_signature_verifies_against_its_own_certificate(self) -> None:
        out = self.dir / "tagged.exe"
        text = b"brand=verify"
        mtc.make_tagged_copy(EXE, out, text, self.dir / "work")
        pem = embedded_certificate(out, self.dir)
        self.assertEqual(pem_to_der(pem), pem_to_der((self.dir / "work" / "cert.pem").read_bytes()))
        # openssl prints an unknown extension as "OID: critical" or "OID: " with the value below.
        cert_text = subprocess.run(
            ["openssl", "x509", "-noout", "-text"], input=pem, capture_output=True, check=True
        ).stdout.decode()
        ext_lines = [line.strip() for line in cert_text.splitlines() if mtc.TAG_OID in line]
        self.assertEqual(ext_lines, [mtc.TAG_OID + ":"])
        ca = self.dir / "signer.pem"
        ca.write_bytes(pem)
        verify = ["osslsigncode", "verify", "-CAfile", str(ca), "-ignore-cdp", "-in"]
        run_ok(verify + [str(out)])
        # The same check refuses a copy whose signed bytes were changed after signing.
        data = bytearray(out.read_bytes())
        data[0x40] ^= 0xFF
        broken = self.dir / "broken.exe"
        broken.write_bytes(data)
        refused = subprocess.run(verify + [str(broken)], capture_output=True)
        self.assertNotEqual(refused.returncode, 0)

    def test_each_run_uses_a_new_key(self) -> None:
        certs = []
        for i in range(2):
            out = self.dir / f"run{i}.exe"
            mtc.make_tagged_copy(EXE, out, b"brand=same", None)
            certs.append(pem_to_der(embedded_certificate(out, self.dir)))
        self.assertNotEqual(certs[0], certs[1])

    def test_raw_values(self) -> None:
        cases = [(b"abc", b"\x03abc"), (b"a\0b\0", b"\x04a\0b\0"), (b"\0", b"\x01\0")]
        for raw, stored in cases:
            with self.subTest(raw=raw):
                out = self.dir / "raw.exe"
                mtc.make_tagged_copy(EXE, out, raw, None, terminate=False)
                table = mtc.read_cert_table(out)
                self.assertIn(MARKER + stored, table)
                expected = b"" if raw == b"\0" else None
                self.assertEqual(mtc.find_tag_in_file(out), expected)
                out.unlink()

    def test_refusals_leave_no_output(self) -> None:
        not_pe = self.dir / "not-pe.exe"
        not_pe.write_bytes(b"plain text, no PE here\n")
        out = self.dir / "out.exe"
        cases = [
            ("zero byte in text", EXE, b"bra\0nd", True),
            ("empty raw value", EXE, b"", False),
            ("input is no PE", not_pe, b"brand=x", True),
            ("missing input", self.dir / "missing.exe", b"brand=x", True),
        ]
        for name, src, tag, terminate in cases:
            with self.subTest(name):
                out.write_bytes(b"previous")
                with self.assertRaises(mtc.TaggingError):
                    mtc.make_tagged_copy(src, out, tag, None, terminate=terminate)
                self.assertEqual(out.read_bytes(), b"previous")
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["not-pe.exe", "out.exe"])

    def test_output_may_not_be_the_input(self) -> None:
        copy = self.dir / "self.exe"
        copy.write_bytes(EXE.read_bytes())
        with self.assertRaises(mtc.TaggingError):
            mtc.make_tagged_copy(copy, self.dir / "." / "self.exe", b"brand=x", None)
        self.assertEqual(sha256(copy), self.original_hash)

    def test_existing_output_is_replaced(self) -> None:
        out = self.dir / "out.exe"
        mtc.make_tagged_copy(EXE, out, b"brand=first", None)
        mtc.make_tagged_copy(EXE, out, b"brand=second", None)
        self.assertEqual(mtc.find_tag_in_file(out), b"brand=second")

    def test_input_untouched(self) -> None:
        mtc.make_tagged_copy(EXE, self.dir / "out.exe", b"brand=untouched", None)
        self.assertEqual(sha256(EXE), self.original_hash)
        self.assertEqual(EXE.stat().st_mtime_ns, self.original_mtime)
        self.assertIsNone(mtc.read_cert_table(EXE))


# ---------------------------------------------------------------------------------------------
# The command line.


class CommandLineTest(Workspace):
    def run_tool(self, *args: str) -> subprocess.CompletedProcess:
        # A private TMPDIR shows whether the tool cleans up its temporary folder.
        env = dict(os.environ, TMPDIR=str(self.tmpdir))
        return subprocess.run(
            [sys.executable, str(TOOL), *args], capture_output=True, env=env,
            stdin=subprocess.DEVNULL,
        )

    def setUp(self) -> None:
        super().setUp()
        self.tmpdir = self.dir / "tmp"
        self.tmpdir.mkdir()
        self.out = self.dir / "out.exe"

    def test_tag_sources(self) -> None:
        tag_file = self.dir / "tag.txt"
        file_text = sample_text(300, "file")
        tag_file.write_bytes(file_text)
        text = "brand=\u00c4\u00f6&lang=de"
        cases = [
            ("--tag", ["--tag", text], text.encode()),
            ("--tag-file", ["--tag-file", str(tag_file)], file_text),
        ]
        for name, args, expected in cases:
            with self.subTest(name):
                proc = self.run_tool("--in", str(EXE), "--out", str(self.out), *args)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual(mtc.find_tag_in_file(self.out), expected)
                self.assertEqual(list(self.tmpdir.iterdir()), [])

    def test_no_tag(self) -> None:
        proc = self.run_tool("--in", str(EXE), "--out", str(self.out), "--no-tag")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        table = mtc.read_cert_table(self.out)
        self.assertIsNotNone(table)
        self.assertNotIn(MARKER, table)

    def test_raw(self) -> None:
        proc = self.run_tool("--in", str(EXE), "--out", str(self.out), "--tag", "abc", "--raw")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertIn(MARKER + b"\x03abc", mtc.read_cert_table(self.out))
        self.assertIsNone(mtc.find_tag_in_file(self.out))

    def test_workdir_keeps_key_and_certificate(self) -> None:
        work = self.dir / "work"
        proc = self.run_tool(
            "--in", str(EXE), "--out", str(self.out), "--tag", "brand=w", "--workdir", str(work)
        )
        self.assertEqual(proc.returncode, 0, proc.stderr)
        kept = sorted(p.name for p in work.iterdir())
        self.assertEqual(kept, ["cert.cnf", "cert.pem", "key.pem"])
        self.assertEqual(
            pem_to_der(embedded_certificate(self.out, self.dir)),
            pem_to_der((work / "cert.pem").read_bytes()),
        )

    def test_bad_invocations(self) -> None:
        exe = ["--in", str(EXE), "--out", str(self.out)]
        cases = [
            ("no tag choice", exe, 2),
            ("tag and no-tag", exe + ["--tag", "a", "--no-tag"], 2),
            ("tag and tag-file", exe + ["--tag", "a", "--tag-file", str(EXE)], 2),
            ("raw without tag", exe + ["--no-tag", "--raw"], 2),
            ("no output", ["--in", str(EXE), "--tag", "a"], 2),
            ("missing tag file", exe + ["--tag-file", str(self.dir / "none.txt")], 1),
            (
                "missing input",
                ["--in", str(self.dir / "none.exe"), "--out", str(self.out), "--tag", "a"],
                1,
            ),
        ]
        for name, args, code in cases:
            with self.subTest(name):
                proc = self.run_tool(*args)
                self.assertEqual(proc.returncode, code, proc.stderr)
                self.assertTrue(proc.stderr)
                self.assertFalse(self.out.exists())


def main() -> int:
    global EXE
    if len(sys.argv) < 2 or sys.argv[1].startswith("-"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    EXE = Path(sys.argv[1]).resolve()
    if not EXE.is_file():
        print(f"{EXE}: no such file", file=sys.stderr)
        return 2
    program = unittest.main(argv=[sys.argv[0], *sys.argv[2:]], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
