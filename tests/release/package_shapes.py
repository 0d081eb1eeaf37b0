"""Package shapes that the installer and the release tool must judge alike: each hostile shape with
the one message both refuse it with, and the honest packages of each ZIP tool (fuzz/corpus/package),
which both accept. make_fixtures.py writes them into the fixtures folder:
  shapes/NAME.zip    one per shape
  shapes.json        {"NAME.zip": "message"}
  honest/NAME.zip    copies of the seed packages
  at-the-limit.zip   an honest package that inflates to exactly the 512 MiB total limit
"""
import glob
import json
import os
import shutil
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit.launcher_package import SEED_FILES  # noqa: E402

CORRUPT = "Повреждён ZIP обновления"
COMPOSITION = "Некорректный состав обновления"
BAD_PATH = "Недопустимый путь обновления"
EXTRACT_FAILED = "Не удалось распаковать обновление"

# The six required files with the contents of the committed seed packages.
REQUIRED = SEED_FILES


def deflate(data):
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


class Entry:
    """One entry as it will be written; `size` and `crc` may lie about `stored`."""

    def __init__(self, name, data=b"", stored=None, size=None, crc=None, local_name=None):
        self.name = name.encode()
        self.local_name = (local_name or name).encode()
        self.stored = deflate(data) if stored is None else stored
        self.size = len(data) if size is None else size
        self.crc = zlib.crc32(data) if crc is None else crc


def build(entries, base=0):
    """The archive's bytes; `base` shifts every offset, as if the archive began `base` bytes later."""
    body, directory = b"", b""
    for entry in entries:
        fields = struct.pack("<HHHHHIII", 20, 0, 8, 0, 0x21, entry.crc, len(entry.stored), entry.size)
        offset = base + len(body)
        body += struct.pack("<I", 0x04034B50) + fields + struct.pack("<HH", len(entry.local_name), 0)
        body += entry.local_name + entry.stored
        directory += struct.pack("<IH", 0x02014B50, 20) + fields
        directory += struct.pack("<HHHHHII", len(entry.name), 0, 0, 0, 0, 0, offset) + entry.name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries), len(directory), base + len(body), 0)
    return body + directory + end


def package(*extra, replace=None, base=0):
    entries = [Entry(name, data) for name, data in REQUIRED.items()]
    if replace:
        entries = [replace(entry) for entry in entries]
    return build(entries + list(extra), base)


def with_crc(entry, crc):
    entry.crc = crc
    return entry


def shapes():
    good = package()
    # Deflated zeros: 256 MiB in about 256 KiB, recorded as 100 bytes.
    bomb = Entry("KORLAUNCHER/assets/bomb.bin", stored=deflate(bytes(256 << 20)), size=100, crc=0)
    end = good[-22:]
    return {
        "crc-mismatch.zip": (package(replace=lambda e: with_crc(e, e.crc ^ 1) if b"regular.png" in e.name else e),
                             EXTRACT_FAILED),
        "inflates-past-its-size.zip": (package(bomb), EXTRACT_FAILED),
        "holds-less-than-its-size.zip": (package(Entry("KORLAUNCHER/assets/big.bin", b"tiny", size=128 << 20)),
                                         EXTRACT_FAILED),
        "file-then-folder.zip": (package(Entry("KORLAUNCHER/assets/x", b"1"), Entry("KORLAUNCHER/assets/x/y", b"2")),
                                 COMPOSITION),
        "folder-then-file.zip": (package(Entry("KORLAUNCHER/assets/X/y", b"2"), Entry("KORLAUNCHER/assets/x", b"1")),
                                 COMPOSITION),
        "element-of-300.zip": (package(Entry("KORLAUNCHER/assets/" + "e" * 300, b"1")), BAD_PATH),
        "path-of-34000.zip": (package(Entry("KORLAUNCHER/assets/" + "/".join(["d" * 200] * 170), b"1")), BAD_PATH),
        "backslash-duplicate.zip": (package(Entry("KORLAUNCHER/assets\\fonts\\regular.png", b"evil")), COMPOSITION),
        "double-slash-duplicate.zip": (package(Entry("KORLAUNCHER/assets//fonts/regular.png", b"evil")),
                                       COMPOSITION),
        "two-archives.zip": (good + package(Entry("KORLAUNCHER/assets/second.txt", b"2")), CORRUPT),
        # The second archive's offsets count from the first byte of the file, as "zip -A" writes them.
        "two-archives-adjusted.zip": (good + package(Entry("KORLAUNCHER/assets/second.txt", b"2"), base=len(good)),
                                      CORRUPT),
        "bytes-before.zip": (b"MZ" + bytes(62) + good, CORRUPT),
        "two-end-records.zip": (good + end, CORRUPT),
        "local-name-differs.zip": (package(Entry("KORLAUNCHER/assets/a.png", b"1", local_name="KORLAUNCHER/../a.png")),
                                   CORRUPT),
    }


def at_the_limit():
    """The required files and two files of zeros: 256 MiB, the largest a file may be, and what
    is left of the 512 MiB total. About half a MiB deflated."""
    largest = 256 << 20
    rest = (512 << 20) - largest - sum(len(data) for data in REQUIRED.values())
    zeros = bytes(largest)
    return package(Entry("KORLAUNCHER/assets/zeros-a.bin", zeros),
                   Entry("KORLAUNCHER/assets/zeros-b.bin", zeros[:rest]))


def write(out):
    with open(os.path.join(out, "at-the-limit.zip"), "wb") as handle:
        handle.write(at_the_limit())
    folder = os.path.join(out, "shapes")
    os.makedirs(folder, exist_ok=True)
    expected = {}
    for name, (data, message) in shapes().items():
        with open(os.path.join(folder, name), "wb") as handle:
            handle.write(data)
        expected[name] = message
    with open(os.path.join(out, "shapes.json"), "w", encoding="utf-8") as handle:
        json.dump(expected, handle, ensure_ascii=False, indent=2)
    honest = os.path.join(out, "honest")
    os.makedirs(honest, exist_ok=True)
    for seed in glob.glob(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz", "corpus", "package", "*.zip")):
        shutil.copy(seed, honest)
