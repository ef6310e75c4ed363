#!/usr/bin/env bash
# The Windows stage of the test command: cross-builds the Windows dependencies and the program with
# mingw-w64, runs the unit and integration tests under wine, and the end-to-end tests (the Linux
# build's driver starting starlace.exe under wine). Installs what it needs (only what is missing).
# Uses the Linux build in build/ for the end-to-end driver (scripts/test.sh makes it first).
# Usage: scripts/test-windows.sh [--build-only]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build_only=0
[ "${1:-}" = "--build-only" ] && build_only=1
jobs="${STARLACE_JOBS:-$(nproc)}"
build="$here/build-windows"

# wine runs 32-bit Windows programs only where the kernel runs 32-bit programs; elsewhere the stage
# builds everything and checks the program's file, and says that its tests were not run.
if [ -z "${STARLACE_RUNS_I386:-}" ]; then
  STARLACE_RUNS_I386=1
  "$here/scripts/probe-i386.sh" || STARLACE_RUNS_I386=0
fi
[ "$STARLACE_RUNS_I386" = 0 ] && build_only=1

# The host's compiler and libraries build the data generators (the build runs no Windows program).
"$here/scripts/install-packages.sh" build-essential cmake pkg-config libpng-dev libvorbis-dev libogg-dev \
  fonts-dejavu-core file
if [ "$STARLACE_RUNS_I386" = 1 ]; then
  "$here/scripts/install-packages.sh" wine wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386 \
    xvfb xauth xdotool x11-apps util-linux
fi

echo "== Windows: dependencies"
STARLACE_JOBS="$jobs" "$here/scripts/build-windows-deps.sh" "$here/build-windows-deps"

host_e2e=""
if [ "$build_only" = 0 ]; then
  host_e2e="$here/build/tests/e2e/test_e2e"
  [ -x "$host_e2e" ] || "$here/scripts/setup.sh" "$here/build" -DSTARLACE_WERROR=ON >/dev/null
fi

echo "== Windows: build (mingw-w64)"
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/platform/windows-i686/toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DSTARLACE_WERROR=ON -DSTARLACE_BENCH=OFF -DSTARLACE_HOST_E2E="$host_e2e" >/dev/null
cmake --build "$build" -j"$jobs"
if command -v file >/dev/null; then
  file "$build/show/starlace.exe" "$build/tools/host/make_song" | sed "s|$here/||"
fi
if [ "$STARLACE_RUNS_I386" = 0 ]; then
  echo "== Windows: program checks (no wine needed)"
  ctest --test-dir "$build" -R '^windows_program$' --output-on-failure
  [ -f "$build/show/data/songs/bbb/music.ogg" ] || { echo "the build made no data folder" >&2; exit 1; }
  echo "Windows: tests under wine NOT RUN: this machine's kernel runs no 32-bit programs, so wine cannot."
  exit 0
fi
if [ "$build_only" = 1 ]; then
  echo "Built $build/show/starlace.exe"
  exit 0
fi

# One X display and one wine prefix for the tests; the end-to-end runs start their own displays.
export WINEPREFIX="$build/wine"
xvfb=""
cleanup() {
  [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
rm -f "$build/display"
exec 3>"$build/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$build/display" ] && break; sleep 0.1; done
[ -s "$build/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$build/display")"
export LP_NUM_THREADS=2

end_session() { timeout 60 wineserver -w || wineserver -k 2>/dev/null || true; }
end_session

# Every suite runs, whatever the one before it gave; the stage fails when any of them failed. A
# test that fails is run once more (its first output stays in the log): wine and the X server
# under a loaded machine are not the program under test. A skipped one is not (CTest's until-pass
# repeats only failures), and skips leave ctest's status 0.
status=0
retry=(--repeat until-pass:2 --output-on-failure)
echo "== Windows: unit tests under wine"
ctest --test-dir "$build" -LE e2e -E '^integration$' -j"$jobs" "${retry[@]}" || status=1
echo "== Windows: integration tests under wine"
ctest --test-dir "$build" -R '^integration$' "${retry[@]}" || status=1
end_session
echo "== Windows: end-to-end tests (starlace.exe under wine)"
ctest --test-dir "$build" -L e2e -j1 "${retry[@]}" || status=1
exit "$status"
