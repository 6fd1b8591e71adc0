#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz/ and runs
# each one: for FUZZ_SECONDS seconds (default 20), or FUZZ_RUNS executions.
#   scripts/fuzz.sh [target ...]     targets: profile queuefile jobfile commandline language replies
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(profile queuefile jobfile commandline language replies)
if [ ! -f build-fuzz/build.ninja ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTESSALY_FUZZ=ON -DTESSALY_BUILD_TESTS=OFF \
    -DTESSALY_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# The targets write their inputs to files: in memory that is twice as fast.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
for t in "${targets[@]}"; do
  work=build-fuzz/corpus/$t
  mkdir -p "$work"
  limit=(-max_total_time="${FUZZ_SECONDS:-20}")
  [ -n "${FUZZ_RUNS:-}" ] && limit=(-runs="$FUZZ_RUNS")
  echo "== fuzz_$t ${limit[*]}"
  build-fuzz/fuzz/fuzz_$t "${limit[@]}" -max_len=65536 -print_final_stats=1 "$work" "fuzz/corpus/$t" 2>&1 \
    | grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|#[0-9]+ *DONE|==[0-9]+==ERROR|SUMMARY)' || true
  # A finding leaves a crash file and a non-zero exit status.
  if ls crash-* leak-* timeout-* >/dev/null 2>&1; then
    echo "fuzz_$t found a problem" >&2
    exit 1
  fi
done
