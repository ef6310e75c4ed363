#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: the unit, integration and end-to-end tests, the
# same for the 32-bit Linux build (scripts/test-i386.sh), then the 64-bit tests under
# AddressSanitizer+UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer, every fuzz
# target for a bounded time, and the 32-bit Windows build under wine (scripts/test-windows.sh).
# STARLACE_EMULATE_I386=1 takes the path of a machine that runs no 32-bit programs on purpose.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc)"
fuzz_seconds="${STARLACE_FUZZ_SECONDS:-60}"

echo "== Build and test"
"$here/scripts/setup.sh" "$here/build" -DSTARLACE_WERROR=ON
ctest --test-dir "$here/build" -j"$jobs" --output-on-failure

echo "== 32-bit programs on this machine"
# Asked once: where the kernel runs no 32-bit programs, the i386 suite runs under qemu-i386 and the
# Windows tests, which need wine, are not run (the Windows build and its file checks still are).
export STARLACE_RUNS_I386=1
"$here/scripts/probe-i386.sh" || STARLACE_RUNS_I386=0

echo "== 32-bit Linux (i386): build and test"
"$here/scripts/test-i386.sh"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S "$here" -B "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DSTARLACE_WERROR=ON -DSTARLACE_BENCH=OFF \
  -DSTARLACE_SANITIZE=address,undefined >/dev/null
cmake --build "$here/build-asan" -j"$jobs"
ctest --test-dir "$here/build-asan" -j"$jobs" --output-on-failure

echo "== ThreadSanitizer (threaded tests)"
cmake -S "$here" -B "$here/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DSTARLACE_WERROR=ON -DSTARLACE_BENCH=OFF \
  -DSTARLACE_SANITIZE=thread >/dev/null
cmake --build "$here/build-tsan" -j"$jobs"
ctest --test-dir "$here/build-tsan" -j"$jobs" --output-on-failure -L threaded

echo "== Fuzz targets (${fuzz_seconds}s each)"
CC=clang CXX=clang++ cmake -S "$here" -B "$here/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTARLACE_FUZZ=ON \
  -DSTARLACE_TESTS=OFF -DSTARLACE_BENCH=OFF >/dev/null
cmake --build "$here/build-fuzz" -j"$jobs"
shopt -s nullglob
pids=()
for fuzzer in "$here"/build-fuzz/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name="$(basename "$fuzzer")"
  corpus="$here/build-fuzz/corpus-$name"
  mkdir -p "$corpus"
  seeds="$here/fuzz/seeds/${name#fuzz_}"
  echo "running $name"
  if [ -d "$seeds" ]; then
    "$fuzzer" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=1 "$corpus" "$seeds" \
      >"$here/build-fuzz/$name.log" 2>&1 &
  else
    "$fuzzer" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=1 "$corpus" \
      >"$here/build-fuzz/$name.log" 2>&1 &
  fi
  pids+=("$!:$name")
done
status=0
for entry in "${pids[@]}"; do
  pid="${entry%%:*}"; name="${entry#*:}"
  if ! wait "$pid"; then
    echo "FUZZ FAILURE: $name"; tail -n 60 "$here/build-fuzz/$name.log"; status=1
  fi
done

echo "== 32-bit Windows (mingw-w64 cross build, tests under wine where 32-bit programs run)"
"$here/scripts/test-windows.sh" || status=1
exit "$status"
