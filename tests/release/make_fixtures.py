#!/usr/bin/env python3
"""Signed test fixtures for the release tests, made on the Linux side before they run under Wine
(CNG cannot sign under Wine 8). Writes into OUT:
  package.zip         a package the installer accepts
  tool-manifest.json  its manifest, signed by the release tool
  manifests.json      manifests signed with plain `openssl dgst`, keyed by case name
  shapes/, shapes.json, honest/   see package_shapes.py; honest/ also holds what `pack` makes
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
import package_shapes  # noqa: E402
from testkit.launcher_package import SEED_FILES  # noqa: E402
from testkit.signing import P256_ORDER, openssl_sign, signed_text  # noqa: E402

PACKAGE_FILES = {
    "KORLAUNCHER/KORLAUNCHER.exe": b"MZ launcher executable stand-in\n" * 40,
    "KORLAUNCHER/launcher.json": b'{"channel": "stable"}\n',
    "KORLAUNCHER/shaders/ui.vert.spv": bytes(range(256)) * 4,
    "KORLAUNCHER/shaders/ui.frag.spv": bytes(reversed(range(256))) * 4,
    "KORLAUNCHER/assets/fonts/regular.json": b'{"glyphs": []}\n',
    "KORLAUNCHER/assets/fonts/regular.png": b"\x89PNG\r\n\x1a\n" + b"\0" * 100,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--build", help="the tool's build folder, brought up to date first")
    args = parser.parse_args()
    if args.build:
        subprocess.run(["cmake", "--build", args.build, "--parallel", "2"], check=True,
                       stdout=subprocess.DEVNULL)
    if not os.path.isfile(args.tool):
        sys.exit(f"release tool missing: {args.tool} (scripts/setup.sh builds it)")
    if not os.path.isfile(args.key):
        sys.exit(f"signing key missing: {args.key} (set KORVANE_RELEASE_SIGNING_KEY)")
    os.makedirs(args.out, exist_ok=True)

    package = os.path.join(args.out, "package.zip")
    with zipfile.ZipFile(package, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("KORLAUNCHER/", b"")
        for name, data in PACKAGE_FILES.items():
            archive.writestr(name, data)
    manifest = os.path.join(args.out, "tool-manifest.json")
    subprocess.run([args.tool, "sign", package, "--version", "1.4.2", "--url",
                    "https://localhost:8443/downloads/launcher.zip", "--key", args.key,
                    "--output", manifest], check=True, stderr=subprocess.DEVNULL)

    digest = "5f" * 32
    cases = {
        "openssl": ("1.0.0", 22, digest, "https://localhost/a.zip", True),
        "leading-zeros": ("0001.02.0003", 4096, digest, "https://localhost/b.zip", True),
        "largest": ("9999.9999.9999", 16_777_216, digest,
                    "https://localhost/" + "u" * (2048 - len("https://localhost/")), True),
        "no-final-line-feed": ("1.0.0", 22, digest, "https://localhost/a.zip", False),
    }
    manifests = {}
    for name, (version, size, sha256, url, final_line_feed) in cases.items():
        text = signed_text(version, size, sha256, url)
        if not final_line_feed:
            text = text[:-1]
        manifests[name] = {"version": version, "url": url, "size": size, "sha256": sha256,
                           "signature": openssl_sign(args.key, text)}
    # The same signature with s in each half of the group order: both verify, and plain openssl
    # makes either.
    raw = bytes.fromhex(manifests["openssl"]["signature"])
    s = int.from_bytes(raw[32:], "big")
    for name, value in (("high-s", max(s, P256_ORDER - s)), ("low-s", min(s, P256_ORDER - s))):
        manifests[name] = dict(manifests["openssl"], signature=(raw[:32] + value.to_bytes(32, "big")).hex())
    with open(os.path.join(args.out, "manifests.json"), "w") as handle:
        json.dump(manifests, handle, indent=2)
    package_shapes.write(args.out)
    # What the tool's pack makes from the seed package's folder, among the packages the installer
    # must take (release_tests extracts every one of them under Wine).
    source = os.path.join(args.out, "pack-source")
    shutil.rmtree(source, ignore_errors=True)
    for name, data in SEED_FILES.items():
        path = os.path.join(source, *name.split("/")[1:])
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(data)
    subprocess.run([args.tool, "pack", source, "--output", os.path.join(args.out, "honest", "korvane-release-pack.zip")],
                   check=True, stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
