"""Release manifests signed with plain openssl and the development key, past the release tool's own
checks: for bytes that are no package (a loopback server's made file), a package the tool would
refuse, and signatures of chosen shapes. The installer takes r || s; openssl reads and writes DER."""
import json
import subprocess

P256_ORDER = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551


def signed_text(version, size, sha256, url):
    """The bytes a manifest's signature covers."""
    return f"KORLAUNCHER-UPDATE-v1\n{version}\n{size}\n{sha256}\n{url}\n".encode()


def der_to_raw(der):
    """r || s from a DER ECDSA signature: SEQUENCE { INTEGER r, INTEGER s }."""
    assert der[0] == 0x30
    position = 2 if der[1] < 0x80 else 2 + (der[1] & 0x7F)
    raw = b""
    for _ in range(2):
        assert der[position] == 0x02
        length = der[position + 1]
        value = der[position + 2 : position + 2 + length]
        raw += int.from_bytes(value, "big").to_bytes(32, "big")
        position += 2 + length
    return raw


def raw_to_der(raw):
    def integer(value):
        body = value.lstrip(b"\0") or b"\0"
        if body[0] & 0x80:
            body = b"\0" + body
        return b"\x02" + bytes([len(body)]) + body
    content = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(content)]) + content


def openssl_sign(key, text):
    """The signature of `text` with the P-256 key file `key`, as r || s in hex."""
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=text, check=True,
                         capture_output=True).stdout
    return der_to_raw(der).hex()


def signed_manifest(key, version, size, sha256, url):
    """A manifest (as a dict) for any bytes of that size and digest."""
    return {"version": version, "url": url, "size": size, "sha256": sha256,
            "signature": openssl_sign(key, signed_text(version, size, sha256, url))}


def signed_manifest_text(key, version, size, sha256, url):
    return json.dumps(signed_manifest(key, version, size, sha256, url))
