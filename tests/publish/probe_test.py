#!/usr/bin/env python3
"""`korvane-release probe` against the shipped nginx configuration on loopback: a good site passes;
a site laid out in the wrong folder, signed with another key, with a changed package, or served
without byte ranges fails the check that names it, with what to do. Runs natively (no Wine).

    probe_test.py --tool KORVANE_RELEASE --key PRIVATE_KEY.pem --setup Korvane-Setup.exe
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit import nginx  # noqa: E402
from testkit.launcher_package import SEED_FILES  # noqa: E402
from testkit.test_ca import make_certificates  # noqa: E402

ARGS = None
VERSION = "2.0.0"


def run(*arguments):
    return subprocess.run([ARGS.tool, *arguments], capture_output=True, text=True, stdin=subprocess.DEVNULL)


def failed_checks(output):
    return [line for line in output.splitlines() if line.startswith("FAIL")]


class Probe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.state = tempfile.mkdtemp(prefix="korvane-probe-")
        cls.addClassCleanup(shutil.rmtree, cls.state)
        make_certificates(cls.state)
        cls.www = os.path.join(cls.state, "www")
        os.mkdir(cls.www)
        source = os.path.join(cls.state, "launcher")
        for name, data in SEED_FILES.items():
            path = os.path.join(source, *name.split("/")[1:])
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as handle:
                handle.write(data)
        cls.package = os.path.join(cls.state, "launcher.zip")
        subprocess.run([ARGS.tool, "pack", source, "--output", cls.package], check=True, capture_output=True)
        cls.other_key = os.path.join(cls.state, "other.pem")
        subprocess.run([ARGS.tool, "keygen", cls.other_key], check=True, capture_output=True)

        cls.port = nginx.free_port()
        cls.server = nginx.serve(cls.state, cls.port, cls.www)
        cls.addClassCleanup(cls.server.wait)
        cls.addClassCleanup(cls.server.terminate)

        # The same configuration with byte ranges turned off: a server that cannot resume downloads.
        cls.rangeless_state = os.path.join(cls.state, "rangeless")
        os.mkdir(cls.rangeless_state)
        for name in os.listdir(cls.state):
            if name.endswith((".pem", ".key", ".der")):
                shutil.copy(os.path.join(cls.state, name), cls.rangeless_state)
        with open(nginx.RULES, encoding="utf-8") as handle:
            rules = handle.read()
        assert "max_ranges 1;" in rules
        rangeless_rules = os.path.join(cls.rangeless_state, "rules.conf")
        with open(rangeless_rules, "w", encoding="utf-8") as handle:
            handle.write(rules.replace("max_ranges 1;", "max_ranges 0;"))
        cls.rangeless_port = nginx.free_port()
        config = nginx.write_config(cls.rangeless_state, cls.rangeless_port,
                                    os.path.join(cls.rangeless_state, "localhost.pem"),
                                    os.path.join(cls.rangeless_state, "localhost.key"), cls.www)
        with open(config, encoding="utf-8") as handle:
            text = handle.read()
        with open(config, "w", encoding="utf-8") as handle:
            handle.write(text.replace(nginx.RULES, rangeless_rules))
        cls.rangeless = nginx.start(cls.rangeless_state, config, cls.rangeless_port)
        cls.addClassCleanup(cls.rangeless.wait)
        cls.addClassCleanup(cls.rangeless.terminate)

    def setUp(self):
        for name in os.listdir(self.www):
            shutil.rmtree(os.path.join(self.www, name))

    def lay_out(self, output=None, key=None, port=None):
        laid = run("site", self.package, "--version", VERSION, "--url",
                   f"https://localhost:{port or self.port}/downloads/launcher-{VERSION}.zip", "--key", key or ARGS.key,
                   "--output", output or self.www)
        self.assertEqual(laid.returncode, 0, laid.stderr)

    def probe(self, port=None):
        return run("probe", "--setup", ARGS.setup, "--site-root", f"https://localhost:{port or self.port}",
                   "--ca-file", os.path.join(self.state, "ca.pem"))

    def test_a_good_site_passes_every_check(self):
        self.lay_out()
        result = self.probe()
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(failed_checks(result.stdout), [])
        for check in ("manifest: HTTP 200", "signature under the key built into", "package SHA-256 matches",
                      "byte ranges: HTTP 206", "package caching", "manifest caching"):
            self.assertIn("pass  " + check, result.stdout)

    def test_each_mistake_fails_the_check_that_names_it(self):
        def changed_package():
            self.lay_out()
            path = os.path.join(self.www, "downloads", f"launcher-{VERSION}.zip")
            with open(path, "r+b") as handle:
                handle.seek(100)
                byte = handle.read(1)
                handle.seek(100)
                handle.write(bytes([byte[0] ^ 1]))

        cases = {
            "wrong folder": (lambda: self.lay_out(output=os.path.join(self.www, "public")), None,
                             "FAIL  manifest: HTTP 404", "lay the release out"),
            "wrong key": (lambda: self.lay_out(key=self.other_key), None,
                          "FAIL  the signature does not verify", "Подпись обновления недействительна"),
            "changed package": (changed_package, None, "FAIL  package SHA-256", "Архив обновления изменён"),
            "no ranges": (lambda: self.lay_out(port=self.rangeless_port), self.rangeless_port, "FAIL  byte ranges: HTTP 200", "206"),
        }
        for label, (prepare, port, failure, remedy) in cases.items():
            with self.subTest(label):
                self.setUp()
                prepare()
                result = self.probe(port)
                self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
                self.assertEqual(len(failed_checks(result.stdout)), 1, result.stdout)
                self.assertIn(failure, result.stdout)
                self.assertIn(remedy, result.stdout)

    def test_an_untrusted_certificate_is_a_failure(self):
        self.lay_out()
        result = run("probe", "--setup", ARGS.setup, "--site-root", f"https://localhost:{self.port}")
        self.assertEqual(result.returncode, 1)
        self.assertIn("FAIL  manifest: https://localhost", result.stdout)
        self.assertIn("certificate", result.stdout)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--tool", "--key", "--setup"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
