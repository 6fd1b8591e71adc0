#!/usr/bin/env bash
# Installs the news server (INN2), the downloader (nzbget) and stunnel for the
# end-to-end tests, idempotently. No service is started by the install; the
# tests run their own private server.
set -euo pipefail

packages=(inn2 nzbget stunnel4 openssl procps util-linux)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
innconfval=/usr/lib/news/bin/innconfval
if [ ${#missing[@]} -eq 0 ] && "$innconfval" pathdb >/dev/null 2>&1; then
  exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "e2e install: run as root (apt-get)" >&2; exit 1; }

# Keep package scripts from starting system daemons (a system innd on :119).
own_policy=0
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod 755 /usr/sbin/policy-rc.d
  own_policy=1
fi
trap '[ $own_policy = 1 ] && rm -f /usr/sbin/policy-rc.d; true' EXIT

# inn2's configuration step needs a domain; hosts without one get a local one.
give_inn_a_domain() {
  [ -x "$innconfval" ] || return 0
  "$innconfval" pathdb >/dev/null 2>&1 && return 0
  if grep -qE '^[#[:space:]]*domain:' /etc/news/inn.conf; then
    sed -i -E 's/^[#[:space:]]*domain:.*/domain: localdomain/' /etc/news/inn.conf
  else
    echo 'domain: localdomain' >> /etc/news/inn.conf
  fi
}

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
give_inn_a_domain
dpkg --configure -a >/dev/null 2>&1 || true
if [ ${#missing[@]} -gt 0 ]; then
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null 2>&1; then
    give_inn_a_domain
    dpkg --configure -a >/dev/null
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi
give_inn_a_domain
"$innconfval" pathdb >/dev/null
