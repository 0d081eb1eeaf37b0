#!/usr/bin/env python3
"""Remakes the committed seed corpora in fuzz/corpus (run by hand; the outputs are committed):
  package/   the same small package written by each ZIP tool a publisher may use: 7-Zip, Info-ZIP
             (plain, streamed, forced ZIP64, without folder entries) and Python's zipfile (plain,
             streamed with data descriptors, forced ZIP64)
  manifest/  release manifests signed by the release tool with a throwaway key, and a few shapes
             around them
  usage: fuzz/make_corpus.py --tool build/host/korvane-release
"""
import argparse
import io
import json
import os
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from testkit.launcher_package import SEED_FILES as FILES  # noqa: E402


class Unseekable(io.RawIOBase):
    """Makes zipfile stream its entries with data descriptors, as it does into a pipe."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, chunk):
        self.data += chunk
        return len(chunk)


def write_tree(folder):
    for name, data in FILES.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(data)
        # Fixed times keep the remade seeds byte-for-byte stable.
        os.utime(path, (1_700_000_000, 1_700_000_000))


def python_zip(target, zip64=False):
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr(zipfile.ZipInfo("KORLAUNCHER/", (2024, 1, 1, 0, 0, 0)), b"")
        for name, data in FILES.items():
            info = zipfile.ZipInfo(name, (2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            with archive.open(info, "w", force_zip64=zip64) as entry:
                entry.write(data)


def packages(out):
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tree:
        write_tree(tree)
        names = sorted(FILES)
        run = lambda *command, **kw: subprocess.run(command, cwd=tree, check=True, capture_output=True, **kw)
        run("7z", "a", "-tzip", "-mx=9", os.path.join(out, "7z.zip"), "KORLAUNCHER")
        run("zip", "-X", "-r", os.path.join(out, "infozip.zip"), "KORLAUNCHER")
        run("zip", "-X", "-r", "-D", os.path.join(out, "infozip-no-folders.zip"), "KORLAUNCHER")
        run("zip", "-X", "-fz", "-r", os.path.join(out, "infozip-zip64.zip"), "KORLAUNCHER")
        streamed = run("zip", "-X", "-", *names).stdout
        with open(os.path.join(out, "infozip-streamed.zip"), "wb") as handle:
            handle.write(streamed)
        # Not "zip -fz -": Info-ZIP 3.0 writes a streamed ZIP64 archive that no reader can open.
    python_zip(os.path.join(out, "python.zip"))
    python_zip(os.path.join(out, "python-zip64.zip"), zip64=True)
    for name, zip64 in (("python-streamed.zip", False), ("python-streamed-zip64.zip", True)):
        sink = Unseekable()
        python_zip(sink, zip64=zip64)
        with open(os.path.join(out, name), "wb") as handle:
            handle.write(sink.data)


def manifests(tool, out):
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as scratch:
        key = os.path.join(scratch, "key.pem")
        subprocess.run([tool, "keygen", key], check=True, capture_output=True)
        signed = os.path.join(scratch, "manifest.json")
        subprocess.run([tool, "sign", os.path.join(HERE, "corpus", "package", "python.zip"), "--version", "1.4.2",
                        "--url", "https://localhost/downloads/launcher.zip", "--key", key, "--output", signed],
                       check=True, capture_output=True)
        with open(signed, "rb") as handle:
            body = handle.read()
    manifest = json.loads(body)
    shapes = {
        "signed.json": body,
        "compact.json": json.dumps(manifest, separators=(",", ":")).encode(),
        "extra-members.json": json.dumps(dict(manifest, channel="stable", notes={"ru": ["a", 1, None]})).encode(),
        "escaped.json": json.dumps(manifest, ensure_ascii=True).replace('"url"', '"\\u0075rl"').encode(),
    }
    for name, data in shapes.items():
        with open(os.path.join(out, name), "wb") as handle:
            handle.write(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    args = parser.parse_args()
    packages(os.path.join(HERE, "corpus", "package"))
    manifests(os.path.abspath(args.tool), os.path.join(HERE, "corpus", "manifest"))


if __name__ == "__main__":
    main()
