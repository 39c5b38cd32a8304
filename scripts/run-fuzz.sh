#!/usr/bin/env bash
# Builds every libFuzzer target (*_fuzz) in its own build directory, with the
# libraries instrumented and AddressSanitizer + UndefinedBehaviorSanitizer on,
# then runs each for FUZZ_SECONDS (default 60), as many at once as there are
# cores, and prints the coverage each reached. Fails when a target finds a
# crash. Usage: scripts/run-fuzz.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${FUZZ_BUILD_DIR:-$here/build-fuzz}}
mkdir -p "$build" && build=$(cd "$build" && pwd)
seconds=${FUZZ_SECONDS:-60}
jobs=$(nproc)

# Only the libraries and the fuzz targets are built (ENABLE_TESTS off).
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$here" -B "$build" -DENABLE_FUZZ=ON -DENABLE_TESTS=OFF -DENABLE_ASAN=ON \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs" --target fuzz_targets

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_one() {  # target path -> $work/NAME.log, $work/NAME.rc
    local bin=$1 name
    name=$(basename "$bin")
    mkdir -p "$work/$name.corpus"
    # Seeds kept in the repository beside the target's source: tests/*/NAME_corpus.
    local seeds=()
    mapfile -t seeds < <(find "$here/tests" -type d -name "${name}_corpus")
    set +e
    mkdir -p "$build/fuzz-artifacts"
    (cd "$work" && "$bin" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name-" \
        "$work/$name.corpus" "${seeds[@]}") >"$work/$name.log" 2>&1
    echo $? >"$work/$name.rc"
}

mapfile -t targets < "$build/fuzz_targets.txt"
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets were built"; exit 1; }
running=0
for bin in "${targets[@]}"; do
    [ -n "$bin" ] || continue
    run_one "$bin" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
done
wait

failed=0
for bin in "${targets[@]}"; do
    [ -n "$bin" ] || continue
    name=$(basename "$bin")
    rc=$(cat "$work/$name.rc")
    # libFuzzer's last status line: edges covered (cov), features (ft), runs.
    last=$(grep -E '^#[0-9]+' "$work/$name.log" | tail -1 || true)
    printf 'fuzz %-16s exit %s  %s\n' "$name" "$rc" "$last"
    if [ "$rc" != 0 ]; then
        failed=1
        tail -n 60 "$work/$name.log"
    fi
done
exit $failed
