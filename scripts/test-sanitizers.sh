#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer
# in build-asan/ and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/e2e/install.sh
TESSALY_BUILD_DIR=build-asan TESSALY_CMAKE_ARGS="-DTESSALY_SANITIZE=ON -DTESSALY_BUILD_BENCH=OFF" scripts/build.sh
cd build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j "$(nproc)"
