#!/usr/bin/env bash
# Installs the SSL tunnel launcher into a program folder's Stunnel folder,
# with a certificate file of its own (made once).
#   scripts/install-tunnel.sh PROGRAM_FOLDER
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)/resources/stunnel/stunnel_tessaly"
dest="${1:?program folder}/Stunnel"
mkdir -p "$dest"
install -m 0755 "$src" "$dest/stunnel_tessaly"
if [ ! -s "$dest/stunnel.pem" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=tessaly-tunnel" \
    -keyout "$dest/stunnel.pem" -out "$dest/stunnel.cert.pem" >/dev/null 2>&1
  cat "$dest/stunnel.cert.pem" >> "$dest/stunnel.pem"
  rm -f "$dest/stunnel.cert.pem"
  chmod 0600 "$dest/stunnel.pem"
fi
