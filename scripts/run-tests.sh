#!/usr/bin/env bash
# Installs what is needed, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, builds the fuzz targets apart and runs each for
# FUZZ_SECONDS (default 60; 0 skips them), then runs every test (unit and
# end-to-end). Extra arguments go to ctest. Runs as root or as a user with sudo
# (only the package installation needs it).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh
build=${BUILD_DIR:-build-test}
cmake -S . -B "$build" -DENABLE_ASAN=ON -DENABLE_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"
cd "$build"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
# The fuzzers first, so that the test runner's summary closes the output.
if [ "${FUZZ_SECONDS:-60}" != 0 ]; then
  (cd "$here" && bash scripts/run-fuzz.sh "${FUZZ_BUILD_DIR:-build-fuzz}") || status=1
fi
ctest --output-on-failure -j"$(nproc)" "$@" || status=1
exit $status
