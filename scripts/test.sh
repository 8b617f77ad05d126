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

echo "== format check"
bash scripts/check-format.sh || status=1

run_suite() { # build-dir, ctest args...
  local dir=$1; shift
  ctest --test-dir "$dir" --output-on-failure --timeout 900 -j "$jobs" "$@" || status=1
}

echo "== plain build"
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/plain -j "$jobs"
run_suite build/plain

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build (clang, with fuzz targets)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVX_SANITIZE=ON -DVX_FUZZ=ON
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_suite build/asan -LE gui
# Qt keeps process-lifetime caches (fonts, icons) that LeakSanitizer reports.
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 run_suite build/asan -L gui

echo "== ThreadSanitizer build (unit, namespace and peer tests; no GUI)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVX_TSAN=ON -DVX_GUI=OFF
cmake --build build/tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1 run_suite build/tsan -L 'unit|netns|peer'

exit $status
