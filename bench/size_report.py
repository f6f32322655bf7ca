#!/usr/bin/env python3
"""Size of the Windows launcher against its download limit, by library.

    size_report.py [--jobs 4] [--top 12] [--no-build]

Builds the windows preset's launcher (build/windows), prints the size of the stripped
kovane-launcher.exe against the limit, and the bytes each library and each object adds to the
image, read from the linker map that the build writes beside the program
(kovane-launcher.exe.map). Code that link-time optimisation has moved into its own partitions
is given to the library whose objects define the symbol its section is named after; the rest
is shown on lines of their own.
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
LTO_UNATTRIBUTED = "(link-time optimised, no owner: literals, constant pools)"
LTO_AMBIGUOUS = "(link-time optimised, name defined by several libraries)"

# " .text  0xADDR  0xSIZE file" or the section name alone with the rest on the next line.
INPUT_LINE = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
NAME_ONLY = re.compile(r"^ (\S+)$")
CONTINUATION = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
OUTPUT_LINE = re.compile(r"^(\.\S+)\s+0x[0-9a-f]+\s+0x[0-9a-f]+")
MEMBER = re.compile(r"^(.*\.a)\((.*)\)$")


def build(root: Path, jobs: int) -> None:
    for command in (["cmake", "--preset", "windows"],
                    ["cmake", "--build", "--preset", "windows", "--target", "kovane_launcher",
                     "--", f"-j{jobs}"]):
        result = subprocess.run(command, cwd=root, capture_output=True, text=True)
        if result.returncode != 0:
            sys.exit(f"{' '.join(command)} failed:\n{result.stdout[-4000:]}{result.stderr[-4000:]}")


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


# One symbol of objdump's table: "[  2](sec 36)(fl 0x00)(ty   20)(scl   3) (nx 1) 0x0... name".
COFF_SYMBOL = re.compile(r"^\[\s*\d+\]\(sec\s+(-?\d+)\).*\(scl\s+(\d+)\) \(nx \d+\) 0x[0-9a-f]+ (\S+)$")


def defining_libraries(archives: list[str]) -> dict[str, set[str]]:
    """Symbol name -> the libraries that define it, static symbols included: the objects are
    built with their plain code beside the link-time one, and their COFF symbol tables list both
    (objdump reads those tables; nm would show the link-time view, globals only)."""
    owners: dict[str, set[str]] = defaultdict(set)
    for archive in archives:
        result = subprocess.run([f"{TRIPLE}-objdump", "-t", archive],
                                capture_output=True, text=True, check=False)
        for line in result.stdout.splitlines():
            match = COFF_SYMBOL.match(line)
            # Defined (a section number above 0), external (2) or static (3), not a section name.
            if match and int(match.group(1)) > 0 and match.group(2) in ("2", "3") \
                    and not match.group(3).startswith("."):
                owners[match.group(3)].add(Path(archive).name)
    return owners


# Suffixes the optimiser gives to the copies it makes: foo.constprop.0, foo.part.0, foo.cold...
CLONE_SUFFIX = re.compile(r"(\.(lto_priv|constprop|isra|part|cold|localalias)(\.\d+)?)+$")


def symbol_of(section: str) -> str | None:
    # Function and data sections are named ".text$name", ".rdata$name", ".pdata$name"...
    if "$" not in section:
        return None
    return CLONE_SUFFIX.sub("", section.split("$", 1)[1])


def owner_of(section: str, owners: dict[str, set[str]]) -> str:
    symbol = symbol_of(section)
    libraries = owners.get(symbol, set()) if symbol else set()
    if len(libraries) == 1:
        return next(iter(libraries))
    return LTO_AMBIGUOUS if libraries else LTO_UNATTRIBUTED


def report(program: Path, top: int) -> None:
    map_file = program.with_name(program.name + ".map")
    text = map_file.read_text(errors="replace")
    loaded = [line[5:].strip() for line in text.splitlines() if line.startswith("LOAD ")]
    sections = list(input_sections(text))
    owners = {}
    if any(is_lto_partition(path) for _, _, _, path in sections):
        # The map names the project's own archives relative to the build folder.
        build_dir = program.parent.parent
        owners = defining_libraries(sorted({str(build_dir / p) for p in loaded if p.endswith(".a")}))

    by_library: dict[str, int] = defaultdict(int)
    by_object: dict[tuple[str, str], int] = defaultdict(int)
    by_output: dict[str, int] = defaultdict(int)
    for output, section, size, path in sections:
        if size == 0:
            continue
        by_output[output] += size
        if is_lto_partition(path):
            by_library[owner_of(section, owners)] += size
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
