#!/usr/bin/env bash
# Installs what is needed, checks the formatting, builds the whole tree twice (plain, and with
# AddressSanitizer/UndefinedBehaviorSanitizer plus the fuzz targets), then a
# ThreadSanitizer build without the GUI, and runs the suites.
# Tests labelled netns and peer need root (network namespaces, port 161).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
status=0
started=$SECONDS
stage() { echo "== $1 (at $((SECONDS - started)) s)"; }

stage "format check"
bash scripts/check-format.sh || status=1

# Run as root, every test can start what it needs: a skipped test verified
# nothing, so it fails the run (ctest reports GoogleTest skips as skipped).
run_suite() { # build-dir, ctest args...
  local dir=$1; shift
  stage "tests of $dir $*"
  local log=$dir/ctest-output.txt
  ctest --test-dir "$dir" --output-on-failure --timeout 900 -j "$jobs" "$@" 2>&1 | tee "$log" || status=1
  local skipped
  skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log")
  if [ -n "$skipped" ] && [ "$(id -u)" -eq 0 ]; then
    echo "FAILED: run as root, yet these tests were skipped in $dir:"
    local name
    for name in $skipped; do
      echo "  $name"
      # Each skipped case with its reason, from ctest's record of the run.
      awk -v t="$name" '$0 ~ "^[0-9]+/[0-9]+ Test: " && $NF == t { on = 1; next }
        on && /^<end of output>/ { on = 0 }
        on && want { reason = $0; want = 0; next }
        on && /: Skipped$/ { want = 1; next }
        on && /^\[  SKIPPED \] [^ ]+ \(/ { print "    " $4 ": " reason }' "$dir/Testing/Temporary/LastTest.log"
    done
    status=1
  fi
}

stage "plain build"
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/plain -j "$jobs"
run_suite build/plain

stage "AddressSanitizer + UndefinedBehaviorSanitizer build (clang, with fuzz targets)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVX_SANITIZE=ON -DVX_FUZZ=ON
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_suite build/asan -LE gui
# Qt keeps process-lifetime caches (fonts, icons) that LeakSanitizer reports.
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 run_suite build/asan -L gui

stage "ThreadSanitizer build (unit, namespace and peer tests; no GUI)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVX_TSAN=ON -DVX_GUI=OFF
cmake --build build/tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1 run_suite build/tsan -L 'unit|netns|peer'

stage "done, $([ $status -eq 0 ] && echo passed || echo FAILED)"
exit $status
