#!/bin/bash
# The Windows package as people use it, in a 64-bit Wine prefix of the test's own: unpacked,
# install.cmd run by the 64-bit cmd, both examples run by the 64-bit cscript and, where 32-bit
# programs run, by the 32-bit one, then uninstall.cmd, after which neither registry view holds
# the class, its ProgIDs, its interface or its type library. Given the Linux client, the
# installed client and component measure both ways against its measurement server.
# Usage: windows_package_test.sh ZIP [PREFIX_TO_COPY] [LINUX_CLIENT]
set -euo pipefail
zip=$(realpath "$1")
work=$(mktemp -d)
server=
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  [ -z "$server" ] || kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all
unset DISPLAY
# Wine's programs unrandomized (scripts/wine-loader).
wine=("$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine-loader" /usr/lib/wine/wine64)
fail() { echo "windows package: $*" >&2; exit 1; }

if [ -n "${2:-}" ] && [ -f "$2/system.reg" ]; then
  cp -a "$2" "$WINEPREFIX"
else
  "${wine[@]}" wineboot -i >/dev/null 2>&1 || true
fi
wineserver -p 2>/dev/null || true
"${wine[@]}" wineboot </dev/null >/dev/null 2>&1 || true

folder="$work/Telvario"
/usr/bin/python3 -m zipfile -e "$zip" "$folder"
for file in x86/Telvario.DLL x86/telvario.exe x64/Telvario.DLL x64/telvario.exe \
  examples/measure.vbs examples/measure.js examples/latency.vbs examples/progress.vbs README.txt install.cmd uninstall.cmd; do
  [ -f "$folder/$file" ] || fail "the archive lacks $file"
done
windows_folder="Z:${folder//\//\\}"

echo "== install.cmd"
"${wine[@]}" cmd /c "$windows_folder\\install.cmd" || fail "install.cmd failed"

run_examples() {  # CSCRIPT
  for example in measure.js measure.vbs; do
    output=$("${wine[@]}" "$1" //nologo "$windows_folder\\examples\\$example" 127.0.0.1 2>&1) ||
      fail "$example under $1 exited with $?: $output"
    printf '%s\n' "$output" | grep -q '^TELVARIO-EXAMPLE-DONE failures=0' ||
      fail "$example under $1 did not end without failures: $output"
    echo "$example under $1: done, no failures"
  done
}
run_examples 'C:\windows\system32\cscript.exe'
if "${wine[@]}" 'C:\windows\syswow64\cmd.exe' /c exit 0 >/dev/null 2>&1; then
  run_examples 'C:\windows\syswow64\cscript.exe'
else
  echo "32-bit programs do not run here: the examples ran under the 64-bit cscript only"
fi
version=$("${wine[@]}" "$windows_folder\\x64\\telvario.exe" --version | tr -d '\r')
[ "$version" = "telvario 1.0.0.4" ] || fail "telvario.exe --version gave '$version'"

# The measurement server of the Linux client, as a Windows machine measures against it.
if [ -n "${3:-}" ]; then
  "$3" serve --listen 127.0.0.1:0 --max-connections 64 >"$work/serve.out" 2>&1 &
  server=$!
  for _ in $(seq 100); do
    grep -q 'listening on' "$work/serve.out" && break
    sleep 0.1
  done
  base=$(sed -n 's|.*listening on \(http://[^ ]*\)/$|\1|p' "$work/serve.out" | head -n 1)
  [ -n "$base" ] || fail "telvario serve did not start: $(cat "$work/serve.out")"
  # Both ways through the component; the client's --yes answers the box that asks before an
  # upload, which Wine shows only on a display: a session of its own opened on one.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  output=$("$(dirname "$0")/../with-xvfb.sh" sh -c 'DISPLAY=$TELVARIO_DISPLAY "$@"' - \
    "${wine[@]}" "$windows_folder\\x64\\telvario.exe" throughput "$base/large" \
    --upload "$base/upload" --streams 2 --duration 2 --yes --json 2>/dev/null | tr -d '\r') ||
    fail "throughput against telvario serve exited with $?: $output"
  printf '%s\n' "$output" | /usr/bin/python3 -c '
import json, sys
run = json.load(sys.stdin)
assert run["Download"] > 0 and run["DownloadBytes"] > 0, run
assert run["Upload"] > 0 and run["UploadBytes"] > 0, run
' || fail "throughput against telvario serve: $output"
  kill "$server"
  wait "$server" 2>/dev/null || true
  server=
  grep -q 'stopped after .* [1-9][0-9]* downloads .* [1-9][0-9]* uploads' "$work/serve.out" ||
    fail "telvario serve did not count the downloads and uploads: $(cat "$work/serve.out")"
  echo "telvario.exe throughput --yes against telvario serve: both ways measured"
fi

keys=('HKEY_CLASSES_ROOT\CLSID\{7F3A2C1E-5B9E-4D62-8A47-C1E0B59D3F21}'
  'HKEY_CLASSES_ROOT\Telvario.Sonde' 'HKEY_CLASSES_ROOT\Telvario.Sonde.1'
  'HKEY_CLASSES_ROOT\TypeLib\{7F3A2C11-5B9E-4D62-8A47-C1E0B59D3F21}'
  'HKEY_CLASSES_ROOT\Interface\{7F3A2C1D-5B9E-4D62-8A47-C1E0B59D3F21}')
for key in "${keys[@]}"; do
  "${wine[@]}" reg query "$key" /reg:64 >/dev/null 2>&1 || fail "$key is not registered"
done

echo "== uninstall.cmd"
"${wine[@]}" cmd /c "$windows_folder\\uninstall.cmd" || fail "uninstall.cmd failed"
for view in 32 64; do
  for key in "${keys[@]}" 'HKEY_LOCAL_MACHINE\SOFTWARE\Telvario'; do
    if "${wine[@]}" reg query "$key" "/reg:$view" >/dev/null 2>&1; then
      fail "$key is left in the $view-bit view"
    fi
  done
done
# A registration that fails is reported, with a failing exit status.
rm "$folder/x64/Telvario.DLL"
if "${wine[@]}" cmd /c "$windows_folder\\install.cmd"; then
  fail "install.cmd succeeded without its 64-bit component"
fi
echo "windows package: installed, used and removed; nothing left in either view"
