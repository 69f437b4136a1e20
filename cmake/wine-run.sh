#!/bin/sh
# Runs a Windows program under wine64: wine-run.sh PREFIX PROGRAM [ARGS...]
WINEPREFIX="$1"
shift
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec /usr/lib/wine/wine64 "$@"
