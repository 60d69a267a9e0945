#!/usr/bin/env bash
# Makes the signed fixtures of the signer-check tests from one unsigned test DLL:
#   ca.crt/ca.der       a test root (trusted by the tests inside the Wine prefix)
#   trusted.dll         signed by "Microsoft Windows Publisher" (issued by the test root)
#   upper.dll           signed by "MICROSOFT WINDOWS PUBLISHER"
#   unsigned.dll        the DLL as built
#   tampered.dll        trusted.dll with one byte of its code changed after signing
# usage: sign_test_fixtures.sh INPUT.dll OUTPUT_FOLDER
set -euo pipefail
input=$1
out=$2
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

make_leaf() {  # name, common name
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=$2/O=Tidewash Tests" \
    -keyout "$work/$1.key" -out "$work/$1.csr" 2>/dev/null
  openssl x509 -req -in "$work/$1.csr" -CA "$out/ca.crt" -CAkey "$work/ca.key" -CAcreateserial -CAserial "$work/ca.srl" \
    -sha256 -days 3650 -extfile "$work/leaf.ext" -out "$work/$1.crt" 2>/dev/null
}
sign() {  # leaf name, output file
  rm -f "$2"
  osslsigncode sign -certs "$work/$1.crt" -ac "$out/ca.crt" -key "$work/$1.key" -h sha256 \
    -n "Tidewash signer test" -in "$input" -out "$2" >/dev/null
}

make_leaf trusted "Microsoft Windows Publisher"
make_leaf upper "MICROSOFT WINDOWS PUBLISHER"
sign trusted "$out/trusted.dll"
sign upper "$out/upper.dll"
cp "$input" "$out/unsigned.dll"

# One changed code byte: the signature no longer matches the image.
python3 - "$out/trusted.dll" "$out/tampered.dll" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
nt = struct.unpack_from("<I", data, 0x3C)[0]
optional_size = struct.unpack_from("<H", data, nt + 20)[0]
first_section = nt + 24 + optional_size
raw_pointer = struct.unpack_from("<I", data, first_section + 20)[0]
data[raw_pointer + 0x10] ^= 0xFF
open(sys.argv[2], "wb").write(data)
PY
