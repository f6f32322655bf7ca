#!/usr/bin/env bash
# Builds the JSON reader's libFuzzer target with clang (address, undefined-behaviour and leak
# checks) and runs it for a bounded time.
#
#   tools/fuzz-json.sh [SECONDS] [extra libFuzzer options...]
#
# Needs clang 16: libstdc++ 12's <expected> relies on conditionally trivial destructors, which
# clang 14 lacks. clang 16 has them but still announces the older concepts level, so the macro
# that <expected> tests is raised by hand. The corpus lives in build/fuzz/corpus and is reused.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true

CXX=${CXX:-clang++-16}
if ! command -v "$CXX" >/dev/null; then
    if [[ $(id -u) == 0 ]]; then
        apt-get install -y --no-install-recommends clang-16 libclang-rt-16-dev >/dev/null
    else
        echo "fuzz-json.sh: $CXX not found (Debian: apt-get install clang-16 libclang-rt-16-dev)" >&2
        exit 1
    fi
fi

out=build/fuzz
mkdir -p "$out/corpus"
"$CXX" -std=c++2b -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -Wno-builtin-macro-redefined -Wno-macro-redefined -D__cpp_concepts=202002L \
    -Icommon/include -Iplatform/include \
    tests/fuzz/json_reader_fuzz.cpp \
    common/src/json_reader.cpp common/src/json_describe.cpp common/src/debug_escapes.cpp \
    common/src/installer_tag.cpp common/src/fail_fast.cpp \
    common/src/json_document.cpp common/src/config_response.cpp \
    platform/src/text.cpp platform/src/system_error.cpp \
    platform/posix/standard_error.cpp platform/posix/process.cpp platform/posix/system_error.cpp \
    -o "$out/json_reader_fuzz"

# A few seeds so that the run starts from both forms and the skipper.
seed() { printf '%s' "$2" >"$out/corpus/seed-$1"; }
seed object '{"ca":null,"config_url":"http://127.0.0.1/c","installer_url":"x\u00e9\uD83D\uDE00"}'
seed array '[null,"u",null]'
seed skipped '{"x":[1.5e+3,-0,true,false,null,{"a":{"b":["\uDE00"]}}],"config_url":"u"}'
seed string '"a\"b\\c\n"'
seed answer '{"prompt":null,"x":[[{}],-1e3],"config":"c\u0000","error":"e"} '

"$out/json_reader_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -dict=tests/fuzz/json.dict "$@" \
    "$out/corpus"
