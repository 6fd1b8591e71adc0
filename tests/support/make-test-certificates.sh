#!/usr/bin/env bash
# Test certificates for the TLS cases, made fresh into FOLDER:
#   ca.crt                     an authority the tests trust (SSL_CERT_FILE)
#   good.{crt,key}             for 127.0.0.1 and localhost, by that authority
#   wronghost.{crt,key}        for other.example only, by that authority
#   expired.{crt,key}          for 127.0.0.1, by that authority, over in 2020
#   selfsigned.{crt,key}       for 127.0.0.1, signed by itself
# Each *.pem holds key and certificate together (for stunnel).
set -euo pipefail
dir=${1:?folder}
mkdir -p "$dir"
cd "$dir"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out "$1" 2>/dev/null; }
cat > ca.cnf <<'CNF'
[ca]
default_ca = test_ca
[test_ca]
dir = .
database = index.txt
new_certs_dir = .
serial = serial
policy = any_name
default_md = sha256
copy_extensions = copy
unique_subject = no
[any_name]
commonName = supplied
[server]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = $ENV::SAN
CNF
: > index.txt
echo 1000 > serial
key ca.key
openssl req -x509 -key ca.key -out ca.crt -days 3650 -subj "/CN=Tessaly Test Authority" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
issue() { # name common-name subject-alt-names start end
  key "$1.key"
  openssl req -new -key "$1.key" -out "$1.csr" -subj "/CN=$2" 2>/dev/null
  SAN=$3 openssl ca -batch -config ca.cnf -extensions server -cert ca.crt -keyfile ca.key -in "$1.csr" \
    -out "$1.crt" -startdate "$4" -enddate "$5" -notext 2>/dev/null
  cat "$1.key" "$1.crt" > "$1.pem"
}
issue good 127.0.0.1 "IP:127.0.0.1,DNS:localhost" 20240101000000Z 20991231000000Z
issue wronghost other.example "DNS:other.example" 20240101000000Z 20991231000000Z
issue expired 127.0.0.1 "IP:127.0.0.1" 20200101000000Z 20200201000000Z
key selfsigned.key
openssl req -x509 -key selfsigned.key -out selfsigned.crt -days 30 -subj "/CN=127.0.0.1" \
  -addext subjectAltName=IP:127.0.0.1 2>/dev/null
cat selfsigned.key selfsigned.crt > selfsigned.pem
