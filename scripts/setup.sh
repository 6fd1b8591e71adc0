#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12. Idempotent:
# when everything is there it only checks and returns.
set -euo pipefail

packages=(
  g++ cmake ninja-build make pkg-config ccache
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
  xvfb xauth fonts-dejavu-core dbus
  python3 python3-yenc unrtf stunnel4 openssl util-linux
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
