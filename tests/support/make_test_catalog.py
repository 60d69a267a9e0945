#!/usr/bin/env python3
"""Makes a catalog file that lists one flat file by its SHA-1, signed by a throw-away certificate.

usage: make_test_catalog.py MEMBER_FILE OUTPUT_CAT SIGNER_NAME
The catalog is a PKCS #7 signed message whose content is a certificate trust list with one entry
(member info and indirect data holding the SHA-1). openssl writes the content the CMS way, wrapped in an
OCTET STRING; catalogs carry it unwrapped, so the wrapper is taken off afterwards. That leaves the
signature value stale, which neither the catalog lookup nor the signer-name query checks.
"""
import hashlib
import os
import subprocess
import sys
import tempfile


def tlv(tag, body):
    n = len(body)
    if n < 0x80:
        length = bytes([n])
    else:
        enc = n.to_bytes((n.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(enc)]) + enc
    return bytes([tag]) + length + body


def seq(*items): return tlv(0x30, b"".join(items))
def set_of(*items): return tlv(0x31, b"".join(sorted(items)))
def octets(b): return tlv(0x04, b)
def null(): return b"\x05\x00"
def integer(v): return tlv(0x02, v.to_bytes(max(1, (v.bit_length() + 8) // 8), "big"))
def bmp(text): return tlv(0x1E, text.encode("utf-16-be"))
def utctime(text): return tlv(0x17, text.encode())


def oid(dotted):
    parts = [int(p) for p in dotted.split(".")]
    body = bytes([parts[0] * 40 + parts[1]])
    for p in parts[2:]:
        chunk = [p & 0x7F]
        p >>= 7
        while p:
            chunk.insert(0, 0x80 | (p & 0x7F))
            p >>= 7
        body += bytes(chunk)
    return tlv(0x06, body)


def parse(b, i=0):
    tag = b[i]
    n = b[i + 1]
    i += 2
    if n & 0x80:
        k = n & 0x7F
        n = int.from_bytes(b[i:i + k], "big")
        i += k
    return tag, b[i:i + n], i + n


def children(body):
    out, i = [], 0
    while i < len(body):
        tag, value, i = parse(body, i)
        out.append((tag, value))
    return out


def trust_list(member):
    digest = hashlib.sha1(open(member, "rb").read()).digest()
    tag = (digest.hex().upper() + "\0").encode("utf-16-le")
    flat_subject = "{DE351A42-8E59-11D0-8C47-00C04FC295EE}"
    member_info = seq(oid("1.3.6.1.4.1.311.12.2.2"), set_of(seq(bmp(flat_subject), integer(512))))
    indirect = seq(oid("1.3.6.1.4.1.311.2.1.4"), set_of(seq(
        seq(oid("1.3.6.1.4.1.311.2.1.25"), null()),
        seq(seq(oid("1.3.14.3.2.26"), null()), octets(digest)))))
    entry = seq(octets(tag), set_of(member_info, indirect))
    return seq(
        seq(oid("1.3.6.1.4.1.311.12.1.1")),
        octets(bytes(range(16))),
        utctime("260101000000Z"),
        seq(oid("1.3.6.1.4.1.311.12.1.2"), null()),
        seq(entry))


def unwrap_content(cms):
    _, content_info, _ = parse(cms)
    ci = children(content_info)
    signed_tag, signed = children(ci[1][1])[0]
    parts = children(signed)
    encap = children(parts[2][1])
    wrapped = children(encap[1][1])[0]
    assert wrapped[0] == 0x04
    parts[2] = (0x30, tlv(encap[0][0], encap[0][1]) + tlv(0xA0, wrapped[1]))
    body = b"".join(tlv(t, v) for t, v in parts)
    return seq(tlv(ci[0][0], ci[0][1]), tlv(0xA0, tlv(signed_tag, body)))


def main():
    member, out, signer = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as tmp:
        ctl = os.path.join(tmp, "ctl.der")
        open(ctl, "wb").write(trust_list(member))
        key, cert, cms = (os.path.join(tmp, n) for n in ("key.pem", "cert.pem", "cms.der"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-keyout", key,
                        "-out", cert, "-subj", "/CN=" + signer], check=True, capture_output=True)
        subprocess.run(["openssl", "cms", "-sign", "-binary", "-nodetach", "-outform", "DER", "-econtent_type",
                        "1.3.6.1.4.1.311.10.1", "-md", "sha1", "-signer", cert, "-inkey", key, "-in", ctl, "-out", cms],
                       check=True, capture_output=True)
        open(out, "wb").write(unwrap_content(open(cms, "rb").read()))


if __name__ == "__main__":
    main()
