#!/usr/bin/env bash
# The launcher's main job end to end: builds the Windows launcher, starts a local installer
# configuration service and setup server over HTTPS with a certificate authority made for the
# run, makes a signed copy tagged with their addresses and that authority as its extra root,
# and runs it under Wine (with a virtual display for its dialogs). Pass "/S" for a silent run.
# The setup program it downloads is a test program that exits with 42 (43 when given "/S").
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/install-deps.sh
cmake --preset windows >/dev/null
# Only what the demo runs: the launcher, the runner that reads its exit code, the setup program.
cmake --build --preset windows --target kovane_launcher exit_code_runner fake_setup

work=$(mktemp -d "${TMPDIR:-/tmp}/kovane-demo.XXXXXX")
export KOVANE_WINE_ROOT=$work/wine
server_pid=
cleanup() {
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

windows_path() { local p; p=$(realpath "$1"); printf 'Z:%s' "${p//\//\\}"; }

python3 tests/servers/installer_services.py --setup build/windows/tests/fake_setup.exe \
    --tls-dir "$work/certs" >"$work/port" 2>"$work/requests.log" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(head -n 1 "$work/port")
[ -n "$port" ] || { echo "demo: the local services did not start" >&2; cat "$work/requests.log" >&2; exit 1; }
base=https://127.0.0.1:$port

tag=$(python3 -c 'import json, sys
print(json.dumps({"ca": open(sys.argv[1]).read(), "config_url": sys.argv[2] + "/config",
                  "installer_url": sys.argv[2] + "/kov-latest-setup.exe"}))' "$work/certs/ca.pem" "$base")
python3 tools/make_tagged_copy.py --in build/windows/exe/kovane-launcher.exe \
    --out "$work/kovane-launcher.exe" --tag "$tag"
echo "tag: $tag"

printf '"%s"%s' "$(windows_path "$work/kovane-launcher.exe")" "${1:+ $1}" >"$work/command_line"
: >"$work/exit_code"
"$root/tools/wine-run" --display --prefix "$work/prefix" build/windows/tests/exit_code_runner.exe \
    "$(windows_path "$work/command_line")" "$(windows_path "$work/exit_code")" \
    2>"$work/stderr" || true

code=$(cat "$work/exit_code")
printf 'launcher exit code: %s (0x%08X)\n' "${code:-none}" "${code:-0}"
echo "launcher standard error:"
sed 's/^/  /' "$work/stderr"
echo "requests the services received:"
sed 's/^/  /' "$work/requests.log"
stored=$(find "$work/prefix/drive_c/users" -path '*/kovane-console/installer_config.json' 2>/dev/null | head -n 1)
if [ -n "$stored" ]; then
    echo "stored configuration (${stored#"$work/prefix/"}):"
    printf '  %s\n' "$(cat "$stored")"
else
    echo "no configuration was stored"
fi
