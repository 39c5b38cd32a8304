#!/usr/bin/env bash
# Installs what is needed, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, builds the fuzz targets apart and runs each for
# FUZZ_SECONDS (default 60; 0 skips them), then runs every test (unit and
# end-to-end). Extra arguments go to ctest. Runs as root or as a user with sudo
# (only the package installation needs it).
# Then the Windows part (WINDOWS_TESTS=0 skips it): cross-builds zeb_onvif.exe
# and openh264.dll into build-win/ (BUILD_WIN), and runs the smoke test and the
# Windows build's unit tests and checks under Wine, each in a network namespace
# of its own; it prints how long each step took.
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

# The Windows program, built and tried under Wine before the Linux suite so that
# the two never share the two cores.
windows_summary=""
if [ "${WINDOWS_TESTS:-1}" != 0 ]; then
  win_dir=${BUILD_WIN:-$here/build-win}
  win_started=$(date +%s)
  win_times=""
  win_step() {  # name command...: runs a step, notes its time and result
    local name=$1 t0 rc=0
    shift
    t0=$(date +%s)
    echo "=== Windows: $name"
    "$@" || rc=$?
    win_times+="  $name: $(( $(date +%s) - t0 )) s$([ $rc = 0 ] || echo " FAILED ($rc)")"$'\n'
    return $rc
  }
  win_step "build (program, openh264.dll, checks)" \
      env BUILD_WIN="$win_dir" bash "$here/scripts/build-windows.sh" || status=1
  win_step "Wine prefix" bash "$here/tests/windows/make-prefix.sh" "$win_dir/wineprefix" || status=1
  win_step "smoke test" timeout 600 python3 "$here/tests/windows/smoke_test.py" \
      --exe "$win_dir/zeb_onvif.exe" --prefix "$win_dir/wineprefix" || status=1
  # What the Windows build registers (label windows): the platform unit tests
  # and the capture, audio and painter checks, each under Wine in a namespace.
  win_step "unit tests and checks under Wine" ctest --test-dir "$win_dir" -L windows \
      --output-on-failure || status=1
  windows_summary="Windows part: $(( $(date +%s) - win_started )) s (budget 720 s on 2 cores)"$'\n'"$win_times"
  printf '%s' "$windows_summary"
fi

ctest --output-on-failure -j"$(nproc)" "$@" || status=1
[ -z "$windows_summary" ] || printf '\n%s' "$windows_summary"
exit $status
