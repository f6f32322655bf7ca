#!/usr/bin/env python3
"""Size of the Windows launcher against its download limit, by library.

    size_report.py [--jobs 4] [--top 12] [--no-build]

Builds the windows preset's launcher (build/windows), prints the size of the stripped
kovane-launcher.exe against the limit, and the bytes each library and each object adds to the
image, read from the linker map that the build writes beside the program
(kovane-launcher.exe.map). Code that link-time optimisation has moved into its own partitions
is given to the library that defines its symbol where a global symbol names it; the rest is
shown as one line of its own.
"""

from __future__ import annotations

import argparse
import re
import shutil
import subprocess
import sys
import tempfile
from collections import defaultdict
from pathlib import Path

LIMIT = 1_572_864  # 1.5 MiB
TRIPLE = "x86_64-w64-mingw32"
# Output sections that take room in the file; .bss and the debug sections do not.
FILE_SECTIONS = {".text", ".data", ".rdata", ".pdata", ".xdata", ".idata", ".tls", ".rsrc",
                 ".reloc", ".CRT", ".edata"}
LTO_UNATTRIBUTED = "(link-time optimised, symbol not global)"

# " .text  0xADDR  0xSIZE file" or the section name alone with the rest on the next line.
INPUT_LINE = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
NAME_ONLY = re.compile(r"^ (\S+)$")
CONTINUATION = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
OUTPUT_LINE = re.compile(r"^(\.\S+)\s+0x[0-9a-f]+\s+0x[0-9a-f]+")
MEMBER = re.compile(r"^(.*\.a)\((.*)\)$")


def build(root: Path, jobs: int) -> None:
    subprocess.run(["cmake", "--preset", "windows"], cwd=root, check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "windows", "--target", "kovane_launcher",
                    "--", f"-j{jobs}"], cwd=root, check=True, stdout=subprocess.DEVNULL)


def stripped_size(program: Path) -> int:
    with tempfile.TemporaryDirectory() as temp:
        copy = Path(temp) / program.name
        subprocess.run([f"{TRIPLE}-strip", "-o", str(copy), str(program)], check=True)
        return copy.stat().st_size


def input_sections(map_text: str):
    """(output section, input section, size, file) of every input section placed in the image."""
    lines = map_text.split("\n")
    start = next(i for i, line in enumerate(lines) if line.startswith("Linker script and memory map"))
    output = None
    pending = None
    for line in lines[start + 1:]:
        match = OUTPUT_LINE.match(line)
        if match:
            output = match.group(1)
            pending = None
            continue
        if line.startswith(".") and not line.startswith(". "):
            output = line.split()[0]
            pending = None
            continue
        if output not in FILE_SECTIONS:
            continue
        match = INPUT_LINE.match(line)
        if match:
            pending = None
            yield output, match.group(1), int(match.group(3), 16), match.group(4).strip()
            continue
        match = NAME_ONLY.match(line)
        if match and not line.startswith(" *"):
            pending = match.group(1)
            continue
        match = CONTINUATION.match(line)
        if match and pending is not None:
            yield output, pending, int(match.group(2), 16), match.group(3).strip()
        pending = None


def is_lto_partition(path: str) -> bool:
    return ".ltrans" in path


def archive_of(path: str) -> tuple[str, str]:
    """The library and the object inside it that `path` names."""
    match = MEMBER.match(path)
    if match:
        return Path(match.group(1)).name, match.group(2)
    name = Path(path).name
    if path.startswith("/usr/lib/gcc") or path.startswith(f"/usr/{TRIPLE}"):
        return "(toolchain start-up objects)", name
    return "(program objects)", name


def global_symbols(archives: list[str]) -> dict[str, str]:
    """Symbol name -> library, for the symbols the archives define (LTO objects included)."""
    owner: dict[str, str] = {}
    nm = shutil.which(f"{TRIPLE}-gcc-nm-posix") or f"{TRIPLE}-gcc-nm"
    for archive in archives:
        result = subprocess.run([nm, "--defined-only", "--no-sort", archive],
                                capture_output=True, text=True, check=False)
        for line in result.stdout.splitlines():
            fields = line.split()
            if len(fields) == 3 and fields[1] in "TtDdRrBbVvWw":
                owner.setdefault(fields[2], Path(archive).name)
    return owner


def symbol_of(section: str) -> str | None:
    # Function and data sections are named ".text$name", ".rdata$name", ".pdata$name"...
    return section.split("$", 1)[1] if "$" in section else None


def report(program: Path, top: int) -> None:
    map_file = program.with_name(program.name + ".map")
    text = map_file.read_text(errors="replace")
    loaded = [line[5:].strip() for line in text.splitlines() if line.startswith("LOAD ")]
    sections = list(input_sections(text))
    owners = {}
    if any(is_lto_partition(path) for _, _, _, path in sections):
        owners = global_symbols(sorted({p for p in loaded if p.endswith(".a")}))

    by_library: dict[str, int] = defaultdict(int)
    by_object: dict[tuple[str, str], int] = defaultdict(int)
    by_output: dict[str, int] = defaultdict(int)
    for output, section, size, path in sections:
        if size == 0:
            continue
        by_output[output] += size
        if is_lto_partition(path):
            symbol = symbol_of(section)
            library = owners.get(symbol, LTO_UNATTRIBUTED) if symbol else LTO_UNATTRIBUTED
            by_library[library] += size
            continue
        library, member = archive_of(path)
        by_library[library] += size
        by_object[(library, member)] += size

    size = stripped_size(program)
    verdict = "within" if size <= LIMIT else "over"
    print(f"stripped {program.name}: {size:,} bytes, limit {LIMIT:,} "
          f"({size / LIMIT:.2f} of it, {verdict} by {abs(LIMIT - size):,})")
    placed = sum(by_library.values())
    print(f"sections placed from objects: {placed:,} bytes "
          f"(headers, alignment and the linker's own tables make up the rest); by section: "
          + ", ".join(f"{name} {n:,}" for name, n in sorted(by_output.items(), key=lambda x: -x[1])))
    print()
    print(f"{'bytes':>10}  {'share':>6}  library")
    for library, n in sorted(by_library.items(), key=lambda x: -x[1])[:top]:
        print(f"{n:>10,}  {n / placed:6.1%}  {library}")
    print()
    print(f"{'bytes':>10}  object (top {top})")
    for (library, member), n in sorted(by_object.items(), key=lambda x: -x[1])[:top]:
        print(f"{n:>10,}  {library}({member})")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--jobs", type=int, default=4)
    parser.add_argument("--top", type=int, default=12)
    parser.add_argument("--no-build", action="store_true",
                        help="report on the program the last build left")
    args = parser.parse_args()
    root = Path(__file__).resolve().parent.parent
    if not args.no_build:
        build(root, args.jobs)
    report(root / "build" / "windows" / "exe" / "kovane-launcher.exe", args.top)
    return 0


if __name__ == "__main__":
    sys.exit(main())
