#!/usr/bin/env bash
# Downloads what an NZB lists from a news server on loopback with nzbget, and
# says whether nzbget judged the download good (its exit code does not tell).
#
#   nzbget-fetch.sh WORK PORT NZB [unpack]   files land in WORK/dst/<nzb name>/
# With "unpack", damaged or missing files are repaired from the PAR2 files and
# the RAR set is unpacked (then deleted). Exit 0 only when nzbget reports
# SUCCESS and no CRC error.
set -euo pipefail
work=${1:?work folder}
port=${2:?port}
nzb=${3:?nzb file}
unpack=no
[ "${4:-}" = unpack ] && unpack=yes
name=$(basename "$nzb" .nzb)
mkdir -p "$work/scripts"
rm -rf "$work/queue" "$work/tmp" "$work/inter" "$work/dst/$name" "$work/status"

cat > "$work/nzbget.conf" <<CONF
MainDir=$work
DestDir=\${MainDir}/dst
InterDir=\${MainDir}/inter
NzbDir=\${MainDir}/nzb
QueueDir=\${MainDir}/queue
TempDir=\${MainDir}/tmp
ScriptDir=\${MainDir}/scripts
LockFile=\${MainDir}/nzbget.lock
LogFile=\${MainDir}/nzbget.log
WebDir=
ConfigTemplate=
Server1.Active=yes
Server1.Name=test
Server1.Level=0
Server1.Host=127.0.0.1
Server1.Port=$port
Server1.Encryption=no
Server1.Connections=4
Server1.JoinGroup=no
Server1.IpVersion=ipv4
ControlIP=127.0.0.1
ControlPort=$((port + 7))
ControlUsername=test
ControlPassword=test
UpdateCheck=none
DaemonUsername=root
AppendCategoryDir=no
NzbDirInterval=0
DupeCheck=no
FlushQueue=yes
ContinuePartial=no
ArticleCache=0
DirectWrite=no
FileNaming=nzb
ReorderFiles=no
DiskSpace=0
KeepHistory=1
ArticleRetries=2
ArticleInterval=1
ArticleTimeout=30
WriteLog=append
OutputMode=loggable
CrcCheck=yes
ParCheck=auto
ParRepair=yes
HealthCheck=none
Unpack=$unpack
UnpackCleanupDisk=yes
UnrarCmd=unrar
DirectUnpack=no
Extensions=Status.sh
ScriptOrder=Status.sh
CONF
cat > "$work/scripts/Status.sh" <<'SH'
#!/bin/sh
##############################################################################
### NZBGET POST-PROCESSING SCRIPT                                          ###
# Writes the download's status for the test.
### NZBGET POST-PROCESSING SCRIPT                                          ###
##############################################################################
mkdir -p "${NZBOP_MAINDIR}/status"
env | grep -E '^NZBPP_' | sort > "${NZBOP_MAINDIR}/status/${NZBPP_NZBNAME}.env"
exit 93
SH
chmod +x "$work/scripts/Status.sh"

timeout 120 nzbget -c "$work/nzbget.conf" "$nzb" > "$work/$name.out" 2>&1 || true
status=$(sed -n 's/^NZBPP_TOTALSTATUS=//p' "$work/status/$name.env" 2>/dev/null || true)
echo "nzbget: $name TOTALSTATUS=${status:-none}"
if grep -q 'CRC-Error' "$work/$name.out"; then
  echo "nzbget: CRC error" >&2
  exit 1
fi
[ "$status" = SUCCESS ]
