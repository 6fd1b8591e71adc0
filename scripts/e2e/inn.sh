#!/usr/bin/env bash
# A private INN2 news server on loopback for the end-to-end tests.
#
#   inn.sh start ROOT PORT AUTH_PORT USER PASS   builds ROOT/inn and starts innd
#                                                plus two readers: PORT (posting
#                                                open to loopback) and AUTH_PORT
#                                                (AUTHINFO USER/PASS required)
#   inn.sh stop ROOT                             stops what start started (by pid)
#   inn.sh cancel ROOT MESSAGE-ID                removes one article from the server
#
# Everything lives under ROOT; the system's own INN files are not used.
set -euo pipefail

bin=/usr/lib/news/bin
news=news
cmd=${1:?start or stop}
root=${2:?root folder}
inn=$root/inn
pids=$root/pids

alive() { [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null; }
as_news() { setpriv --reuid="$news" --regid="$news" --init-groups env INNCONF="$inn/etc/inn.conf" HOME="$inn" "$@"; }
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
wait_port() { for _ in $(seq 1 100); do port_open "$1" && return 0; sleep 0.1; done; return 1; }

stop_one() {
  local f=$pids/$1.pid pid
  [ -s "$f" ] || return 0
  pid=$(cat "$f")
  if alive "$pid"; then
    for kid in $(ps -o pid= --ppid "$pid" 2>/dev/null); do kill -TERM "$kid" 2>/dev/null || true; done
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do alive "$pid" || break; sleep 0.1; done
    alive "$pid" && kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$f"
}

if [ "$cmd" = cancel ]; then
  id=${3:?message-id}
  id=${id#<}
  as_news "$bin/ctlinnd" -t 10 cancel "<${id%>}>" >/dev/null
  exit 0
fi

if [ "$cmd" = stop ]; then
  stop_one nnrpd-open
  stop_one nnrpd-auth
  if [ -s "$pids/innd.pid" ] && alive "$(cat "$pids/innd.pid")"; then
    as_news "$bin/ctlinnd" -t 10 shutdown "tests done" >/dev/null 2>&1 || true
    for _ in $(seq 1 50); do alive "$(cat "$pids/innd.pid")" || break; sleep 0.1; done
  fi
  stop_one innd
  exit 0
fi

port=${3:?port}
auth_port=${4:?auth port}
user=${5:?user}
pass=${6:?password}
innd_port=$((port + 2))
[ "$(id -u)" -eq 0 ] || { echo "inn.sh: needs root (runs INN as user news)" >&2; exit 1; }
[ -x "$bin/innd" ] || { echo "inn.sh: inn2 is not installed (scripts/e2e/install.sh)" >&2; exit 1; }
[ ${#inn} -lt 80 ] || { echo "inn.sh: $inn is too long for INN's sockets" >&2; exit 1; }

rm -rf "$inn"
mkdir -p "$pids"
chmod 755 "$root"
for d in etc db filter http log run tmp spool/articles spool/overview spool/incoming/tmp \
         spool/incoming/bad spool/outgoing spool/archive; do
  mkdir -p "$inn/$d"
done

cat > "$inn/etc/inn.conf" <<CONF
mta: "/bin/true %s"
organization: "Tessaly test server"
ovmethod: tradindexed
hismethod: hisv6
pathhost: tessaly-test.local
pathnews: /usr/lib/news
domain: localdomain
runasuser: $news
runasgroup: $news
bindaddress: 127.0.0.1
port: $innd_port
noreader: true
readerswhenstopped: false
maxconnections: 60
maxartsize: 10485760
localmaxartsize: 10485760
artcutoff: 10
pgpverify: false
docancels: "require-auth"
verifygroups: false
wanttrash: false
remembertrash: true
linecountfuzz: 0
wipcheck: 5
wipexpire: 10
icdsynccount: 1
enableoverview: true
storeonxref: true
wireformat: true
articlemmap: true
nnrpdcheckart: true
nnrpdloadlimit: 0
nnrpdauthsender: false
addinjectiondate: true
addinjectionpostinghost: true
checkincludedtext: false
spoolfirst: false
backoffauth: false
clienttimeout: 1800
initialtimeout: 30
logipaddr: true
status: 0
timer: 0
nicekids: 0
nicennrpd: 0
pathbin: $bin
pathcontrol: $bin/control
pathfilter: $inn/filter
pathdb: $inn/db
pathetc: $inn/etc
pathhttp: $inn/http
pathincoming: $inn/spool/incoming
pathlog: $inn/log
pathoutgoing: $inn/spool/outgoing
pathoverview: $inn/spool/overview
pathrun: $inn/run
pathspool: $inn/spool
pathtmp: $inn/tmp
patharchive: $inn/spool/archive
patharticles: $inn/spool/articles
CONF

cat > "$inn/etc/readers.conf" <<CONF
auth "loopback" {
    hosts: "127.0.0.1, ::1, localhost, stdin"
    default: "<loopback>"
}
access "loopback" {
    users: "<loopback>"
    newsgroups: "*"
    access: RPA
}
CONF
cat > "$inn/etc/readers-auth.conf" <<CONF
auth "users" {
    auth: "ckpasswd -f $inn/etc/nntp.passwd"
}
access "users" {
    users: "*"
    newsgroups: "*"
    access: RPA
}
CONF
printf '%s:%s\n' "$user" "$(openssl passwd -5 "$pass")" > "$inn/etc/nntp.passwd"
printf 'method timehash {\n    newsgroups: *\n    class: 1\n}\n' > "$inn/etc/storage.conf"
printf 'ME:*::\n' > "$inn/etc/newsfeeds"
: > "$inn/etc/incoming.conf"
printf '/remember/:11\n*:A:1:10:never\n' > "$inn/etc/expire.ctl"
printf 'cancels {\n    canlockuser:  [ ]\n    canlockadmin: [ ]\n}\n' > "$inn/etc/inn-secrets.conf"
for f in passwd.nntp moderators distributions control.ctl control.ctl.local innfeed.conf nntpsend.ctl; do
  : > "$inn/etc/$f"
done
groups="alt.binaries.test alt.binaries.misc"
{ for g in $groups control control.cancel junk; do
    y=y; case $g in control*|junk) y=n ;; esac
    echo "$g 0000000000 0000000001 $y"
  done; } | sort > "$inn/db/active"
for g in $groups; do printf '%s %s tessaly@localhost\n' "$g" "$(date +%s)"; done > "$inn/db/active.times"
for g in $groups; do printf '%s\tTest group\n' "$g"; done > "$inn/db/newsgroups"
: > "$inn/db/history"
chown -R "$news:$news" "$inn"
chmod 640 "$inn/etc/nntp.passwd" "$inn/etc/inn-secrets.conf"
(cd "$inn/db" && as_news "$bin/makedbz" -i -o -s 100000)

for p in "$port" "$auth_port" "$innd_port"; do
  port_open "$p" && { echo "inn.sh: port $p is taken" >&2; exit 1; }
done

setpriv --reuid="$news" --regid="$news" --init-groups env INNCONF="$inn/etc/inn.conf" HOME="$inn" \
  "$bin/innd" -f -u </dev/null >>"$inn/log/innd.out" 2>&1 &
echo $! > "$pids/innd.pid"
for _ in $(seq 1 100); do
  [ -S "$inn/run/nntpin" ] && port_open "$innd_port" && break
  alive "$(cat "$pids/innd.pid")" || { cat "$inn/log/innd.out" >&2; echo "inn.sh: innd died" >&2; exit 1; }
  sleep 0.1
done
[ -S "$inn/run/nntpin" ] || { echo "inn.sh: innd did not start" >&2; exit 1; }
for _ in $(seq 1 50); do
  as_news "$bin/ctlinnd" -t 10 mode 2>/dev/null | grep -q '^Server running' && break
  sleep 0.1
done
if grep -q "cant listen" "$inn/log/errlog" 2>/dev/null; then
  cat "$inn/log/errlog" >&2
  echo "inn.sh: innd could not listen on its port" >&2
  exit 1
fi

start_reader() {
  setpriv --reuid="$news" --regid="$news" --init-groups env INNCONF="$inn/etc/inn.conf" HOME="$inn" \
    "$bin/nnrpd" -D -f -n -4 127.0.0.1 -p "$2" -c "$3" </dev/null >>"$inn/log/$1.out" 2>&1 &
  echo $! > "$pids/$1.pid"
  wait_port "$2" || { echo "inn.sh: $1 did not listen on $2" >&2; exit 1; }
}
start_reader nnrpd-open "$port" "$inn/etc/readers.conf"
start_reader nnrpd-auth "$auth_port" "$inn/etc/readers-auth.conf"
# Ready means: an article posted to the test group is accepted.
ready=0
for _ in $(seq 1 50); do
  if python3 - "$port" <<'PY'
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=10)
f = s.makefile("rb")
def reply():
    return f.readline().decode(errors="replace")
if not reply().startswith("200"):
    sys.exit(1)
s.sendall(b"POST\r\n")
if not reply().startswith("340"):
    sys.exit(1)
mid = "<ready.%d.%f@tessaly-test.local>" % (int(time.time()), time.time())
s.sendall(("From: ready@example.org\r\nNewsgroups: alt.binaries.test\r\nSubject: ready\r\n"
           "Message-ID: %s\r\n\r\nready\r\n.\r\n" % mid).encode())
r = reply()
ok = r.startswith("240")
if not ok:
    sys.stderr.write("inn.sh: post answered: " + r)
s.close()
sys.exit(0 if ok else 1)
PY
  then ready=1; break; fi
  sleep 0.2
done
if [ $ready != 1 ]; then
  echo "inn.sh: the news server does not accept posts" >&2
  tail -n 20 "$inn"/log/* >&2 2>/dev/null || true
  cat "$inn/db/active" >&2
  exit 1
fi
echo "inn.sh: news server on 127.0.0.1:$port (open) and :$auth_port (AUTHINFO)"
