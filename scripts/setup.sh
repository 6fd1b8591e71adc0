#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12. Idempotent:
# when everything is there it only checks and returns.
set -euo pipefail

packages=(
  g++ cmake ninja-build make pkg-config ccache
  qt6-base-dev libgl-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
  xvfb xauth fonts-dejavu-core dbus qt6-translations-l10n
  python3 unrtf stunnel4 openssl util-linux
  par2 zip unzip libxml2-utils
  librsvg2-bin desktop-file-utils appstream dpkg-dev fakeroot
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

# The archiver lives in Debian's non-free component. Fetch it through a
# temporary sources list and package lists of our own, so the machine's apt
# sources and lists stay as they were.
if ! command -v rar >/dev/null 2>&1 || ! command -v unrar >/dev/null 2>&1; then
  echo "setup: installing rar and unrar from Debian non-free"
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  nonfree=$(mktemp -d)
  trap 'rm -rf "$nonfree"' EXIT
  mkdir -p "$nonfree/lists/partial"
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $codename non-free" \
    > "$nonfree/sources.list"
  apt_nonfree=(-o "Dir::Etc::SourceList=$nonfree/sources.list" -o Dir::Etc::SourceParts=-
               -o "Dir::State::Lists=$nonfree/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get "${apt_nonfree[@]}" update -qq
  "${sudo[@]}" apt-get "${apt_nonfree[@]}" install -y -qq --no-install-recommends rar unrar >/dev/null
fi
