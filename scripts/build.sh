#!/usr/bin/env bash
# Configures (once) and builds the project in build/. Extra arguments are
# passed to the build tool (for example a target name).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${TESSALY_BUILD_DIR:-build}
if [ ! -f "$build_dir/build.ninja" ]; then
  cmake -S . -B "$build_dir" -G Ninja ${TESSALY_CMAKE_ARGS:-}
fi
cmake --build "$build_dir" -j "$(nproc)" "$@"
