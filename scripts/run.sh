#!/usr/bin/env bash
# Sets up, builds and starts Tessaly Poster. Arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh --target tessaly-poster
scripts/install-tunnel.sh build/bin
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No graphical display found (DISPLAY is not set)." >&2
  echo "Run it from a desktop session, or under a virtual display:" >&2
  echo "    xvfb-run -a scripts/run.sh" >&2
  exit 2
fi
exec build/bin/tessaly-poster "$@"
