#!/usr/bin/env bash
# Signs copies of a small program for the signature tests, with throw-away self-made certificates.
# usage: make_signed_samples.sh UNSIGNED.exe OUTPUT_FOLDER
#   signed_sample.exe    signed by "Tidewash Test Signer"; its certificate is test_signer.cer (DER)
#   signed_longname.exe  signed by a certificate without common name, organisation or unit whose
#                        only name is a 300-character e-mail address in the alternative names
#   tampered_sample.exe  signed_sample.exe with one byte of its code changed after signing
set -euo pipefail
in=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout "$work/key.pem" -out "$work/cert.pem" \
  -subj "/CN=Tidewash Test Signer" -addext "extendedKeyUsage=codeSigning" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,digitalSignature,keyCertSign" 2>/dev/null
openssl x509 -in "$work/cert.pem" -outform DER -out "$out/test_signer.cer"
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "sample" -in "$in" -out "$work/signed.exe" >/dev/null
cp "$work/signed.exe" "$out/signed_sample.exe"

long=$(printf 'n%.0s' $(seq 1 288))@example.com
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout "$work/key2.pem" -out "$work/cert2.pem" \
  -subj "/C=CN" -addext "subjectAltName=email:$long" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
osslsigncode sign -certs "$work/cert2.pem" -key "$work/key2.pem" -n "sample" -in "$in" -out "$work/long.exe" >/dev/null
cp "$work/long.exe" "$out/signed_longname.exe"

# Change one byte at the start of the first section's raw data (well inside the signed content).
python3 - "$work/signed.exe" "$out/tampered_sample.exe" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
raw = struct.unpack_from("<I", data, sections + 20)[0]
data[raw + 16] ^= 0xFF
open(sys.argv[2], "wb").write(data)
PY
