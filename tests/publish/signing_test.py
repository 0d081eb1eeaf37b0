#!/usr/bin/env python3
"""Authenticode signing of the built installer (scripts/sign-setup.sh) with a throwaway code-signing
certificate made here: osslsigncode's verification, and Windows' own (WinVerifyTrust, under Wine).

Wine 8's WinVerifyTrust checks that a signature is there and that the file's digest matches it, but
not whether the signer's chain ends at a trusted root: a file signed by a CA that the prefix does not
trust still reads as trusted (0). The chain is therefore checked with osslsigncode only.

    signing_test.py   (KORVANE_SETUP_EXE, KORVANE_WINE_RUN, KORVANE_VERIFY_SIGNATURE_EXE)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIGN = os.path.join(ROOT, "scripts", "sign-setup.sh")
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit.prefix import windows_path  # noqa: E402

TRUSTED, NO_SIGNATURE, BAD_DIGEST = 0x00000000, 0x800B0100, 0x80096010


def openssl(*arguments):
    subprocess.run(["openssl", *arguments], check=True, capture_output=True)


def make_code_signing_chain(folder, name):
    """A CA and a code-signing certificate issued by it, valid for a day; returns their file names."""
    path = lambda file: os.path.join(folder, f"{name}-{file}")  # noqa: E731
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"), "-out", path("ca.pem"),
            "-days", "1", "-subj", f"/CN={name} code-signing CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    with open(path("leaf.ext"), "w") as out:
        out.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", path("leaf.key"), "-out", path("leaf.csr"),
            "-subj", f"/CN={name} publisher")
    openssl("x509", "-req", "-in", path("leaf.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
            "-set_serial", "1", "-days", "1", "-extfile", path("leaf.ext"), "-out", path("leaf.pem"))
    with open(path("chain.pem"), "w") as out:
        for part in ("leaf.pem", "ca.pem"):
            with open(path(part)) as source:
                out.write(source.read())
    return {"ca": path("ca.pem"), "chain": path("chain.pem"), "key": path("leaf.key")}


class Signing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="korvane-signing-")
        # Class clean-ups run even when setUpClass fails half-way, unlike tearDownClass.
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        cls.publisher = make_code_signing_chain(cls.folder, "publisher")
        cls.stranger = make_code_signing_chain(cls.folder, "stranger")
        cls.setup_exe = os.environ["KORVANE_SETUP_EXE"]
        cls.signed = os.path.join(cls.folder, "Korvane-Setup.exe")
        cls.sign_pem(cls.setup_exe, cls.signed)

    @classmethod
    def sign_pem(cls, source, target, credentials=None):
        credentials = credentials or cls.publisher
        return subprocess.run([SIGN, "--cert", credentials["chain"], "--key", credentials["key"], source, target],
                              capture_output=True, text=True)

    def osslsigncode_verify(self, exe, ca=None):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", ca or self.publisher["ca"], "-ignore-cdp",
                               "-in", exe], capture_output=True, text=True)

    def windows_verdict(self, exe):
        result = subprocess.run([os.environ["KORVANE_WINE_RUN"], os.environ["KORVANE_VERIFY_SIGNATURE_EXE"],
                                 windows_path(exe)], capture_output=True, text=True, check=True)
        return int(result.stdout.strip(), 16)

    def copy_with_byte_changed(self, offset):
        changed = os.path.join(self.folder, f"changed-{offset}.exe")
        with open(self.signed, "rb") as source:
            data = bytearray(source.read())
        data[offset] ^= 0x01
        with open(changed, "wb") as out:
            out.write(data)
        return changed

    def test_signed_installer_verifies_with_the_publishers_name(self):
        verified = self.osslsigncode_verify(self.signed)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("Signature verification: ok", verified.stdout)
        self.assertIn("Text description: Korvane Setup", verified.stdout)
        self.assertIn("Subject: /CN=publisher publisher", verified.stdout)
        self.assertEqual(self.windows_verdict(self.signed), TRUSTED)

    def test_the_unsigned_installer_is_not_trusted(self):
        self.assertNotEqual(self.osslsigncode_verify(self.setup_exe).returncode, 0)
        self.assertEqual(self.windows_verdict(self.setup_exe), NO_SIGNATURE)

    def test_a_byte_changed_after_signing_fails(self):
        size = os.path.getsize(self.signed)
        # In the DOS stub, in the first section's code, and in the middle of the image.
        for offset in (0x60, 0x1000, size // 2):
            with self.subTest(offset=offset):
                changed = self.copy_with_byte_changed(offset)
                verified = self.osslsigncode_verify(changed)
                self.assertNotEqual(verified.returncode, 0, verified.stdout)
                self.assertEqual(self.windows_verdict(changed), BAD_DIGEST)

    def test_a_signer_from_another_ca_is_not_trusted(self):
        other = os.path.join(self.folder, "stranger-signed.exe")
        self.assertEqual(self.sign_pem(self.setup_exe, other, self.stranger).returncode, 0)
        self.assertNotEqual(self.osslsigncode_verify(other).returncode, 0)
        self.assertEqual(self.osslsigncode_verify(other, self.stranger["ca"]).returncode, 0)

    def test_pkcs12_with_a_password_file_signs_in_place(self):
        p12, password = os.path.join(self.folder, "publisher.p12"), os.path.join(self.folder, "password")
        with open(password, "w") as out:
            out.write("correct horse\n")
        openssl("pkcs12", "-export", "-in", self.publisher["chain"], "-inkey", self.publisher["key"],
                "-out", p12, "-passout", f"file:{password}")
        exe = os.path.join(self.folder, "in-place.exe")
        shutil.copyfile(self.setup_exe, exe)
        signed = subprocess.run([SIGN, "--pkcs12", p12, "--password-file", password, exe, exe],
                                capture_output=True, text=True)
        self.assertEqual(signed.returncode, 0, signed.stderr)
        self.assertEqual(self.osslsigncode_verify(exe).returncode, 0)
        # Signed without a timestamp server (none is reachable here): said, not silently accepted.
        self.assertIn("warning: no --timestamp server given", signed.stderr)

        with open(password, "w") as out:
            out.write("wrong\n")
        before = sorted(os.listdir(self.folder))
        failed = subprocess.run([SIGN, "--pkcs12", p12, "--password-file", password, self.setup_exe,
                                 os.path.join(self.folder, "never.exe")], capture_output=True, text=True)
        self.assertEqual(failed.returncode, 1)
        self.assertEqual(sorted(os.listdir(self.folder)), before, "a failed signing leaves nothing behind")


if __name__ == "__main__":
    unittest.main(verbosity=2)
