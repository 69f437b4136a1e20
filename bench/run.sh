#!/usr/bin/env bash
# Runs the log reading benchmark natively and as a Windows program under wine,
# over the same generated log, then the OLE DB paths and, when node and npm are
# there, zellogcat and DuckDB (bench/peers.sh):
#   bench/run.sh NATIVE_RELEASE_DIR WIN_DIR [bench_logread args]
set -euo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'
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

NATIVE_OUT="$DATA_DIR/bench_logread-native.txt"
WIN_OUT="$DATA_DIR/bench_logread-windows.txt"

echo "==> bench_logread (native, $(basename "$NATIVE_DIR"))"
"$NATIVE_DIR/bench/bench_logread" --dir "$DATA_DIR" "$@" | tee "$NATIVE_OUT"

echo
echo "==> bench_logread.exe (Windows, under wine)"
"$ROOT/cmake/wine-run.sh" "$WIN_DIR/wineprefix" "$WIN_DIR/bench/bench_logread.exe" --dir "$WIN_DATA_DIR" "$@" |
  tee "$WIN_OUT"

echo
echo "==> bench_rowset.exe (Windows, under wine)"
"$ROOT/cmake/wine-run.sh" "$WIN_DIR/wineprefix" "$WIN_DIR/bench/bench_rowset.exe"

echo
echo "==> bench_provider.exe (Windows, under wine, through zellogdb.dll)"
WIN_DLL="Z:$(printf '%s' "$WIN_DIR/Tools/OleDbLogProvider/zellogdb.dll" | tr '/' '\\')"
"$ROOT/cmake/wine-run.sh" "$WIN_DIR/wineprefix" "$WIN_DIR/bench/bench_provider.exe" --dll "$WIN_DLL" --dir "$WIN_DATA_DIR"

# The seconds of a pass as bench_logread printed it.
seconds_of() { awk -v pass="$1" 'index($0, pass) == 1 { print $2; exit }' "$2"; }
native_read="$(seconds_of TLogFileReader::ReadRecord "$NATIVE_OUT")"
windows_read="$(seconds_of TLogFileReader::ReadRecord "$WIN_OUT")"
echo
echo "==> ReadRecord, Windows build under wine against the native build, same log and run"
awk -v n="$native_read" -v w="$windows_read" 'BEGIN { printf "native %.3f s, Windows %.3f s: Windows runs at %.2f of native\n", n, w, n / w }'

echo
LOG="$(sed -n 's/^log: \(.*\) ([0-9.]* MiB.*/\1/p' "$NATIVE_OUT" | head -n 1)"
if command -v node >/dev/null 2>&1 && command -v npm >/dev/null 2>&1; then
  echo "==> zellogcat and DuckDB (bench/peers.sh)"
  ZELLOG_WIN_DIR="$WIN_DIR" bash "$ROOT/bench/peers.sh" "$NATIVE_DIR" "$LOG"
else
  echo "==> zellogcat and DuckDB skipped: node and npm are needed (Debian: apt-get install nodejs npm)"
fi
