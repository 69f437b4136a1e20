#!/usr/bin/env bash
# DuckDB beside zellogcat and the log reader, over one generated log:
#   bench/peers.sh NATIVE_RELEASE_DIR LOG [THREADS [REPEAT]]
# Installs @duckdb/node-api from the npm registry under build/peers on first
# use (nothing of it is committed). A benchmark: no test depends on it.
set -euo pipefail

if [ $# -lt 2 ]; then
  sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
NATIVE_DIR="$(cd "$1" && pwd)"
LOG="$2"
THREADS="${3:-$(nproc 2>/dev/null || echo 2)}"
REPEAT="${4:-3}"
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PEERS_DIR="$ROOT/build/peers"

for tool in node npm; do
  command -v "$tool" >/dev/null 2>&1 || { echo "peers: $tool is missing (Debian: apt-get install nodejs npm)" >&2; exit 1; }
done
if [ ! -d "$PEERS_DIR/node_modules/@duckdb/node-api" ]; then
  mkdir -p "$PEERS_DIR"
  echo "==> installing @duckdb/node-api under $PEERS_DIR"
  npm install --prefix "$PEERS_DIR" --no-audit --no-fund --loglevel=error @duckdb/node-api </dev/null
fi

# With ZELLOG_WIN_DIR set to a Windows build tree whose wine prefix is set up,
# its zellogcat.exe runs beside the native one.
WINE_ARGS=()
if [ -n "${ZELLOG_WIN_DIR:-}" ] && [ -f "$ZELLOG_WIN_DIR/Tools/zellogcat/zellogcat.exe" ]; then
  WINE_ARGS=(--wine-run "$ROOT/cmake/wine-run.sh" --wine-prefix "$(cd "$ZELLOG_WIN_DIR" && pwd)/wineprefix"
             --zellogcat-exe "$(cd "$ZELLOG_WIN_DIR" && pwd)/Tools/zellogcat/zellogcat.exe")
fi

ZELLOG_PEERS_DIR="$PEERS_DIR" node "$ROOT/bench/peers.mjs" --log "$LOG" \
  --zellogcat "$NATIVE_DIR/Tools/zellogcat/zellogcat" --bench-logread "$NATIVE_DIR/bench/bench_logread" \
  --threads "$THREADS" --repeat "$REPEAT" "${WINE_ARGS[@]}"
