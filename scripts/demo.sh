#!/usr/bin/env bash
# The main job, end to end: a private news server on loopback, a generated
# sample folder posted unattended from the command line with an NZB, the
# collection downloaded back with nzbget and compared byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/e2e/install.sh
scripts/build.sh --target tessaly-poster

demo=$(mktemp -d /tmp/tessaly-demo.XXXXXX)
port=$((12000 + RANDOM % 15000))
cleanup() { scripts/e2e/inn.sh stop "$demo" >/dev/null 2>&1 || true; }
trap cleanup EXIT

echo "== Starting a private news server on 127.0.0.1:$port"
scripts/e2e/inn.sh start "$demo" "$port" "$((port + 1))" demo demo

echo "== Making a sample folder"
mkdir -p "$demo/home" "$demo/Holiday Pics" "$demo/fetch"
head -c 2500000 /dev/urandom > "$demo/Holiday Pics/beach.jpg"
head -c 700000 /dev/urandom > "$demo/Holiday Pics/sunset.jpg"
head -c 1234 /dev/urandom > "$demo/Holiday Pics/notes.txt"
ls -l "$demo/Holiday Pics"
# A first start writes a complete settings file; then point it at the server.
TESSALY_HOME="$demo/home" env -u DISPLAY -u WAYLAND_DISPLAY build/bin/tessaly-poster /F "$demo/none" >/dev/null 2>&1 || true
sed -i -e "s/^Server=.*/Server=127.0.0.1/" -e "s/^Port=.*/Port=$port/" -e "s/^Connections=.*/Connections=4/" \
  "$demo/home/Settings.ini"

echo "== Posting it from the command line (no display needed)"
TESSALY_HOME="$demo/home" env -u DISPLAY -u WAYLAND_DISPLAY build/bin/tessaly-poster \
  /F "$demo/Holiday Pics" /H "Holiday Pics" /N "alt.binaries.test alt.binaries.misc" /Z holiday /P /C 2>&1 \
  | grep -v 'Settings.ini' || true

echo "== Downloading it back with nzbget"
scripts/e2e/nzbget-fetch.sh "$demo/fetch" "$port" "$demo/Holiday Pics/holiday.nzb"
for f in beach.jpg sunset.jpg notes.txt; do
  cmp "$demo/Holiday Pics/$f" "$demo/fetch/dst/holiday/$f"
done
echo "identical"
