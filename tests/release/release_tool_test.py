#!/usr/bin/env python3
"""The publisher's release tool, run natively: key files, refusals, and signatures that plain
openssl accepts. The installer's side of the same manifests is tested under Wine (release_tests)."""
import argparse
import glob
import json
import os
import stat
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit.launcher_package import REQUIRED_FILES as REQUIRED  # noqa: E402
from testkit.signing import raw_to_der  # noqa: E402

ARGS = None


def run(*arguments):
    return subprocess.run([ARGS.tool, *arguments], capture_output=True, text=True)


def write_package(path, names):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name in names:
            archive.writestr(name, "" if name.endswith("/") else "content of " + name)


class ReleaseTool(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)
        self.package = os.path.join(ARGS.fixtures, "package.zip")

    def path(self, name):
        return os.path.join(self.folder.name, name)

    def sign(self, package=None, version="2.0.1", url="https://localhost/l.zip", key=None, output=None):
        return run("sign", package or self.package, "--version", version, "--url", url,
                   "--key", key or ARGS.key, "--output", output or self.path("manifest.json"))

    def test_keygen_writes_a_private_file_and_prints_the_public_key(self):
        key = self.path("release.pem")
        result = run("keygen", key)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(stat.S_IMODE(os.stat(key).st_mode), 0o600)
        der = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"],
                             capture_output=True, check=True).stdout
        self.assertEqual(result.stdout, der[-64:].hex() + "\n")

        with open(key, "rb") as handle:
            before = handle.read()
        again = run("keygen", key)
        self.assertEqual(again.returncode, 1)
        self.assertEqual(len(again.stderr.strip().splitlines()), 1, again.stderr)
        with open(key, "rb") as handle:
            self.assertEqual(handle.read(), before)

    def test_signed_manifest_verifies_with_the_tool_and_with_plain_openssl(self):
        result = self.sign()
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.path("manifest.json")) as handle:
            manifest = json.load(handle)
        self.assertEqual(sorted(manifest), ["sha256", "signature", "size", "url", "version"])
        self.assertEqual(manifest["size"], os.path.getsize(self.package))

        verified = run("verify", self.path("manifest.json"), "--public-key", ARGS.public_key, "--package", self.package)
        self.assertEqual(verified.returncode, 0, verified.stderr)

        text = "KORLAUNCHER-UPDATE-v1\n{version}\n{size}\n{sha256}\n{url}\n".format(**manifest).encode()
        with open(self.path("text"), "wb") as handle:
            handle.write(text)
        with open(self.path("signature.der"), "wb") as handle:
            handle.write(raw_to_der(bytes.fromhex(manifest["signature"])))
        subprocess.run(["openssl", "pkey", "-in", ARGS.key, "-pubout", "-out", self.path("public.pem")], check=True)
        openssl = subprocess.run(["openssl", "dgst", "-sha256", "-verify", self.path("public.pem"), "-signature",
                                  self.path("signature.der"), self.path("text")], capture_output=True, text=True)
        self.assertEqual(openssl.returncode, 0, openssl.stdout + openssl.stderr)

    def test_sign_refuses_what_the_installer_would_refuse_and_writes_nothing(self):
        small = self.path("small.zip")
        with open(small, "wb") as handle:
            handle.write(b"PK\x05\x06" + b"\0" * 17)  # 21 bytes
        large = self.path("large.zip")
        with open(large, "wb") as handle:
            handle.truncate(16_777_217)
        bad = self.path("bad.zip")
        write_package(bad, REQUIRED + ["KORLAUNCHER/notes.txt"])
        other_key = self.path("rsa.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024", "-out",
                        other_key], check=True, capture_output=True)
        cases = {
            "two-number version": dict(version="2.0"),
            "version over 9999": dict(version="10000.0.0"),
            "plain http": dict(url="http://localhost/l.zip"),
            "scheme in capitals": dict(url="HTTPS://localhost/l.zip"),
            "url with a line feed": dict(url="https://localhost/\nl.zip"),
            "url of 2049 bytes": dict(url="https://" + "u" * 2041),
            "package of 21 bytes": dict(package=small),
            "package over 16 MiB": dict(package=large),
            "package the rules refuse": dict(package=bad),
            "missing package": dict(package=self.path("missing.zip")),
            "missing key": dict(key=self.path("missing.pem")),
            "not a P-256 key": dict(key=other_key),
        }
        for label, arguments in cases.items():
            with self.subTest(label):
                result = self.sign(**arguments)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
                self.assertEqual(os.listdir(self.folder.name).count("manifest.json"), 0)
                self.assertFalse([name for name in os.listdir(self.folder.name) if name.startswith(".manifest")])

    def test_check_lists_every_problem(self):
        good = run("check", self.package)
        self.assertEqual(good.returncode, 0, good.stdout + good.stderr)
        bad = self.path("bad.zip")
        write_package(bad, REQUIRED[1:] + ["KORLAUNCHER/korlauncher.exe", "OTHER/x", "KORLAUNCHER/docs/",
                                           "KORLAUNCHER/assets/a.png", "KORLAUNCHER/assets/A.png"])
        result = run("check", bad)
        self.assertEqual(result.returncode, 1)
        # Each line: the entry, the rule it broke for the publisher, the message players would see. The
        # lower-case executable is one problem, not also "missing".
        self.assertEqual(result.stdout.splitlines(), [
            'entry 5 "KORLAUNCHER/korlauncher.exe": the required file must be spelt "KORLAUNCHER/KORLAUNCHER.exe" '
            'exactly (letter case and \'/\' matter) (players see "Недопустимый путь обновления")',
            'entry 6 "OTHER/x": every entry lies under the top folder "KORLAUNCHER/" (exactly, in capitals) '
            '(players see "Недопустимый файл обновления")',
            'entry 7 "KORLAUNCHER/docs/": folders go only below "KORLAUNCHER/assets/" and "KORLAUNCHER/shaders/" '
            '(exact case) (players see "Недопустимая папка обновления")',
            'entry 9 "KORLAUNCHER/assets/A.png": an earlier file has the same name, letter case and separators '
            'aside (Windows would write both to one file) (players see "Некорректный состав обновления")',
        ])
        missing = self.path("missing.zip")
        write_package(missing, REQUIRED[:-1] + ["KORLAUNCHER/assets/a b.png"])
        self.assertEqual(run("check", missing).stdout.splitlines(), [
            'entry 5 "KORLAUNCHER/assets/a b.png": a space is not allowed: names use only the letters A-Z and a-z, '
            'the digits, \'_\', \'.\', \'-\' and \'/\' (players see "Недопустимый путь обновления")',
            'missing "KORLAUNCHER/assets/fonts/regular.png": every package holds the six required files '
            '(players see "В обновлении отсутствуют файлы лаунчера")',
        ])
        garbage = self.path("garbage.zip")
        with open(garbage, "wb") as handle:
            handle.write(b"not a zip")
        self.assertEqual(run("check", garbage).stdout,
                         f"{garbage}: not a ZIP archive the installer can read (it is a file of another kind) "
                         "(players see \"Повреждён ZIP обновления\")\n")

    def test_check_and_sign_judge_every_shape_as_the_installer_does(self):
        # release_tests extracts the same files under Wine and expects the same messages.
        with open(os.path.join(ARGS.fixtures, "shapes.json"), encoding="utf-8") as handle:
            shapes = json.load(handle)
        self.assertGreaterEqual(len(shapes), 10)
        for name, message in shapes.items():
            with self.subTest(name):
                package = os.path.join(ARGS.fixtures, "shapes", name)
                result = run("check", package)
                self.assertEqual(result.returncode, 1, result.stdout)
                problems = result.stdout.splitlines()
                self.assertIn(message, problems[0])
                self.assertFalse([line for line in problems if message not in line], problems)
                signed = self.sign(package=package)
                self.assertEqual(signed.returncode, 1, signed.stderr)
                self.assertIn(message, signed.stderr)
                self.assertFalse(os.path.exists(self.path("manifest.json")))

    def test_check_and_sign_accept_the_packages_of_every_zip_tool(self):
        honest = sorted(glob.glob(os.path.join(ARGS.fixtures, "honest", "*.zip")))
        self.assertGreaterEqual(len(honest), 8)
        for package in honest:
            with self.subTest(os.path.basename(package)):
                result = run("check", package)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertRegex(result.stdout, r"^ok: \d+ entries, 6 files\n$")
                self.assertEqual(self.sign(package=package).returncode, 0)

    def test_verify_reads_exactly_the_bytes_of_the_manifest(self):
        self.assertEqual(self.sign().returncode, 0)
        with open(self.path("manifest.json"), "rb") as handle:
            body = handle.read()
        self.assertEqual(run("verify", self.path("manifest.json"), "--public-key", ARGS.public_key).returncode, 0)
        changed = self.path("changed.json")
        for label, data in {
            "zero byte then garbage": body + b"\0garbage",
            "byte-order mark": b"\xef\xbb\xbf" + body,
            "a member twice": b'{"version": "9.9.9", ' + body[1:],
            "trailing garbage": body + b"x",
        }.items():
            with self.subTest(label):
                with open(changed, "wb") as handle:
                    handle.write(data)
                result = run("verify", changed, "--public-key", ARGS.public_key)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr, f"korvane-release: {changed}: not one plain JSON text (no byte-order "
                                 "mark, zero byte, text after the value or member given twice) (players see "
                                 "\"Обновление не подписано издателем\")\n")

    def test_verify_refuses_other_keys_changed_manifests_and_changed_packages(self):
        self.assertEqual(self.sign().returncode, 0)
        with open(self.path("manifest.json")) as handle:
            manifest = json.load(handle)
        changed = dict(manifest, url="https://localhost/other.zip")
        with open(self.path("changed.json"), "w") as handle:
            json.dump(changed, handle)
        other_key = run("keygen", self.path("other.pem")).stdout.strip()
        altered = self.path("altered.zip")
        with open(self.package, "rb") as source, open(altered, "wb") as target:
            data = bytearray(source.read())
            data[len(data) // 2] ^= 1
            target.write(data)
        cases = {
            "another key": ("verify", self.path("manifest.json"), "--public-key", other_key),
            "changed url": ("verify", self.path("changed.json"), "--public-key", ARGS.public_key),
            "changed package": ("verify", self.path("manifest.json"), "--public-key", ARGS.public_key,
                                "--package", altered),
            "malformed public key": ("verify", self.path("manifest.json"), "--public-key", "00" * 63),
        }
        for label, arguments in cases.items():
            with self.subTest(label):
                result = run(*arguments)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)

    def test_command_line_mistakes_show_the_usage(self):
        for arguments in [(), ("unknown",), ("sign", self.package), ("check",), ("verify", "m.json", "--bogus", "x")]:
            with self.subTest(arguments):
                result = run(*arguments)
                self.assertEqual(result.returncode, 2)
                self.assertIn("usage:", result.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--public-key", required=True)
    parser.add_argument("--fixtures", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest])
