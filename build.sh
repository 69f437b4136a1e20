#!/usr/bin/env bash
# One entry point for setting up, building, testing and demonstrating zellogdb.
#
#   ./build.sh demo    install what is missing, build, and query the sample logs
#   ./build.sh test    install what is missing, build every tree, run every test
#   ./build.sh dist    a release zip of the committed tree: the DLL, zellogq, zellogcat (x64 and x86), README
#
# Finer steps: deps | check | native | windows | windows32 | windows-clang | windows32-clang |
#              register | test-native | test-windows | test-windows32 | fuzz [seconds] |
#              fuzz-consumer [seconds] | bench [args] | dist
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
NATIVE_DIR="${ROOT}/build/native"
WIN_DIR="${ROOT}/build/win"
WIN_CLANG_DIR="${ROOT}/build/win-clang"
WIN32_DIR="${ROOT}/build/win32"
WIN32_CLANG_DIR="${ROOT}/build/win32-clang"
JOBS="$(nproc 2>/dev/null || echo 2)"
FUZZ_SECONDS="${ZELLOG_FUZZ_SECONDS:-60}"

# wine32 comes from the i386 architecture, which ensure_packages adds; it and
# wine64 come from the same release, so their versions match.
PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine32:i386 googletest
  clang clang-16 lld-16 libclang-rt-14-dev tzdata python3)

# Debian's wine64 package installs its loader and server here, not on PATH;
# wine32 adds the 32-bit loader beside them, which runs the 32-bit programs
# in the same (64-bit, WoW64) prefix.
WINE=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver64

log() { printf '==> %s\n' "$*"; }
# A failing step names itself on standard output, where a CI log keeps it.
set -E
trap 'log "failed with exit status $? at build.sh line $LINENO: $BASH_COMMAND"' ERR

# Wine maps file names to Unix through the locale's character set: without a
# UTF-8 locale (a bare environment has none) non-ASCII names cannot be made.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
  export LC_ALL=C.UTF-8
fi

ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture (for wine32)"
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  # An index a mirror is still syncing fails the update but may not matter:
  # the install below says whether anything needed is really missing.
  "${sudo[@]}" apt-get update -qq </dev/null || log "apt-get update reported errors; installing anyway"
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

# Every tool a full run needs, each checked the way the run will use it; a
# missing one is named, never skipped.
check_tools() {
  local missing=()
  local tool
  for tool in cmake ctest ninja clang clang++ clang-16 clang++-16 ld.lld-16 x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix \
    x86_64-w64-mingw32-windres i686-w64-mingw32-gcc-posix i686-w64-mingw32-g++-posix i686-w64-mingw32-windres; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  for tool in "$WINE" "$WINE32" "$WINESERVER"; do
    [ -x "$tool" ] || missing+=("$tool")
  done
  if command -v clang >/dev/null 2>&1; then
    local runtime
    for runtime in fuzzer asan ubsan_standalone; do
      [ -f "$(clang -print-file-name="libclang_rt.${runtime}-x86_64.a")" ] ||
        [ -f "$(clang --print-runtime-dir 2>/dev/null)/libclang_rt.${runtime}-x86_64.a" ] ||
        missing+=("libclang_rt.${runtime}-x86_64.a (clang's sanitizer and fuzzing runtime)")
    done
  fi
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=("/usr/src/googletest (GoogleTest sources)")
  [ -f /usr/share/zoneinfo/Europe/Berlin ] || missing+=("/usr/share/zoneinfo/Europe/Berlin (time zone data)")
  if [ ${#missing[@]} -ne 0 ]; then
    printf 'set-up incomplete, missing:\n' >&2
    printf '  %s\n' "${missing[@]}" >&2
    return 1
  fi
}

build_native() {
  log "native build (clang, AddressSanitizer + UBSan, libFuzzer)"
  cmake -S "$ROOT" -B "$NATIVE_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DZELLOG_SANITIZE=ON -DZELLOG_FUZZ=ON >/dev/null
  cmake --build "$NATIVE_DIR" -j "$JOBS"
}

build_windows() {
  log "Windows x64 build (mingw-w64 posix)"
  cmake -S "$ROOT" -B "$WIN_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$WIN_DIR" -j "$JOBS"
}

# The 32-bit tree, for 32-bit consumers. Its tests run in the 64-bit tree's
# prefix, where 32-bit programs see the registry's 32-bit view: both DLLs are
# registered there side by side, as on a Windows machine that has both.
# TARGETS... builds only those (the demo needs just the DLL and zellogq).
build_windows32() {
  log "Windows x86 build (mingw-w64 posix, i686)"
  cmake -S "$ROOT" -B "$WIN32_DIR" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DZELLOG_WINEPREFIX="$WIN_DIR/wineprefix" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake" >/dev/null
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  cmake --build "$WIN32_DIR" -j "$JOBS" "${targets[@]}"
}

# The same Windows tree once more with clang, warnings as errors in our own
# code: what only GCC accepts fails here (MSVC is not at hand). Built, not run.
# BUILD_DIR TOOLCHAIN
build_clang_tree() {
  cmake -S "$ROOT" -B "$1" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DZELLOG_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$2" >/dev/null
  cmake --build "$1" -j "$JOBS"
}
build_windows_clang() {
  log "Windows x64 build with clang (mingw-w64 headers, warnings as errors)"
  build_clang_tree "$WIN_CLANG_DIR" clang-mingw-w64-x86_64.cmake
}
build_windows32_clang() {
  log "Windows x86 build with clang (mingw-w64 headers, warnings as errors)"
  build_clang_tree "$WIN32_CLANG_DIR" clang-mingw-w64-i686.cmake
}

# One wineserver is kept alive for the whole run so that every test process
# starts fast; it is stopped again when this script exits.
WINE_STARTED=0
wine_env() {
  export WINEPREFIX="$WIN_DIR/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
}
wine_start() {
  # Later steps of one run share the server the first one started: a second
  # "wineserver -p" would fail, finding it running.
  [ "$WINE_STARTED" = 1 ] && return 0
  wine_env
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating wine prefix $WINEPREFIX"
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w
  fi
  # A server that an earlier run left in the prefix (a benchmark or a test
  # program run by hand) would make "wineserver -p" fail.
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w
  "$WINESERVER" -p
  # Start wine's own services now, detached from our output: started by the
  # first test instead, they would inherit ctest's pipes and keep it waiting.
  "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
  WINE_STARTED=1
}
wine_stop() {
  if [ "$WINE_STARTED" = 1 ]; then
    "$WINESERVER" -k 2>/dev/null || true
    WINE_STARTED=0
  fi
}
trap wine_stop EXIT

test_native() {
  log "native tests"
  ctest --test-dir "$NATIVE_DIR" --output-on-failure
}

test_windows() {
  wine_start
  log "Windows tests under wine"
  ctest --test-dir "$WIN_DIR" --output-on-failure
}

test_windows32() {
  wine_start
  log "Windows x86 tests under wine's 32-bit side"
  ctest --test-dir "$WIN32_DIR" --output-on-failure
}

# Both DLLs registered in one prefix, each consumer loading its own, and both
# reading the same values from the sample logs and a generated one.
test_bitness() {
  wine_start
  log "x64 and x86 side by side"
  bash "$ROOT/Tools/OleDbLogProvider/tests/side_by_side.sh" "$WIN_DIR" "$WIN32_DIR" "$ROOT/examples/logs"
}

run_fuzz() {
  local seconds="${1:-$FUZZ_SECONDS}"
  local fuzzer="$NATIVE_DIR/logs/fuzz/logline_fuzzer"
  [ -x "$fuzzer" ] || { log "fuzz target $fuzzer was not built"; return 1; }
  log "fuzzing the log reader for ${seconds}s"
  # The seeds stay as they are in the repository; what the run finds goes to
  # a corpus of the build tree.
  local corpus="$NATIVE_DIR/fuzz-corpus"
  mkdir -p "$corpus"
  local out="$NATIVE_DIR/fuzz.log"
  if ! "$fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -dict="$ROOT/logs/fuzz/logline.dict" -artifact_prefix="$NATIVE_DIR/" \
    "$corpus" "$ROOT/logs/fuzz/corpus" </dev/null >"$out" 2>&1; then
    tail -n 60 "$out"
    return 1
  fi
  grep -E '^(Done|stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb))' "$out" || true
}

# The provider driven by the consumer fuzzer for SECONDS (default 600), then
# the allocation-failure sweep over every injection point of its script.
run_fuzz_consumer() {
  local seconds="${1:-600}"
  local driver="$WIN_DIR/Tools/OleDbLogProvider/zellogdb_consumer_fuzz.exe"
  local dll="Z:$WIN_DIR/Tools/OleDbLogProvider/zellogdb_heaptest.dll"
  [ -f "$driver" ] || { log "$driver was not built"; return 1; }
  wine_start
  log "fuzzing the provider as a consumer for ${seconds}s"
  (cd "$WIN_DIR" && "$WINE" "$driver" "$dll" fuzz --seconds "$seconds" </dev/null)
  (cd "$WIN_DIR" && "$WINE" "$driver" "$dll" fuzz --seconds "$((seconds / 4 + 1))" --threads 4 </dev/null)
  log "failing every allocation of the scripted session in turn"
  (cd "$WIN_DIR" && "$WINE" "$driver" "$dll" inject --every 1 </dev/null)
}

# The provider is registered with the platform's own regsvr32 in the build's
# private wine prefix, as an installer would on Windows: the 64-bit DLL by the
# 64-bit regsvr32 and, when built, the 32-bit DLL by the 32-bit regsvr32 of
# SysWOW64, which writes the registry's 32-bit view.
register_provider() {
  local dll="$WIN_DIR/Tools/OleDbLogProvider/zellogdb.dll"
  local dll32="$WIN32_DIR/Tools/OleDbLogProvider/zellogdb.dll"
  [ -f "$dll" ] || { log "no zellogdb.dll built"; return 1; }
  log "registering zellogdb.dll in $WINEPREFIX"
  "$ROOT/cmake/wine-run.sh" "$WINEPREFIX" regsvr32 /s "Z:$dll"
  if [ -f "$dll32" ]; then
    log "registering the 32-bit zellogdb.dll beside it"
    "$ROOT/cmake/wine-run.sh" "$WINEPREFIX" 'C:\windows\syswow64\regsvr32.exe' /s "Z:$dll32"
  fi
}

run_demo() {
  wine_start
  register_provider
  if [ -f "$ROOT/Tools/OleDbLogProvider/demo.sh" ]; then
    bash "$ROOT/Tools/OleDbLogProvider/demo.sh" "$WIN_DIR" "$ROOT/examples/logs" "$WIN32_DIR"
  else
    log "zellogcat (native) over examples/logs"
    "$NATIVE_DIR/Tools/zellogcat/zellogcat" "$ROOT"/examples/logs/*.log
    log "zellogcat.exe (Windows, under wine) over examples/logs"
    "$ROOT/cmake/wine-run.sh" "$WINEPREFIX" "$WIN_DIR/Tools/zellogcat/zellogcat.exe" "$ROOT"/examples/logs/*.log
  fi
}

# The demo is part of the tests, so that it cannot rot; its output only on failure.
test_demo() {
  log "demo"
  run_demo >"$WIN_DIR/demo.log" 2>&1 || { cat "$WIN_DIR/demo.log"; return 1; }
}

# Built from the committed tree alone, in a build directory of its own, so that
# neither uncommitted edits nor stale build outputs reach a release.
build_dist() {
  local dist="$ROOT/build/dist"
  local commit
  commit="$(git -C "$ROOT" rev-parse --short HEAD)"
  [ -z "$(git -C "$ROOT" status --porcelain)" ] || log "uncommitted changes are left out of the bundle"
  rm -rf "$dist"
  mkdir -p "$dist/src"
  git -C "$ROOT" archive HEAD | tar -x -C "$dist/src"
  local arch toolchain
  for arch in x64 x86; do
    toolchain=mingw-w64-x86_64.cmake
    [ "$arch" = x86 ] && toolchain=mingw-w64-i686.cmake
    log "release build of $commit for $arch"
    cmake -S "$dist/src" -B "$dist/$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$dist/src/cmake/$toolchain" -DZELLOG_TESTS=OFF -DZELLOG_BENCH=OFF >/dev/null
    cmake --build "$dist/$arch" -j "$JOBS" --target zellogdb zellogq zellogcat
  done
  local zip="$dist/zellogdb-$commit-windows.zip"
  python3 - "$zip" "$dist" "$dist/src" <<'PY'
import os, sys, zipfile
zip_path, dist, src = sys.argv[1:]
files = {"README.md": os.path.join(src, "README.md")}
for arch in ("x64", "x86"):
    build = os.path.join(dist, arch)
    files[arch + "/zellogdb.dll"] = os.path.join(build, "Tools/OleDbLogProvider/zellogdb.dll")
    files[arch + "/zellogq.exe"] = os.path.join(build, "Tools/zellogq/zellogq.exe")
    files[arch + "/zellogcat.exe"] = os.path.join(build, "Tools/zellogcat/zellogcat.exe")
with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as bundle:
    for name, path in files.items():
        bundle.write(path, name)
PY
  log "release bundle: $zip"
}

cmd="${1:-help}"
shift || true
case "$cmd" in
  deps)         ensure_packages ;;
  check)        check_tools ;;
  native)       ensure_packages; build_native ;;
  windows)      ensure_packages; build_windows ;;
  windows32)    ensure_packages; build_windows32 ;;
  windows-clang) ensure_packages; build_windows_clang ;;
  windows32-clang) ensure_packages; build_windows32_clang ;;
  test-native)  ensure_packages; build_native; test_native ;;
  test-windows) ensure_packages; build_windows; test_windows ;;
  test-windows32) ensure_packages; build_windows32; test_windows32 ;;
  register)     ensure_packages; build_windows; build_windows32 zellogdb; wine_start; register_provider ;;
  fuzz)         ensure_packages; build_native; run_fuzz "${1:-}" ;;
  fuzz-consumer) ensure_packages; build_windows; run_fuzz_consumer "${1:-}" ;;
  bench)
    ensure_packages
    log "native release build for benchmarks"
    cmake -S "$ROOT" -B "$ROOT/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZELLOG_TESTS=OFF >/dev/null
    cmake --build "$ROOT/build/release" -j "$JOBS"
    build_windows
    wine_start
    bash "$ROOT/bench/run.sh" "$ROOT/build/release" "$WIN_DIR" "$@"
    ;;
  test)
    ensure_packages
    check_tools
    build_native
    build_windows
    build_windows32
    test_native
    run_fuzz
    test_windows
    test_windows32
    test_bitness
    test_demo
    build_windows_clang
    log "all tests passed"
    ;;
  dist)         ensure_packages; build_dist ;;
  demo)
    ensure_packages
    check_tools
    build_native
    build_windows
    build_windows32 zellogdb zellogq
    run_demo
    ;;
  *)
    sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
    [ "$cmd" = help ] || exit 2
    ;;
esac
