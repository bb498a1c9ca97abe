#!/usr/bin/env bash
# Fuzzes the datapacket reader for a fixed number of inputs and prints the figures.
# Run by hand, not in CI. Needs clang++ with libFuzzer (Debian: clang-14, libclang-rt-14-dev).
#
#   bench/run-fuzz.sh [RUNS]          RUNS defaults to 200000; each input may take at most 5 s
#
# Environment: QUINTARA_FUZZ_BUILD (build directory, default build-fuzz), FUZZ_TIMEOUT (seconds per input),
# FUZZ_MAX_LEN (longest input, bytes). Exit status: 0 when nothing was found, 1 otherwise.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-200000}
timeout=${FUZZ_TIMEOUT:-5}
max_len=${FUZZ_MAX_LEN:-8192}
build=${QUINTARA_FUZZ_BUILD:-$root/build-fuzz}
cxx=${CXX_FUZZ:-clang++}

if ! command -v "$cxx" > /dev/null; then
    echo "run-fuzz: $cxx not found (apt install clang libclang-rt-dev)" >&2
    exit 2
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
    -DQUINTARA_FUZZ=ON -DQUINTARA_BENCH=OFF > "$build.configure.log" 2>&1 ||
    { cat "$build.configure.log" >&2; exit 2; }
cmake --build "$build" -j2 --target fuzz_datapacket > "$build.build.log" 2>&1 ||
    { tail -50 "$build.build.log" >&2; exit 2; }

work=$build/fuzz-work
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
log=$work/fuzz.log

# The working corpus first (new inputs go there), then the seeds: the engine's own form and the legacy files
# that the table tests read.
start=$(date +%s.%N)
set +e
"$build/tests/fuzz/fuzz_datapacket" -runs="$runs" -timeout="$timeout" -max_len="$max_len" \
    -rss_limit_mb=2048 -print_final_stats=1 -detect_leaks=1 \
    -dict="$root/tests/fuzz/datapacket.dict" -artifact_prefix="$work/artifacts/" \
    "$work/corpus" "$root/tests/fuzz/seeds" "$root/tests/tables/data" > "$log" 2>&1
status=$?
set -e
end=$(date +%s.%N)

tried=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
[ -n "$tried" ] || tried=$(grep -oE '^(#[0-9]+)' "$log" | tail -1 | tr -d '#' || true)
speed=$(grep -oE 'stat::average_exec_per_sec: *[0-9]+' "$log" | grep -oE '[0-9]+$' || true)
corpus=$(find "$work/corpus" -type f | wc -l)

found=none
if grep -q 'ERROR: libFuzzer: timeout' "$log"; then found=hang
elif grep -qE 'ERROR: LeakSanitizer' "$log"; then found=leak
elif grep -qE 'ERROR: (AddressSanitizer|libFuzzer)|runtime error:|fuzz_datapacket: ' "$log"; then found=crash
elif [ "$status" -ne 0 ]; then found="failure (exit $status)"
fi

echo "fuzz_datapacket: datapacket reader"
printf '  inputs tried:    %s (asked for %s)\n' "${tried:-?}" "$runs"
printf '  time:            %s s\n' "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')"
printf '  inputs/s:        %s\n' "${speed:-?}"
printf '  corpus grown to: %s inputs\n' "$corpus"
printf '  per-input limit: %s s, longest input %s bytes\n' "$timeout" "$max_len"
printf '  found:           %s\n' "$found"
printf '  fuzzer exit:     %s\n' "$status"
if [ "$found" != none ]; then
    echo "  log: $log"
    ls "$work/artifacts" | sed 's/^/  artifact: /'
    grep -m1 -A15 -E 'ERROR:|runtime error:|fuzz_datapacket: ' "$log" | sed 's/^/    /'
    exit 1
fi
