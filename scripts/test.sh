#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/e2e/install.sh
scripts/build.sh
cd "${TESSALY_BUILD_DIR:-build}"
ctest --output-on-failure -j "$(nproc)"
