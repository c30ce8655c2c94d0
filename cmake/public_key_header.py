#!/usr/bin/env python3
"""Turns a P-256 public key in PEM (SubjectPublicKeyInfo, as `publish keygen`
and OpenSSL write it) into a C++ header holding its raw X||Y bytes, which the
client verifies signed releases with."""
import base64
import sys

# SEQUENCE { SEQUENCE { ecPublicKey, prime256v1 }, BIT STRING 00 04 ... }
SPKI_P256_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200" "04")


def raw_key(pem_text):
    lines = pem_text.strip().splitlines()
    begin, end = "-----BEGIN PUBLIC KEY-----", "-----END PUBLIC KEY-----"
    if begin not in lines or end not in lines:
        raise ValueError("no PEM public key (BEGIN PUBLIC KEY)")
    body = "".join(lines[lines.index(begin) + 1:lines.index(end)])
    der = base64.b64decode(body, validate=True)
    if len(der) != len(SPKI_P256_PREFIX) + 64 or not der.startswith(SPKI_P256_PREFIX):
        raise ValueError("not an uncompressed P-256 (prime256v1) public key")
    return der[len(SPKI_P256_PREFIX):]


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: public_key_header.py <public.pem> <header.h>")
    try:
        with open(sys.argv[1], encoding="ascii") as f:
            key = raw_key(f.read())
    except (OSError, ValueError, UnicodeDecodeError) as e:
        sys.exit("UPDATE_PUBLIC_KEY %s: %s" % (sys.argv[1], e))
    rows = ",\n".join("    " + ", ".join("0x%02x" % b for b in key[i:i + 8]) for i in range(0, 64, 8))
    with open(sys.argv[2], "w", encoding="ascii") as f:
        f.write("// Generated from %s by cmake/public_key_header.py: the raw P-256 key\n"
                "// (X||Y) signed releases must verify with. Do not edit.\n"
                "#pragma once\n\n"
                "static const unsigned char UPDATE_PUBLIC_KEY_XY[64] = {\n%s};\n" % (sys.argv[1], rows))


if __name__ == "__main__":
    main()
