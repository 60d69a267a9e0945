#!/usr/bin/env bash
# A signed release, made from copies of the built deliverables with a throw-away key and the build's own
# steps (tools/sign_file.py, tools/pack_payload.py), so that the deliver tree stays as it was built:
#   - all three programs verify against the certificate;
#   - the signed Tidewash.exe unpacks its (signed) plug-ins and scans under Wine with the exit code and
#     report of the unsigned one;
#   - WinVerifyTrust finds the digests of the signed grimlet.dll and Tidewash.exe good;
#   - one byte changed in the signed payload is caught by osslsigncode and by WinVerifyTrust;
#   - a wrong password stops the signing and leaves no file behind.
# usage: check_signing.sh SOURCE_DIR BUILD_DIR   (WINEPREFIX: the test run's prefix)
set -euo pipefail
src=$1
build=$2
source "$src/tools/wine_env.sh"
deliver=$build/i686-deliver
probe=$build/i686/bin/verify_trust.exe
work=$build/deliverables-signing
fail() { echo "FAIL: $*" >&2; exit 1; }
for f in "$deliver/obj/Tidewash.exe" "$deliver/bin/grimlet.dll" "$deliver/bin/RunMendrel.exe" "$probe"; do
  [ -f "$f" ] || fail "$f is missing: build the i686-deliver and i686 trees first"
done
rm -rf "$work"
mkdir -p "$work/key" "$work/unsigned" "$work/signed"

# The throw-away key: a self-signed code-signing certificate in a PKCS#12 file, its password in a file.
key=$work/key
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Tidewash Test Publisher/O=Tidewash Tests" \
  -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$key/key.pem" -out "$key/cert.pem" 2>/dev/null
openssl rand -hex 16 > "$key/password"
openssl pkcs12 -export -inkey "$key/key.pem" -in "$key/cert.pem" -passout "file:$key/password" -out "$key/signing.pfx"

sign() { python3 "$src/tools/sign_file.py" --pfx "$key/signing.pfx" --password-file "$key/password" "$@" >> "$work/sign.txt"; }
pack() {  # folder: its grimlet.dll and RunMendrel.exe behind the built image, as Tidewash.exe
  python3 "$src/tools/pack_payload.py" --image "$deliver/obj/Tidewash.exe" --out "$1/Tidewash.exe" \
    --work "$1/payload" --7zz 7zz --plugin "$1/grimlet.dll" --plugin "$1/RunMendrel.exe" >/dev/null
}
# (In a tree built signed the copies already carry a signature; signing replaces it.)
for folder in unsigned signed; do
  cp "$deliver/bin/grimlet.dll" "$deliver/bin/RunMendrel.exe" "$work/$folder/"
done
pack "$work/unsigned"
# The build's order: the plug-in and the engine before packing, the program after.
sign "$work/signed/grimlet.dll" "$work/signed/RunMendrel.exe"
pack "$work/signed"
sign "$work/signed/Tidewash.exe"

# The build's step names the signer and the digest of each file; osslsigncode agrees on its own.
[ "$(grep -c ': signed by /CN=Tidewash Test Publisher/O=Tidewash Tests, digest SHA256,' "$work/sign.txt")" = 3 ] ||
  fail "the signing step did not name the signer and digest of all three: $(cat "$work/sign.txt")"
for f in grimlet.dll RunMendrel.exe Tidewash.exe; do
  osslsigncode verify -in "$work/signed/$f" -CAfile "$key/cert.pem" > "$work/verify-$f.txt" 2>&1 ||
    fail "$f does not verify: $(cat "$work/verify-$f.txt")"
done

# The same scan, unsigned and signed. The reports differ only in their times.
# How many 64-bit processes a scan passed over depends on what else runs on the machine at that moment
# (other tests' programs): the count is left out of the comparison, the record is not.
scan() {  # folder -> exit code; the report without START and END in folder/report.txt
  mkdir -p "$1/run"
  local code=0
  (cd "$1/run" && "$WINE32" ../Tidewash.exe /scan /report=report.txt </dev/null >/dev/null 2>&1) || code=$?
  grep -v -e '^START' -e '^END' "$1/run/report.txt" | sed -E 's/\(([0-9]+) passed over\)/(N passed over)/' \
    > "$1/report.txt" || fail "no report from $1/Tidewash.exe"
  echo "$code"
}
unsigned_code=$(scan "$work/unsigned")
signed_code=$(scan "$work/signed")
[ "$signed_code" = "$unsigned_code" ] || fail "the signed program ended with $signed_code, the unsigned one with $unsigned_code"
grep -q '^SUMMARY' "$work/signed/report.txt" || fail "the signed program's report has no SUMMARY: $(cat "$work/signed/report.txt")"
diff "$work/unsigned/report.txt" "$work/signed/report.txt" >&2 || fail "the reports differ"
# The payload behind the marker (and before the signature) carries the signed plug-in. The program
# unpacks it into a work folder that it removes when the run ends, so the archive is read here.
python3 - "$work/signed/Tidewash.exe" "$work/payload.7z" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(data[data.find(b"quorvel" + b" tidewash clean tool") + 27:])
PY
7zz e -so "$work/payload.7z" plugin/grimlet.dll 2>/dev/null | cmp - "$work/signed/grimlet.dll" ||
  fail "the signed program does not carry the signed plug-in"

trust() {  # file -> what WinVerifyTrust says; status 0 for a good digest
  "$WINE32" "$probe" "$(to_windows_path "$1")" </dev/null 2>/dev/null | tr -d '\r'
}
for f in grimlet.dll Tidewash.exe; do
  answer=$(trust "$work/signed/$f") || fail "WinVerifyTrust on the signed $f: $answer"
done

# One byte in the middle of the signed payload.
python3 - "$work/signed/Tidewash.exe" "$work/tampered.exe" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
archive = data.find(b"quorvel" + b" tidewash clean tool") + 27
data[archive + 1000] ^= 0x01
open(sys.argv[2], "wb").write(data)
PY
if osslsigncode verify -in "$work/tampered.exe" -CAfile "$key/cert.pem" > "$work/verify-tampered.txt" 2>&1; then
  fail "osslsigncode accepts a changed payload"
fi
if answer=$(trust "$work/tampered.exe"); then fail "WinVerifyTrust accepts a changed payload ($answer)"; fi
# TRUST_E_BAD_DIGEST
[ "$answer" = "0x80096010" ] || fail "WinVerifyTrust on a changed payload: $answer, not a bad digest"

# A wrong password stops with a message and leaves nothing that could pass for signed.
cp "$deliver/bin/grimlet.dll" "$work/wrong.dll"
echo "not the password" > "$key/wrong"
if python3 "$src/tools/sign_file.py" --pfx "$key/signing.pfx" --password-file "$key/wrong" "$work/wrong.dll" \
     > "$work/wrong.txt" 2>&1; then
  fail "signing with a wrong password succeeded"
fi
grep -q "wrong password" "$work/wrong.txt" || fail "no clear message for a wrong password: $(cat "$work/wrong.txt")"
[ ! -e "$work/wrong.dll" ] || fail "a failed signing left the unsigned file behind"

echo "signed release: three programs verify; scan exit $signed_code and report as unsigned; WinVerifyTrust good;"\
     "a changed payload byte and a wrong password are caught"
