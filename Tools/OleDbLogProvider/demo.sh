#!/usr/bin/env bash
# The product as a user meets it: the sample logs queried with zellogq through
# zellogdb.dll as registered by regsvr32 in the build's private wine prefix
# (build.sh registers it before it runs this).
#
#   demo.sh WIN_BUILD_DIR EXAMPLE_LOGS_DIR [WIN32_BUILD_DIR]
#
# With the x86 build, the last step shows a 32-bit consumer reaching the
# 32-bit provider registered beside the 64-bit one.
#
# Fails when a step does not end as it should, so the test command can run it.
set -euo pipefail

WIN_DIR="$(cd "$1" && pwd)"
LOGS="$(cd "$2" && pwd)"
WIN32_DIR="${3:-}"
WINE=/usr/lib/wine/wine64
export WINEPREFIX="${WINEPREFIX:-$WIN_DIR/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

DLL="$WIN_DIR/Tools/OleDbLogProvider/zellogdb.dll"
ZELLOGQ="$WIN_DIR/Tools/zellogq/zellogq.exe"
for built in "$DLL" "$ZELLOGQ"; do
  [ -f "$built" ] || { echo "demo: $built is not built" >&2; exit 1; }
done

# Wine reaches the whole file system as drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
FOLDER="$(winpath "$LOGS")"

step() { printf '\n=== %s\n' "$*"; }

# zellogq EXPECTED_STATUS ARGS...: shows the command as a user would type it.
zellogq() {
  local expected="$1"
  shift
  local shown='$ zellogq' arg
  for arg in "$@"; do
    if [[ "$arg" =~ [[:space:]\;\*] ]]; then shown+=" \"$arg\""; else shown+=" $arg"; fi
  done
  echo "$shown"
  local status=0
  "$WINE" "$ZELLOGQ" "$@" || status=$?
  if [ "$status" != "$expected" ]; then
    echo "demo: zellogq ended with status $status, expected $expected" >&2
    exit 1
  fi
  [ "$status" = 0 ] || echo "(exit status $status)"
}

cd "$LOGS"
step "The tables: every log file in the folder"
zellogq 0 --folder "$FOLDER" tables

step "The columns of a log table and their types"
zellogq 0 --folder "$FOLDER" columns mail1-20100401.log

for log in *.log; do
  [[ "$log" == *damaged* ]] && continue
  step "The first rows of $log"
  zellogq 0 --folder "$FOLDER" "$log" --limit 5 --columns LineNr,Time,Class,Sender,Subject --max-width 16
done

step "The first rows of a damaged log: a line that cannot be read is reported, the others show"
zellogq 3 --folder "$FOLDER" mail1-20100402-damaged.log --columns LineNr,Class,Message --max-width 50

step "One table as CSV, for spreadsheets"
zellogq 0 --folder "$FOLDER" mail2-20090315.log --format csv --columns Time,Class,RelatedIP,Sender

step "A command text names the file; JSON Lines for other tools"
zellogq 0 -c "Provider=zellogdb.provider;Data Source=$FOLDER" \
  --command "SELECT * FROM mail1-20100401.log" --format jsonl --limit 3 --columns Time,Action_Reject,LineNr

step "A command that names no log file"
zellogq 1 --folder "$FOLDER" --command "SELECT * FROM nothere.log"

step "A log at a glance: events by class, severity and hour, and who was rejected most"
zellogq 0 --folder "$FOLDER" summary mail1-20100401.log

step "The same figures for scripts, as JSON Lines"
zellogq 0 --folder "$FOLDER" summary mail2-20090315.log --format jsonl

step "Many logs as one table: a pattern, and its 24th column LogFile"
zellogq 0 --folder "$FOLDER" "mail*.log" --limit 4 --columns LogFile,LineNr,Time,Class

step "All the logs at a glance: a year apart, so per day (the damaged log's lines are counted, not dropped)"
zellogq 3 --folder "$FOLDER" summary "mail*.log"

step "A column list and a filter over a pattern: April's blacklisted events from the first on (the damaged lines come through as they are)"
zellogq 3 --folder "$FOLDER" \
  --command "SELECT Time, Sender, Subject FROM mail1-201004*.log WHERE Class = 'Blacklist' AND Time >= '2010-04-01'"

if [ -n "$WIN32_DIR" ] && [ -f "$WIN32_DIR/Tools/zellogq/zellogq.exe" ]; then
  step "A 32-bit consumer: the 32-bit zellogq loads the 32-bit provider, registered beside the 64-bit one"
  ZELLOGQ="$WIN32_DIR/Tools/zellogq/zellogq.exe"
  zellogq 0 --folder "$FOLDER" tables
  zellogq 0 --folder "$FOLDER" info
fi
