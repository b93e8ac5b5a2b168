#!/bin/sh
# Runs a Windows test program under Wine inside a lab namespace. Wine sends and resolves from
# the namespace of its wineserver, so the whole session runs inside: a copy of the build's
# prefix of its own, and a wineserver started there and ended afterwards.
# Wine has no display unless TELVARIO_DISPLAY names one (tests/with-xvfb.sh).
# Usage: wine-in-lab.sh NAMESPACE PREFIX WINEARCH LOADER PROGRAM [ARGS...]
set -eu
namespace=$1 prefix=$2 arch=$3 loader=$4
shift 4
lab_prefix="$prefix-$namespace"
[ -d "$lab_prefix" ] || cp -a "$prefix" "$lab_prefix"
# Wine's programs unrandomized (scripts/wine-loader).
WINE="$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine-loader"
export WINEPREFIX="$lab_prefix" WINEARCH="$arch" WINEDEBUG=-all LOADER="$loader" WINE
unset DISPLAY
if [ -n "${TELVARIO_DISPLAY:-}" ]; then export DISPLAY="$TELVARIO_DISPLAY"; fi
exec ip netns exec "$namespace" sh -c '
  wineserver -p 2>/dev/null || true
  "$WINE" "$LOADER" wineboot </dev/null >/dev/null 2>&1 || true
  status=0
  "$WINE" "$LOADER" "$@" || status=$?
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  exit $status' sh "$@"
