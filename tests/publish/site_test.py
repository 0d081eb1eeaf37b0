#!/usr/bin/env python3
"""The release site from the publisher's side: `korvane-release site` lays a release out, and nginx
with the shipped configuration (site/nginx/, through site/local_nginx.py) serves it the way the
installer needs. Runs natively (no Wine).

    site_test.py --tool KORVANE_RELEASE --key PRIVATE_KEY.pem --public-key HEX128 --launcher KORLAUNCHER.exe
"""
import argparse
import hashlib
import http.client
import json
import os
import shutil
import ssl
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit import launcher_package, nginx  # noqa: E402
from testkit.test_ca import make_certificates  # noqa: E402

ARGS = None
MANIFEST_PATH = "downloads/launcher-release.json"


def sha256(path):
    with open(path, "rb") as handle:
        return hashlib.sha256(handle.read()).hexdigest()


def tree(folder):
    """Every file and folder under `folder`, relative, with a file's SHA-256."""
    found = {}
    for parent, folders, files in os.walk(folder):
        for name in folders:
            found[os.path.relpath(os.path.join(parent, name), folder)] = "folder"
        for name in files:
            found[os.path.relpath(os.path.join(parent, name), folder)] = sha256(os.path.join(parent, name))
    return found


class Site(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="korvane-site-")
        # Class clean-ups run even when setUpClass fails half-way, unlike tearDownClass.
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        cls.packages = {}
        for version in ("1.4.2", "1.4.3"):
            cls.packages[version] = launcher_package.make_package(
                os.path.join(cls.folder, f"built-{version}.zip"), ARGS.launcher, version)

    def setUp(self):
        self.site = tempfile.mkdtemp(dir=self.folder, prefix="www-")

    def lay_out(self, version, url, package=None, site=None):
        return subprocess.run([ARGS.tool, "site", package or self.packages[version], "--version", version,
                               "--url", url, "--key", ARGS.key, "--output", site or self.site],
                              capture_output=True, text=True)

    def test_lays_out_package_and_manifest_where_the_installer_asks(self):
        url = "https://downloads.example.invalid/downloads/launcher-1.4.2.zip"
        laid = self.lay_out("1.4.2", url)
        self.assertEqual(laid.returncode, 0, laid.stderr)
        package = os.path.join(self.site, "downloads", "launcher-1.4.2.zip")
        manifest = os.path.join(self.site, MANIFEST_PATH)
        self.assertEqual(sorted(tree(self.site)), ["downloads", "downloads/launcher-1.4.2.zip", MANIFEST_PATH])
        self.assertEqual(sha256(package), sha256(self.packages["1.4.2"]))
        verified = subprocess.run([ARGS.tool, "verify", manifest, "--public-key", ARGS.public_key,
                                   "--package", package], capture_output=True, text=True)
        self.assertEqual(verified.returncode, 0, verified.stderr)
        with open(manifest) as handle:
            self.assertEqual(json.load(handle)["url"], url)

        # The next release adds its package and takes over the manifest; the old package stays for
        # players who are still downloading it.
        laid = self.lay_out("1.4.3", "https://downloads.example.invalid/downloads/launcher-1.4.3.zip")
        self.assertEqual(laid.returncode, 0, laid.stderr)
        self.assertEqual(sha256(package), sha256(self.packages["1.4.2"]))
        with open(manifest) as handle:
            self.assertEqual(json.load(handle)["version"], "1.4.3")

    def test_a_published_package_is_never_replaced_by_other_bytes(self):
        url = "https://downloads.example.invalid/downloads/launcher.zip"
        self.assertEqual(self.lay_out("1.4.2", url).returncode, 0)
        self.assertEqual(self.lay_out("1.4.2", url).returncode, 0, "the same bytes again are fine")
        before = tree(self.site)
        refused = self.lay_out("1.4.3", url)
        self.assertEqual(refused.returncode, 1)
        self.assertIn("refusing to replace", refused.stderr)
        self.assertEqual(tree(self.site), before, "neither the package nor the manifest changed")

    def test_refuses_urls_that_do_not_name_a_plain_file(self):
        for url in ("https://h.invalid/downloads/../launcher.zip", "https://h.invalid/downloads/./launcher.zip",
                    "https://h.invalid/downloads//launcher.zip", "https://h.invalid/downloads/launcher.zip?v=2",
                    "https://h.invalid/downloads/launcher%2ezip", "https://h.invalid/downloads/.launcher.zip",
                    "https://h.invalid/downloads/launcher.zip#x", "https://h.invalid/", "https://h.invalid",
                    "https://h.invalid/downloads/launcher-release.json", "https://h.invalid/downloads/"):
            with self.subTest(url=url):
                refused = self.lay_out("1.4.2", url)
                self.assertEqual(refused.returncode, 1, refused.stderr)
                self.assertEqual(tree(self.site), {}, "nothing was written")

    def test_a_refused_release_writes_nothing(self):
        not_a_package = os.path.join(self.folder, "not-a-package.zip")
        with open(not_a_package, "wb") as handle:
            handle.write(b"PK" + bytes(100))
        good = self.packages["1.4.2"]
        for version, url, package in (("1.4", "https://h.invalid/downloads/launcher.zip", good),
                                      ("1.4.2", "http://h.invalid/downloads/launcher.zip", good),
                                      ("1.4.2", "https://h.invalid/downloads/launcher.zip", not_a_package)):
            with self.subTest(version=version, url=url, package=package):
                refused = self.lay_out(version, url, package=package)
                self.assertEqual(refused.returncode, 1, refused.stderr)
                self.assertEqual(tree(self.site), {})

    def test_never_writes_through_a_link(self):
        elsewhere = tempfile.mkdtemp(dir=self.folder, prefix="elsewhere-")
        os.symlink(elsewhere, os.path.join(self.site, "downloads"))
        refused = self.lay_out("1.4.2", "https://h.invalid/downloads/launcher.zip")
        self.assertEqual(refused.returncode, 1)
        self.assertIn("link", refused.stderr)
        self.assertEqual(os.listdir(elsewhere), [])

        os.remove(os.path.join(self.site, "downloads"))
        os.mkdir(os.path.join(self.site, "downloads"))
        target = os.path.join(elsewhere, "manifest.json")
        os.symlink(target, os.path.join(self.site, MANIFEST_PATH))
        refused = self.lay_out("1.4.2", "https://h.invalid/downloads/launcher.zip")
        self.assertEqual(refused.returncode, 1)
        self.assertFalse(os.path.exists(target))
        self.assertFalse(os.path.exists(os.path.join(self.site, "downloads", "launcher.zip")))


class ServedSite(unittest.TestCase):
    """The shipped nginx configuration serving a laid-out site."""

    @classmethod
    def setUpClass(cls):
        cls.state = tempfile.mkdtemp(prefix="korvane-served-site-")
        cls.addClassCleanup(shutil.rmtree, cls.state)
        make_certificates(cls.state)
        cls.port = nginx.free_port()
        www = os.path.join(cls.state, "www")
        package = launcher_package.make_package(os.path.join(cls.state, "launcher.zip"), ARGS.launcher, "2.0.0",
                                                size=2 << 20)
        subprocess.run([ARGS.tool, "site", package, "--version", "2.0.0", "--url",
                        f"https://localhost:{cls.port}/downloads/launcher-2.0.0.zip", "--key", ARGS.key,
                        "--output", www], check=True, capture_output=True)
        with open(package, "rb") as handle:
            cls.package = handle.read()
        with open(os.path.join(www, "downloads", ".launcher-2.0.1.zip.part"), "wb") as handle:
            handle.write(b"an upload in progress")
        cls.nginx = nginx.serve(cls.state, cls.port, www)
        cls.addClassCleanup(cls.nginx.wait)
        cls.addClassCleanup(cls.nginx.terminate)
        cls.context = ssl.create_default_context(cafile=os.path.join(cls.state, "ca.pem"))

    def get(self, path, method="GET", headers=None, body=None):
        connection = http.client.HTTPSConnection("localhost", self.port, context=self.context, timeout=10)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            return response.status, {k.lower(): v for k, v in response.getheaders()}, response.read()
        finally:
            connection.close()

    def assert_same_bytes(self, got, expected):
        # Not assertEqual: its diff of two 2 MiB byte strings takes minutes.
        self.assertTrue(got == expected, f"{len(got)} bytes differ from the expected {len(expected)}")

    def test_manifest_is_json_that_caches_must_revalidate(self):
        status, headers, body = self.get("/" + MANIFEST_PATH)
        self.assertEqual(status, 200)
        self.assertEqual(headers["content-type"], "application/json")
        self.assertEqual(headers["cache-control"], "no-cache")
        self.assertIn("etag", headers)
        self.assertEqual(json.loads(body)["version"], "2.0.0")

    def test_package_is_served_as_stored_with_exact_ranges(self):
        size = len(self.package)
        status, headers, body = self.get("/downloads/launcher-2.0.0.zip", headers={"Accept-Encoding": "gzip, br"})
        self.assertEqual(status, 200)
        self.assert_same_bytes(body, self.package)
        self.assertNotIn("content-encoding", headers)
        self.assertEqual(headers["content-type"], "application/zip")
        self.assertEqual(headers["accept-ranges"], "bytes")
        self.assertIn("immutable", headers["cache-control"])
        for first, last in ((0, 0), (1000, 65535), (size - 10, size - 1)):
            with self.subTest(range=(first, last)):
                status, headers, body = self.get("/downloads/launcher-2.0.0.zip",
                                                 headers={"Range": f"bytes={first}-{last}",
                                                          "Accept-Encoding": "gzip"})
                self.assertEqual(status, 206)
                self.assertEqual(headers["content-range"], f"bytes {first}-{last}/{size}")
                self.assert_same_bytes(body, self.package[first:last + 1])
        # Several ranges at once are answered with the whole file, never a multipart body.
        status, headers, body = self.get("/downloads/launcher-2.0.0.zip", headers={"Range": "bytes=0-9,20-29"})
        self.assertEqual(status, 200)
        self.assert_same_bytes(body, self.package)

    def test_refuses_what_a_player_never_sends(self):
        cases = [("POST", "/downloads/launcher-2.0.0.zip", None, 403),
                 ("PUT", "/" + MANIFEST_PATH, b"{}", 403),
                 ("GET", "/downloads/", None, 403),  # no listing
                 ("GET", "/downloads/.launcher-2.0.1.zip.part", None, 404),
                 ("GET", "/downloads/launcher-9.9.9.zip", None, 404),
                 ("GET", "/downloads/launcher-2.0.0.zip", b"x" * 4096, 413)]
        for method, path, body, expected in cases:
            with self.subTest(method=method, path=path):
                self.assertEqual(self.get(path, method, body=body)[0], expected)

    def test_plain_http_is_not_served(self):
        connection = http.client.HTTPConnection("localhost", self.port, timeout=10)
        try:
            connection.request("GET", "/" + MANIFEST_PATH)
            self.assertEqual(connection.getresponse().status, 400)
        finally:
            connection.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--tool", "--key", "--public-key", "--launcher"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
