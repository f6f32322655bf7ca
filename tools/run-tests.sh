#!/usr/bin/env bash
# Runs every test of the project: installs what the build needs, builds the native, sanitizer
# and Windows presets, and runs their tests (the Windows ones under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

# One Wine template per test run, copied for each Windows program the tests start.
KOVANE_WINE_ROOT=$(mktemp -d "${TMPDIR:-/tmp}/kovane-wine.XXXXXX")
export KOVANE_WINE_ROOT
trap 'rm -rf "$KOVANE_WINE_ROOT"' EXIT

presets=(native native-asan windows)
for preset in "${presets[@]}"; do
    cmake --preset "$preset" -DKOVANE_WERROR=ON >/dev/null
    cmake --build --preset "$preset"
done

status=0
for preset in "${presets[@]}"; do
    echo "=== tests: $preset"
    ctest --preset "$preset" || status=1
done
exit "$status"
