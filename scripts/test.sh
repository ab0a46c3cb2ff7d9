#!/usr/bin/env bash
# Runs every test: setup, the native build with its unit tests (under AddressSanitizer and
# UndefinedBehaviorSanitizer), the fuzz targets for a bounded time, the Windows build, its
# unit tests under Wine and the Wine integration tests. Ends with "N passed, N failed".
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
B=${TOVIK_BUILD_DIR:-$top/build}
FUZZ_SECONDS=${TOVIK_FUZZ_SECONDS:-60}
JOBS=${TOVIK_JOBS:-$(nproc)}
mkdir -p "$B"
LOG=$B/logs
mkdir -p "$LOG"

passed=0
failed=0
t_start=$(date +%s)
stage() { echo; echo "== $* ($(( $(date +%s) - t_start )) s)"; }
count() { passed=$((passed + $1)); failed=$((failed + $2)); }
finish() {
  echo
  echo "total time $(( $(date +%s) - t_start )) s"
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
  exit $?
}
# Counts from GoogleTest's summary; a run that died before it counts as one failure.
gtest_counts() {  # gtest_counts <log> <exit code>
  local p f
  p=$(grep -oE '\[  PASSED  \] [0-9]+ test' "$1" | grep -oE '[0-9]+' | awk '{s+=$1} END {print s+0}')
  f=$(grep -oE '\[  FAILED  \] [0-9]+ test' "$1" | grep -oE '[0-9]+' | awk '{s+=$1} END {print s+0}')
  if [ "$2" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
  echo "$p $f"
}

stage "setup"
if ! DEPS=$(bash scripts/setup.sh | tail -n 1) || [ ! -d "$DEPS" ]; then
  echo "setup failed"; count 0 1; finish
fi
echo "Windows libraries: $DEPS"

stage "native build"
if cmake -S . -B "$B/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOVIK_SANITIZE=ON -DTOVIK_BENCH=ON >"$LOG/native-cmake.log" 2>&1 \
   && ninja -C "$B/native" -j"$JOBS" >"$LOG/native-build.log" 2>&1; then
  stage "native unit tests (ctest)"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$B/native" -V >"$LOG/native-tests.log" 2>&1
  rc=$?
  grep -E '\[  FAILED  \]|runtime error|ERROR: AddressSanitizer|ERROR: LeakSanitizer' "$LOG/native-tests.log" | head -40
  read -r p f < <(gtest_counts "$LOG/native-tests.log" $rc)
  echo "native unit tests: $p passed, $f failed"
  count "$p" "$f"
else
  tail -n 40 "$LOG"/native-*.log; echo "native build failed"; count 0 1
fi

stage "fuzz targets (${FUZZ_SECONDS} s each)"
if ls tests/fuzz/*.cpp >/dev/null 2>&1; then
  if CC=clang CXX=clang++ cmake -S . -B "$B/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVIK_FUZZ=ON \
        -DTOVIK_SANITIZE=ON -DTOVIK_BENCH=OFF >"$LOG/fuzz-cmake.log" 2>&1 \
     && ninja -C "$B/fuzz" -j"$JOBS" $(for f in tests/fuzz/*.cpp; do basename "$f" .cpp; done) >"$LOG/fuzz-build.log" 2>&1; then
    for src in tests/fuzz/*.cpp; do
      name=$(basename "$src" .cpp)
      corpus=$B/fuzz/corpus-$name
      mkdir -p "$corpus"
      seeds=tests/fuzz/corpus/$name
      [ -d "$seeds" ] || seeds=""
      ASAN_OPTIONS=detect_leaks=1 "$B/fuzz/bin/$name" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$corpus" $seeds >"$LOG/fuzz-$name.log" 2>&1
      rc=$?
      runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$LOG/fuzz-$name.log" | grep -oE '[0-9]+$')
      if [ $rc -eq 0 ]; then
        echo "PASS fuzz $name: ${runs:-?} executions, no crash or leak"; count 1 0
      else
        echo "FAIL fuzz $name (exit $rc)"; grep -E 'ERROR|SUMMARY|Test unit written' "$LOG/fuzz-$name.log" | head; count 0 1
      fi
    done
  else
    tail -n 30 "$LOG"/fuzz-*.log; echo "fuzz build failed"; count 0 1
  fi
fi

stage "Windows build"
if cmake -S . -B "$B/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTOVIK_DEPS_DIR="$DEPS" \
      -DCMAKE_BUILD_TYPE=Release >"$LOG/win-cmake.log" 2>&1 \
   && ninja -C "$B/win" -j"$JOBS" all dist >"$LOG/win-build.log" 2>&1; then
  stage "Windows unit tests and integration tests under Wine"
  rm -f "$B/wine/counts"
  python3 tests/wine/run.py --bin "$B/win/bin" --work "$B/wine" --unit "$B/win/bin/unit_tests.exe" \
    --counts "$B/wine/counts" 2>&1 | tee "$LOG/wine-tests.log" | grep -E '^(PASS|FAIL|wine )'
  if [ -f "$B/wine/counts" ]; then
    read -r p f < "$B/wine/counts"
    count "$p" "$f"
  else
    echo "the Wine test runner ended without counts"; count 0 1
  fi
  stage "the Skype stand-in against its probe under Wine"
  bash tools/skype-sim/tests/wine_e2e.sh "$B/win/bin" >"$LOG/sim-e2e.log" 2>&1
  rc=$?
  grep -E '^FAILED' "$LOG/sim-e2e.log" | head -20
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$LOG/sim-e2e.log" | tail -n 1)
  if [ -n "$line" ]; then
    echo "stand-in end to end: $line"
    p=${line%% passed*}; f=${line#*passed, }; f=${f%% failed*}
    [ "$rc" -ne 0 ] && [ "$f" -eq 0 ] && f=1
    count "$p" "$f"
  else
    echo "the stand-in's end-to-end script ended without counts (exit $rc)"; count 0 1
  fi
else
  tail -n 40 "$LOG"/win-*.log; echo "Windows build failed"; count 0 1
fi

finish
