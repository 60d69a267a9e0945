#!/usr/bin/env bash
# Makes the signed fixtures of the signature tests (the program's VerifyFileSignature and the plug-in's
# CheckFileSigner), all issued by one throw-away test root:
#   ca.crt/ca.der         the test root "Tidewash Test Root" (trusted by tests/support/TrustedTestRoot.h)
#   trusted.dll           the DLL signed by "Microsoft Windows Publisher"
#   upper.dll             the DLL signed by "MICROSOFT WINDOWS PUBLISHER"
#   unsigned.dll          the DLL as built
#   tampered.dll          trusted.dll with one byte of its code changed after signing
#   signed_sample.exe     the program signed by "Tidewash Test Signer"
#   signed_longname.exe   the program signed by a certificate without common name, organisation or unit
#                         whose only name is a 300-character e-mail address in the alternative names
#   tampered_sample.exe   signed_sample.exe with one byte of its code changed after signing
# usage: sign_fixtures.sh UNSIGNED.dll UNSIGNED.exe OUTPUT_FOLDER
set -euo pipefail
dll=$1
exe=$2
out=$3
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/ca.cnf" <<'CNF'
[req]
distinguished_name = dn
prompt = no
x509_extensions = ca_ext
[dn]
CN = Tidewash Test Root
O = Tidewash Tests
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
CNF
cat > "$work/leaf.ext" <<'CNF'
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -config "$work/ca.cnf" \
  -keyout "$work/ca.key" -out "$out/ca.crt" 2>/dev/null
openssl x509 -in "$out/ca.crt" -outform DER -out "$out/ca.der"

make_leaf() {  # name, subject, [extra extension line]
  cp "$work/leaf.ext" "$work/$1.ext"
  if [ $# -ge 3 ]; then echo "$3" >> "$work/$1.ext"; fi
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "$2" -keyout "$work/$1.key" -out "$work/$1.csr" 2>/dev/null
  openssl x509 -req -in "$work/$1.csr" -CA "$out/ca.crt" -CAkey "$work/ca.key" -CAcreateserial -CAserial "$work/ca.srl" \
    -sha256 -days 3650 -extfile "$work/$1.ext" -out "$work/$1.crt" 2>/dev/null
}
sign() {  # leaf name, input, output file
  rm -f "$3"
  osslsigncode sign -certs "$work/$1.crt" -ac "$out/ca.crt" -key "$work/$1.key" -h sha256 \
    -n "Tidewash signature test" -in "$2" -out "$3" >/dev/null
}
tamper() {  # signed input, output: one changed code byte, so that the signature no longer matches
  python3 - "$1" "$2" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
nt = struct.unpack_from("<I", data, 0x3C)[0]
optional_size = struct.unpack_from("<H", data, nt + 20)[0]
first_section = nt + 24 + optional_size
raw_pointer = struct.unpack_from("<I", data, first_section + 20)[0]
data[raw_pointer + 0x10] ^= 0xFF
open(sys.argv[2], "wb").write(data)
PY
}

make_leaf trusted "/CN=Microsoft Windows Publisher/O=Tidewash Tests"
make_leaf upper "/CN=MICROSOFT WINDOWS PUBLISHER/O=Tidewash Tests"
make_leaf sample "/CN=Tidewash Test Signer"
make_leaf longname "/C=CN" "subjectAltName = email:$(printf 'n%.0s' $(seq 1 288))@example.com"

sign trusted "$dll" "$out/trusted.dll"
sign upper "$dll" "$out/upper.dll"
cp "$dll" "$out/unsigned.dll"
tamper "$out/trusted.dll" "$out/tampered.dll"

sign sample "$exe" "$out/signed_sample.exe"
sign longname "$exe" "$out/signed_longname.exe"
tamper "$out/signed_sample.exe" "$out/tampered_sample.exe"
