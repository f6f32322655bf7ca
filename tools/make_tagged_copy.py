#!/usr/bin/env python3
"""Make a signed copy of a Windows x86-64 executable whose signing certificate carries a tag.

The launcher reads its tag from its own Authenticode signature: the signer's certificate has a
non-critical extension 1.3.6.1.4.1.11129.2.1.9999 whose extnValue holds the UTF-8 tag text and
one terminating zero byte. This tool makes such certificates on the fly (a throw-away EC key and a
self-signed code-signing certificate per run) and signs with osslsigncode, so test fixtures never
depend on a real signing key. Nothing here touches the network: no timestamp server is used.

Usage:
    make_tagged_copy.py --in launcher.exe --out tagged.exe (--tag TEXT | --tag-file FILE | --no-tag)
                        [--raw] [--workdir DIR]

Importable:
    make_tagged_copy(src, dst, tag, workdir=None, *, terminate=True)
    find_tag_in_file(path) -> bytes | None
    read_cert_table(path) -> bytes | None
    find_tag_in_table(table) -> TagHit | None
"""

from __future__ import annotations

import argparse
import dataclasses
import os
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

TAG_OID = "1.3.6.1.4.1.11129.2.1.9999"

# DER of the extension's OID followed by the OCTET STRING tag of extnValue. A critical extension
# would have a BOOLEAN between the two, so a match also proves the extension is non-critical.
CERT_TAG_MARKER = bytes.fromhex("060B2B06010401D6790201CE0F04")

# The longest text whose value (text + zero) still fits the two-byte DER length form.
MAX_READABLE_TAG_LEN = 0xFFFF - 1

_IMAGE_FILE_MACHINE_AMD64 = 0x8664
# Offsets from the "PE\0\0" signature in a PE32+ image: 4 bytes signature, 20 bytes file
# header, then the optional header, whose data directories start at 112; entry 4 is the
# certificate table (a file offset, not an RVA).
_CERT_DIR_OFFSET = 168
_CERT_DIR_END = _CERT_DIR_OFFSET + 8


class TaggingError(Exception):
    """A step of making the tagged copy failed; the message says which and why."""


@dataclasses.dataclass(frozen=True)
class TagHit:
    """The last marker in a certificate table and what follows it."""

    marker_offset: int  # offset of the marker inside the table
    length_bytes: bytes  # the DER length exactly as stored (1, 2 or 3 bytes)
    value: bytes  # the n bytes the length announces, terminating zero included

    @property
    def text(self) -> bytes:
        return self.value[:-1]


def read_cert_table(path: str | os.PathLike) -> bytes | None:
    """The bytes of the PE's certificate table; None when it has none or is no x86-64 PE."""
    data = Path(path).read_bytes()
    return _cert_table_of(data)


def _cert_table_of(data: bytes) -> bytes | None:
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    (pe_offset,) = struct.unpack_from("<i", data, 0x3C)
    if pe_offset < 0 or pe_offset + _CERT_DIR_END > len(data):
        return None
    if data[pe_offset : pe_offset + 4] != b"PE\0\0":
        return None
    (machine,) = struct.unpack_from("<H", data, pe_offset + 4)
    if machine != _IMAGE_FILE_MACHINE_AMD64:
        return None
    table_offset, table_size = struct.unpack_from("<II", data, pe_offset + _CERT_DIR_OFFSET)
    if table_offset == 0 or table_size == 0:
        return None
    if table_offset + table_size > len(data):
        return None
    return data[table_offset : table_offset + table_size]


def find_tag_in_table(table: bytes) -> TagHit | None:
    """Read the value after the last marker the way the launcher does; None when it is malformed."""
    at = table.rfind(CERT_TAG_MARKER)
    if at < 0:
        return None
    pos = at + len(CERT_TAG_MARKER)
    if pos >= len(table):
        return None
    first = table[pos]
    if first <= 0x7F:
        length_bytes = table[pos : pos + 1]
        n = first
    elif first == 0x81:
        length_bytes = table[pos : pos + 2]
        if len(length_bytes) < 2:
            return None
        n = length_bytes[1]
    elif first == 0x82:
        length_bytes = table[pos : pos + 3]
        if len(length_bytes) < 3:
            return None
        n = int.from_bytes(length_bytes[1:], "big")
    else:
        return None
    start = pos + len(length_bytes)
    value = table[start : start + n]
    if len(value) < n or n == 0:
        return None
    # The terminator must be the last byte and the only zero in the value.
    if value.find(0) != n - 1:
        return None
    return TagHit(marker_offset=at, length_bytes=bytes(length_bytes), value=bytes(value))


def find_tag_in_file(path: str | os.PathLike) -> bytes | None:
    """The tag text (without its zero byte) the launcher would read from this file, or None."""
    table = read_cert_table(path)
    if table is None:
        return None
    hit = find_tag_in_table(table)
    return None if hit is None else hit.text


def _run(argv: list[str], what: str) -> None:
    proc = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if proc.returncode != 0:
        output = (proc.stdout + proc.stderr).strip()
        raise TaggingError(f"{what} failed (exit {proc.returncode}): {output}")


def _certificate_config(value: bytes | None) -> str:
    lines = [
        "[req]",
        "distinguished_name = dn",
        "prompt = no",
        "x509_extensions = v3",
        "",
        "[dn]",
        "CN = Throw-away test code signing",
        "",
        "[v3]",
        "basicConstraints = critical,CA:FALSE",
        "keyUsage = critical,digitalSignature",
        "extendedKeyUsage = codeSigning",
        "subjectKeyIdentifier = hash",
    ]
    if value is not None:
        # "DER:" puts these bytes verbatim into extnValue's OCTET STRING; "ASN1:OCTETSTRING"
        # would wrap them in a second one. Non-critical because no "critical," prefix.
        lines.append(f"{TAG_OID} = DER:{value.hex()}")
    return "\n".join(lines) + "\n"


def _make_certificate(workdir: Path, value: bytes | None) -> tuple[Path, Path]:
    config = workdir / "cert.cnf"
    key = workdir / "key.pem"
    cert = workdir / "cert.pem"
    config.write_text(_certificate_config(value), encoding="ascii")
    _run(
        [
            "openssl", "req", "-x509", "-config", str(config),
            "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
            "-keyout", str(key), "-out", str(cert), "-days", "30", "-sha256",
        ],
        "openssl req (making the certificate)",
    )
    return key, cert


def make_tagged_copy(
    src: str | os.PathLike,
    dst: str | os.PathLike,
    tag: bytes | None,
    workdir: str | os.PathLike | None = None,
    *,
    terminate: bool = True,
) -> None:
    """Sign src into dst with a fresh self-signed certificate carrying tag (None: no tag extension).

    With terminate (the default) the extension holds tag + b"\\0", and tag must not contain a zero
    byte. With terminate=False the extension holds exactly tag, for fixtures the launcher should
    refuse (no terminator, inner zeros). Key, certificate and openssl config are kept in workdir
    when one is given (so a caller can verify against cert.pem), else in a temporary folder that is
    deleted afterwards. src is only read; dst is replaced only once signing has succeeded.
    """
    src = Path(src)
    dst = Path(dst)
    if not src.is_file():
        raise TaggingError(f"input {src} is not a file")
    if dst.exists() and dst.resolve() == src.resolve():
        raise TaggingError("input and output must be different files")
    if tag is None:
        value = None
    else:
        tag = bytes(tag)
        if terminate:
            if 0 in tag:
                raise TaggingError(
                    "tag text contains a zero byte; the terminator must be the only one"
                )
            value = tag + b"\0"
        else:
            value = tag
        if not value:
            raise TaggingError("openssl cannot write an empty extension value")

    with tempfile.TemporaryDirectory(prefix="tagged-copy-") as tmp:
        work = Path(workdir) if workdir is not None else Path(tmp)
        work.mkdir(parents=True, exist_ok=True)
        key, cert = _make_certificate(work, value)
        # osslsigncode refuses to overwrite its output, and a failed run must not leave a
        # half-written dst: sign into a fresh name beside dst, then move it into place.
        dst.parent.mkdir(parents=True, exist_ok=True)
        fd, staged_name = tempfile.mkstemp(prefix=".signing-", suffix=".exe", dir=dst.parent)
        os.close(fd)
        staged = Path(staged_name)
        staged.unlink()
        try:
            _run(
                [
                    "osslsigncode", "sign", "-certs", str(cert), "-key", str(key),
                    "-h", "sha256", "-in", str(src), "-out", str(staged),
                ],
                "osslsigncode sign",
            )
            shutil.copymode(src, staged)
            os.replace(staged, dst)
        finally:
            staged.unlink(missing_ok=True)


def _parse_args(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        description="Sign a Windows x86-64 executable with a throw-away certificate carrying a tag."
    )
    parser.add_argument("--in", dest="src", required=True, help="executable to sign (only read)")
    parser.add_argument("--out", dest="dst", required=True, help="signed copy to write")
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--tag", help="tag text (UTF-8)")
    which.add_argument("--tag-file", help="file whose bytes are the tag text")
    which.add_argument("--no-tag", action="store_true", help="sign without the tag extension")
    parser.add_argument(
        "--raw", action="store_true",
        help="put the tag bytes into the extension as they are, without the terminating zero",
    )
    parser.add_argument("--workdir", help="keep key.pem, cert.pem and cert.cnf in this folder")
    args = parser.parse_args(argv)
    if args.raw and args.no_tag:
        parser.error("--raw needs --tag or --tag-file")
    return args


def main(argv: list[str]) -> int:
    args = _parse_args(argv)
    if args.no_tag:
        tag = None
    elif args.tag is not None:
        # fsencode gives back the argument's bytes as they were passed, UTF-8 or not.
        tag = os.fsencode(args.tag)
    else:
        try:
            tag = Path(args.tag_file).read_bytes()
        except OSError as err:
            print(f"make_tagged_copy: cannot read {args.tag_file}: {err}", file=sys.stderr)
            return 1
    value_len = None if tag is None else len(tag) + (0 if args.raw else 1)
    if value_len is not None and value_len > 0xFFFF:
        print(
            "make_tagged_copy: warning: the value is longer than 65,535 bytes; "
            "the launcher does not read that length form",
            file=sys.stderr,
        )
    try:
        make_tagged_copy(args.src, args.dst, tag, args.workdir, terminate=not args.raw)
    except (TaggingError, OSError) as err:
        print(f"make_tagged_copy: {err}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
