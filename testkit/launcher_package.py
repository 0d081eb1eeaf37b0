"""Launcher release packages for the demo, the end-to-end tests and the benchmarks, made on the Linux
side: a ZIP with the stand-in KORLAUNCHER.exe and every file the installer requires, and its
manifest signed with the development key by the release tool (signing.py signs what is no package)."""
import json
import os
import random
import struct
import subprocess
import zipfile
import zlib

# The files every package must hold, in the order the packages here write them.
REQUIRED_FILES = ["KORLAUNCHER/KORLAUNCHER.exe", "KORLAUNCHER/launcher.json", "KORLAUNCHER/shaders/ui.vert.spv",
                  "KORLAUNCHER/shaders/ui.frag.spv", "KORLAUNCHER/assets/fonts/regular.json",
                  "KORLAUNCHER/assets/fonts/regular.png"]

# The small package of the committed fuzz seeds (fuzz/corpus/package, remade by fuzz/make_corpus.py),
# whose shapes the release tests also build on: changing a byte here means remaking the seeds.
SEED_FILES = dict(zip(REQUIRED_FILES, [
    b"MZ stand-in " * 8,
    b'{"channel": "stable"}\n',
    bytes(range(64)),
    bytes(reversed(range(64))),
    b'{"glyphs": []}\n',
    b"\x89PNG\r\n\x1a\n" + b"\0" * 16,
]))


def tiny_png():
    """A valid 1 x 1 PNG (the font atlas stand-in)."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"\0\xff\x71\x3b\xff")) + chunk(b"IEND", b""))


def spirv(stage):
    """A SPIR-V header (magic, version 1.0) followed by a marker word: enough for a stand-in."""
    return struct.pack("<IIIII", 0x07230203, 0x00010000, 0, 1, 0) + stage.encode()


def package_files(launcher_exe, version):
    with open(launcher_exe, "rb") as handle:
        # Data after the image is ignored by the loader: each release's executable differs.
        executable = handle.read() + b"\0KORVANE-RELEASE " + version.encode()
    return dict(zip(REQUIRED_FILES, [
        executable,
        json.dumps({"name": "Korvane Launcher", "version": version}).encode(),
        spirv("vertex"),
        spirv("fragment"),
        b'{"family": "Korvane Sans", "glyphs": []}\n',
        tiny_png(),
    ]))


def write_zip(path, files, padding):
    partial = path + ".part"
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            archive.writestr(name, data)
        if padding:
            # Random bytes do not compress: the archive grows by what is added.
            archive.writestr(zipfile.ZipInfo("KORLAUNCHER/assets/data/content.pak"),
                             random.Random(7).randbytes(padding), zipfile.ZIP_STORED)
    os.replace(partial, path)


def make_package(path, launcher_exe, version, size=None):
    """Writes the package; with `size`, an incompressible assets file makes the ZIP exactly that big."""
    files = package_files(launcher_exe, version)
    write_zip(path, files, 0)
    if size is not None:
        padding = size - os.path.getsize(path)
        for _ in range(3):  # the extra entry's own headers: converges in one or two rounds
            write_zip(path, files, padding)
            padding += size - os.path.getsize(path)
        if os.path.getsize(path) != size:
            raise RuntimeError(f"cannot make a package of exactly {size} bytes")
    return path


def sign_package(tool, key, package, version, url, manifest):
    """The publisher's way: the release tool checks the package and writes the manifest."""
    subprocess.run([tool, "sign", package, "--version", version, "--url", url, "--key", key, "--output", manifest],
                   check=True, stdout=subprocess.DEVNULL)
    with open(manifest, encoding="utf-8") as handle:
        return handle.read()


def executable(launcher_exe, version):
    """The KORLAUNCHER.exe that the package of `version` holds."""
    return package_files(launcher_exe, version)["KORLAUNCHER/KORLAUNCHER.exe"]
