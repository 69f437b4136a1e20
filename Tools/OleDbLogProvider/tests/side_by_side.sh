#!/usr/bin/env bash
# The 64-bit and the 32-bit provider in one wine prefix, as on a Windows
# machine that has both: each registered by the regsvr32 of its own bitness,
# each view of the registry naming its own DLL under the same CLSID and ProgID,
# each consumer loading the DLL of its own bitness, and both giving the same
# columns and values for every table of the sample logs and of a generated log
# (zellogq's JSON Lines carry every value; its column list every type and size).
#
#   side_by_side.sh WIN_DIR WIN32_DIR EXAMPLE_LOGS_DIR
set -euo pipefail

WIN_DIR="$(cd "$1" && pwd)"
WIN32_DIR="$(cd "$2" && pwd)"
LOGS="$(cd "$3" && pwd)"
WINE=/usr/lib/wine/wine64
export WINEPREFIX="${WINEPREFIX:-$WIN_DIR/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
CLSID='{55EC7CF0-F505-4435-959F-3EDF8409519C}'

# On standard output too: a CI log may keep only that.
fail() {
  echo "side_by_side: $*"
  echo "side_by_side: $*" >&2
  exit 1
}
# wine_ok WHAT PROGRAM [ARGS...]: a wine program that must succeed; its exit
# status and output are reported when it does not.
wine_ok() {
  local what="$1" out status=0
  shift
  out="$("$WINE" "$@" 2>&1)" || status=$?
  [ "$status" = 0 ] || fail "$what failed with exit status $status: $(printf '%s' "$out" | tr -d '\r' | tail -5)"
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }

declare -A DLL ZELLOGQ
DLL[64]="$WIN_DIR/Tools/OleDbLogProvider/zellogdb.dll"
DLL[32]="$WIN32_DIR/Tools/OleDbLogProvider/zellogdb.dll"
ZELLOGQ[64]="$WIN_DIR/Tools/zellogq/zellogq.exe"
ZELLOGQ[32]="$WIN32_DIR/Tools/zellogq/zellogq.exe"
LOGGEN="$WIN_DIR/bench/loggen/zellog-loggen.exe"
for built in "${DLL[@]}" "${ZELLOGQ[@]}" "$LOGGEN"; do
  [ -f "$built" ] || fail "$built is not built"
done

wine_ok "registering the 64-bit DLL" regsvr32 /s "$(winpath "${DLL[64]}")"
wine_ok "registering the 32-bit DLL" 'C:\windows\syswow64\regsvr32.exe' /s "$(winpath "${DLL[32]}")"

# reg prints a key's default value as "(Default)    REG_SZ    data"; a key
# that is missing gives no text (and a message below), not a silent exit.
registered() {
  { "$WINE" reg query "$1" /ve "/reg:$2" 2>/dev/null || true; } | tr -d '\r' |
    sed -n 's/^ *([^)]*) *REG_SZ *//p'
}
for bits in 64 32; do
  path="$(registered "HKCR\\CLSID\\$CLSID\\InprocServer32" "$bits")"
  [ "${path,,}" = "$(winpath "${DLL[$bits]}" | tr 'A-Z' 'a-z')" ] ||
    fail "the $bits-bit view names '$path' as the provider, not the $bits-bit DLL"
  echo "$bits-bit view: $CLSID -> $path"
done
# A ProgID key is one for both views (as on Windows); each view's CLSID then
# leads to the DLL of its bitness.
[ "$(registered 'HKCR\zellogdb.provider\Clsid' 64)" = "$CLSID" ] ||
  fail "the ProgID zellogdb.provider does not lead to the provider's CLSID"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# query BITS NAME ARGS...: zellogq of that bitness, its output and exit status kept.
query() {
  local bits="$1" name="$2"
  shift 2
  local status=0
  "$WINE" "${ZELLOGQ[$bits]}" "$@" >"$WORK/$name.$bits" 2>"$WORK/$name.$bits.err" || status=$?
  sed -i 's/\r$//' "$WORK/$name.$bits"
  echo "$status" >>"$WORK/$name.$bits"
}
same() {
  cmp -s "$WORK/$1.64" "$WORK/$1.32" || {
    # diff's own status, 1 for any difference, must not end the script
    # (pipefail) before it has said what differed.
    diff "$WORK/$1.64" "$WORK/$1.32" | head -20 >&2 || true
    # A query that failed says why only on its standard error.
    local bits
    for bits in 64 32; do
      if [ -s "$WORK/$1.$bits.err" ]; then
        echo "the $bits-bit zellogq said: $(tr -d '\r' <"$WORK/$1.$bits.err" | tail -5)"
      fi
    done
    fail "$2 differs between the 64-bit and the 32-bit provider"
  }
}

FOLDER="$(winpath "$LOGS")"
for bits in 64 32; do
  query "$bits" info --folder "$FOLDER" info --format csv
  grep -q "^Provider Name,zellogdb.dll\$" "$WORK/info.$bits" || fail "the $bits-bit consumer names no zellogdb.dll"
  grep -Eq "^Provider Version,[0-9]{2}\.[0-9]{2}\.[0-9]{4} \\($bits-bit\\)\$" "$WORK/info.$bits" ||
    fail "the $bits-bit consumer did not load the $bits-bit provider: $(grep 'Provider Version' "$WORK/info.$bits")"
  echo "$bits-bit consumer: $(grep '^Provider Version' "$WORK/info.$bits")"
done

GENERATED="$WORK/generated"
mkdir "$GENERATED"
wine_ok "generating a log" "$LOGGEN" --size 4M --seed 20 --malformed 3 "$(winpath "$GENERATED/generated.log")"

for folder in "$LOGS" "$GENERATED"; do
  FOLDER="$(winpath "$folder")"
  for bits in 64 32; do query "$bits" tables --folder "$FOLDER" tables --format csv; done
  same tables "the table list of $folder"
  tables="$(sed -n '2,$p' "$WORK/tables.64" | sed '$d' | cut -d, -f1)"
  [ -n "$tables" ] || fail "no tables in $folder"
  for table in $tables; do
    for bits in 64 32; do
      query "$bits" columns --folder "$FOLDER" columns "$table" --format csv
      query "$bits" rows --folder "$FOLDER" "$table" --format jsonl
    done
    same columns "the columns of $table"
    same rows "the rows of $table"
    echo "$table: $(($(wc -l <"$WORK/rows.64") - 1)) rows alike"
  done
done
