#!/usr/bin/env python3
"""Signs shipped binaries in place with Authenticode (SHA-256) and proves each signature.

usage: sign_file.py --pfx KEY.pfx --password-file FILE [--timestamp-url URL] [--osslsigncode PATH] BINARY...

Each BINARY is signed with the key and certificate of the PKCS#12 file through osslsigncode; with
--timestamp-url an RFC 3161 server counter-signs the signing time. The signed file is then verified
with `osslsigncode verify`: its signer must be the certificate of the PKCS#12 file itself (pinned by
its SHA-256 hash) and its chain must end in a root that the PKCS#12 file or the system's CA bundle
holds, and so must the time stamp's. Prints the signer's name and the digest algorithm of each file.

The password is only ever read from its file, never passed on a command line. Any failure stops with
a message and removes BINARY, so that an unsigned file can never pass for a signed deliverable.
"""
import argparse
import hashlib
import os
import re
import shutil
import ssl
import subprocess
import sys
import tempfile

SYSTEM_CA_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"


class SigningError(Exception):
    pass


def run(command, what):
    """Runs a command; its output on success, its output as the error otherwise."""
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    text = done.stdout.decode("utf-8", "replace")
    if done.returncode != 0:
        raise SigningError("%s failed:\n%s" % (what, text.strip()))
    return text


def pkcs12_certificates(pfx, password_file, only_signer):
    """The certificates of the PKCS#12 file in PEM. Older exports (RC2, 3DES) need OpenSSL's legacy
    provider; it is tried only when the default one cannot read the file."""
    command = ["openssl", "pkcs12", "-in", pfx, "-passin", "file:" + password_file, "-nokeys"]
    if only_signer:
        command.append("-clcerts")
    try:
        return run(command, "reading the certificates")
    except SigningError as default_error:
        try:
            return run(command + ["-legacy"], "reading the certificates")
        except SigningError:
            raise SigningError("%s cannot be read with the password in %s (wrong password?)\n%s" %
                               (pfx, password_file, default_error))


def pem_blocks(text):
    return re.findall(r"-----BEGIN CERTIFICATE-----.+?-----END CERTIFICATE-----", text, re.S)


def signer_hash(pfx, password_file):
    blocks = pem_blocks(pkcs12_certificates(pfx, password_file, only_signer=True))
    if len(blocks) != 1:
        raise SigningError("%s holds %d certificates for its key, not one" % (pfx, len(blocks)))
    return hashlib.sha256(ssl.PEM_cert_to_DER_cert(blocks[0])).hexdigest()


def write_trust_file(path, pfx, password_file):
    """The roots a signature may end in: the PKCS#12 file's own chain, then the system's bundle."""
    blocks = pem_blocks(pkcs12_certificates(pfx, password_file, only_signer=False))
    with open(path, "w") as out:
        out.write("\n".join(blocks) + "\n")
        if os.path.isfile(SYSTEM_CA_BUNDLE):
            with open(SYSTEM_CA_BUNDLE) as bundle:
                out.write(bundle.read())


def describe(verify_output):
    """(signer's subject, digest algorithm) as `osslsigncode verify` reports them."""
    subject = re.search(r"Signer's certificate:.*?Subject:[ \t]*([^\n]+)", verify_output, re.S)
    digest = re.search(r"Message digest algorithm[ \t]*:[ \t]*(\S+)", verify_output)
    if not subject or not digest:
        raise SigningError("the verification did not name the signer and the digest:\n" + verify_output)
    return subject.group(1).strip(), digest.group(1)


def sign_one(binary, args, leaf_hash, trust_file):
    name = os.path.basename(binary)
    signed = binary + ".signed"
    if os.path.exists(signed):
        os.remove(signed)
    command = [args.osslsigncode, "sign", "-pkcs12", args.pfx, "-readpass", args.password_file, "-h", "sha256",
               "-n", "Tidewash"]
    if args.timestamp_url:
        command += ["-ts", args.timestamp_url]
    try:
        run(command + ["-in", binary, "-out", signed], "signing %s" % name)
        report = run([args.osslsigncode, "verify", "-in", signed, "-CAfile", trust_file, "-TSA-CAfile", trust_file,
                      "-require-leaf-hash", "sha256:" + leaf_hash], "verifying the signature of %s" % name)
        subject, digest = describe(report)
        if digest.upper() != "SHA256":
            raise SigningError("%s is signed with %s, not SHA256" % (name, digest))
        # osslsigncode passes a signature whose time stamp does not verify; a release needs both.
        if args.timestamp_url and "Timestamp Server Signature verification: ok" not in report:
            raise SigningError("the time stamp of %s does not verify:\n%s" % (name, report))
        shutil.copymode(binary, signed)
        os.replace(signed, binary)
    finally:
        if os.path.exists(signed):
            os.remove(signed)
    stamp = "time-stamped by " + args.timestamp_url if args.timestamp_url else "no time stamp"
    print("%s: signed by %s, digest %s, %s; verified against the signing certificate" % (name, subject, digest,
                                                                                         stamp))


def main():
    parser = argparse.ArgumentParser(description="Signs shipped binaries in place (Authenticode, SHA-256).")
    parser.add_argument("--pfx", required=True)
    parser.add_argument("--password-file", required=True)
    parser.add_argument("--timestamp-url", default="")
    parser.add_argument("--osslsigncode", default="osslsigncode")
    parser.add_argument("binaries", nargs="+")
    args = parser.parse_args()

    try:
        for path, what in ((args.pfx, "the signing key (TIDEWASH_SIGNING_PFX)"),
                           (args.password_file, "the password file (TIDEWASH_SIGNING_PASSWORD_FILE)")):
            if not os.path.isfile(path) or not os.access(path, os.R_OK):
                raise SigningError("%s %s is missing or cannot be read" % (what, path))
        leaf_hash = signer_hash(args.pfx, args.password_file)
        with tempfile.TemporaryDirectory() as work:
            trust_file = os.path.join(work, "trust.pem")
            write_trust_file(trust_file, args.pfx, args.password_file)
            for binary in args.binaries:
                sign_one(binary, args, leaf_hash, trust_file)
    except (SigningError, OSError) as error:
        for binary in args.binaries:
            if os.path.exists(binary):
                os.remove(binary)
        sys.exit("sign_file: %s\nsign_file: nothing is signed; removed %s" % (error, " ".join(args.binaries)))


if __name__ == "__main__":
    main()
