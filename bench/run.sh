#!/usr/bin/env bash
# Runs the log reading benchmark natively and as a Windows program under wine,
# over the same generated log:  bench/run.sh NATIVE_RELEASE_DIR WIN_DIR [bench_logread args]
set -euo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,3p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
NATIVE_DIR="$(cd "$1" && pwd)"
WIN_DIR="$(cd "$2" && pwd)"
shift 2
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# One data folder for both runs: the native run generates the log, the Windows
# run reuses it through wine's Z: drive.
DATA_DIR="$NATIVE_DIR/bench-data"
mkdir -p "$DATA_DIR"
WIN_DATA_DIR="Z:$(printf '%s' "$DATA_DIR" | tr '/' '\\')"

echo "==> bench_logread (native, $(basename "$NATIVE_DIR"))"
"$NATIVE_DIR/bench/bench_logread" --dir "$DATA_DIR" "$@"

echo
echo "==> bench_logread.exe (Windows, under wine)"
"$ROOT/cmake/wine-run.sh" "$WIN_DIR/wineprefix" "$WIN_DIR/bench/bench_logread.exe" --dir "$WIN_DATA_DIR" "$@"

echo
echo "==> bench_rowset.exe (Windows, under wine)"
"$ROOT/cmake/wine-run.sh" "$WIN_DIR/wineprefix" "$WIN_DIR/bench/bench_rowset.exe"

echo
echo "==> bench_provider.exe (Windows, under wine, through zellogdb.dll)"
WIN_DLL="Z:$(printf '%s' "$WIN_DIR/Tools/OleDbLogProvider/zellogdb.dll" | tr '/' '\\')"
"$ROOT/cmake/wine-run.sh" "$WIN_DIR/wineprefix" "$WIN_DIR/bench/bench_provider.exe" --dll "$WIN_DLL" --dir "$WIN_DATA_DIR"
