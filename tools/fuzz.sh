#!/usr/bin/env bash
# Builds one libFuzzer target of tests/fuzz with clang (address, undefined-behaviour and leak
# checks) and fuzzes it for a bounded time.
#
#   tools/fuzz.sh TARGET [SECONDS] [extra libFuzzer options...]
#   tools/fuzz.sh --list
#
# TARGET is a name given to kov_fuzz_target in tests/fuzz/CMakeLists.txt (json_reader, cert_tag,
# ...). The run starts from the committed seeds (tests/fuzz/corpus/TARGET) and regression inputs
# (tests/fuzz/regressions/TARGET) and keeps what it learns in build/fuzz/corpus/TARGET, reused by
# the next run; a finding is written to build/fuzz/artifacts/TARGET/. Copy a finding, once
# fixed, to tests/fuzz/regressions/TARGET/: the replay test then runs it on every test run.
#
# Needs clang 16 (tools/install-deps.sh installs it): libstdc++ 12's <expected> relies on
# conditionally trivial destructors, which older clang lacks; clang 16 has them but announces an
# older concepts level, so the macro that <expected> tests is raised by hand.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/fuzz
if [[ ${1:-} == --list ]]; then
    sed -n 's/^kov_fuzz_target(\([a-z_0-9]*\).*/\1/p' tests/fuzz/CMakeLists.txt
    exit 0
fi
target=${1:?usage: tools/fuzz.sh TARGET [SECONDS] [libFuzzer options...] (or --list)}
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
if ! grep -q "^kov_fuzz_target($target " tests/fuzz/CMakeLists.txt; then
    echo "fuzz.sh: no target $target; the targets are:" >&2
    "$0" --list >&2
    exit 2
fi

CC=${CC:-clang-16}
CXX=${CXX:-clang++-16}
for compiler in "$CC" "$CXX"; do
    if ! command -v "$compiler" >/dev/null; then
        echo "fuzz.sh: $compiler not found (run tools/install-deps.sh, or on Debian:" \
             "apt-get install clang-16 libclang-rt-16-dev)" >&2
        exit 1
    fi
done

# Everything is instrumented for coverage and the sanitizers; only the targets link libFuzzer.
flags="-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined"
flags+=" -fno-sanitize-recover=all -D__cpp_concepts=202002L"
flags+=" -Wno-builtin-macro-redefined -Wno-macro-redefined"
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DKOVANE_FUZZ=ON \
    -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >"$build.configure.log" 2>&1 ||
    { cat "$build.configure.log" >&2; exit 1; }
cmake --build "$build" --target "${target}_fuzz" -- -j"${FUZZ_JOBS:-4}"

corpus=$build/corpus/$target
artifacts=$build/artifacts/$target
mkdir -p "$corpus" "$artifacts"
options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/"
         # Long enough for every size path: tags of 65,534 bytes inside a file image, and the
         # document tree's strings with storage of their own and its chunks of 64 KiB.
         -max_len=131072 -timeout=25 -rss_limit_mb=4096)
if [[ -f tests/fuzz/$target.dict ]]; then
    options+=(-dict="tests/fuzz/$target.dict")
fi
seeds=(tests/fuzz/corpus/"$target")
if [[ -d tests/fuzz/regressions/$target ]]; then
    seeds+=(tests/fuzz/regressions/"$target")
fi
# The first folder takes the new inputs; the committed ones are only read.
exec "$build/tests/fuzz/${target}_fuzz" "${options[@]}" "$@" "$corpus" "${seeds[@]}"
