#!/usr/bin/env python3
"""The mistakes a publisher makes with the release tool, each refused with the exit code and a message
that names it, and nothing half-written; the tool's help and keys; pack's determinism and its agreement
with the installer's verdict; the binding to the built Korvane-Setup.exe. Runs natively (no Wine).

    publisher_tool_test.py --tool KORVANE_RELEASE --key PRIVATE_KEY.pem --public-key HEX128
                           --setup Korvane-Setup.exe --host RELEASE_HOST
"""
import argparse
import json
import os
import pty
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit.launcher_package import SEED_FILES  # noqa: E402

ARGS = None
COMMANDS = ["keygen", "pubkey", "pack", "check", "sign", "site", "verify", "inspect", "probe"]
MANIFEST_PATH = os.path.join("downloads", "launcher-release.json")


def run(*arguments, **options):
    # A session of its own: no controlling terminal, so a protected key can never wait for a prompt.
    return subprocess.run([ARGS.tool, *arguments], capture_output=True, text=True, start_new_session=True,
                          stdin=subprocess.DEVNULL, **options)


def listing(folder):
    found = []
    for parent, folders, files in os.walk(folder):
        found += [os.path.relpath(os.path.join(parent, name), folder) for name in folders + files]
    return sorted(found)


def write_launcher_folder(folder, files=None):
    """The launcher folder a publisher packs: the seed package's files without the top folder."""
    for name, data in (files or SEED_FILES).items():
        path = os.path.join(folder, name.split("/", 1)[1])
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(data)
    return folder


class Workspace(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="korvane-publisher-")
        self.addCleanup(shutil.rmtree, self.folder)

    def path(self, *names):
        return os.path.join(self.folder, *names)

    def packed(self, name="launcher.zip"):
        source = write_launcher_folder(self.path("launcher-" + name))
        result = run("pack", source, "--output", self.path(name))
        self.assertEqual(result.returncode, 0, result.stderr)
        return self.path(name)

    def assert_refused(self, result, *phrases, code=1):
        self.assertEqual(result.returncode, code, result.stdout + result.stderr)
        for phrase in phrases:
            self.assertIn(phrase, result.stdout + result.stderr)


class Help(Workspace):
    def test_help_and_version_go_to_stdout_with_exit_0(self):
        for arguments in [("--help",), ("-h",), ("help",), ("help", "sign"),
                          *[(command, "--help") for command in COMMANDS], *[(command, "-h") for command in COMMANDS],
                          ("sign", "launcher.zip", "--version", "1.0.0", "-h")]:
            with self.subTest(arguments):
                result = run(*arguments)
                self.assertEqual((result.returncode, result.stderr), (0, ""))
                self.assertTrue(result.stdout.startswith("usage: korvane-release"), result.stdout)
        self.assertIn("--passphrase-file", run("sign", "--help").stdout)
        self.assertIn("KORLAUNCHER/assets/", run("check", "--help").stdout)
        version = run("--version")
        self.assertEqual((version.returncode, version.stderr), (0, ""))
        self.assertRegex(version.stdout, r"^korvane-release \d+\.\d+\.\d+ \(OpenSSL 3")

    def test_a_wrong_command_line_exits_2_with_the_commands_usage(self):
        for arguments, usage in [(("sign", "launcher.zip", "--help-me"), "korvane-release sign"),
                                 (("pack", "folder"), "korvane-release pack"),
                                 (("verify", "m.json"), "korvane-release verify"),
                                 (("site", "p.zip", "--allow-downgrade", "--allow-downgrade"), "korvane-release site")]:
            with self.subTest(arguments):
                result = run(*arguments)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, "")
                self.assertIn("usage: " + usage, result.stderr)


class Keys(Workspace):
    def test_keygen_writes_the_public_key_file_and_pubkey_prints_it_again(self):
        made = run("keygen", self.path("release.pem"))
        self.assertEqual(made.returncode, 0, made.stderr)
        with open(self.path("release.pub")) as handle:
            self.assertEqual(handle.read(), made.stdout)
        self.assertEqual(run("pubkey", self.path("release.pem")).stdout, made.stdout)

        # A public key file already there is never replaced, and then no private key is made either.
        again = run("keygen", self.path("other.pem"))
        self.assertEqual(again.returncode, 0)
        os.remove(self.path("other.pem"))
        refused = run("keygen", self.path("other.pem"))
        self.assert_refused(refused, "other.pub", "must not exist")
        self.assertFalse(os.path.exists(self.path("other.pem")))

    def test_a_passphrase_comes_from_a_file_or_one_prompt_never_the_command_line(self):
        with open(self.path("pass.txt"), "w") as handle:
            handle.write("correct horse\n")
        with open(self.path("wrong.txt"), "w") as handle:
            handle.write("battery staple\n")
        made = run("keygen", self.path("protected.pem"), "--passphrase-file", self.path("pass.txt"))
        self.assertEqual(made.returncode, 0, made.stderr)
        with open(self.path("protected.pem")) as handle:
            self.assertIn("ENCRYPTED", handle.read())
        package = self.packed()

        def sign(*extra):
            return run("sign", package, "--version", "1.0.0", "--url", "https://h.invalid/l.zip", "--key",
                       self.path("protected.pem"), "--output", self.path("m.json"), *extra)

        self.assert_refused(sign(), "protected by a passphrase", "--passphrase-file")
        self.assert_refused(sign("--passphrase-file", self.path("wrong.txt")), "wrong passphrase")
        self.assertFalse(os.path.exists(self.path("m.json")))
        signed = sign("--passphrase-file", self.path("pass.txt"))
        self.assertEqual(signed.returncode, 0, signed.stderr)
        verified = run("verify", self.path("m.json"), "--public-key", made.stdout.strip(), "--package", package)
        self.assertEqual(verified.returncode, 0, verified.stderr)

        # On a terminal the passphrase is asked for once.
        pid, terminal = pty.fork()
        if pid == 0:
            os.execv(ARGS.tool, [ARGS.tool, "pubkey", self.path("protected.pem")])
        shown = b""
        while b"passphrase" not in shown:
            shown += os.read(terminal, 1024)
        os.write(terminal, b"correct horse\n")
        while True:
            try:
                chunk = os.read(terminal, 1024)
            except OSError:  # the child closed the terminal
                break
            if not chunk:
                break
            shown += chunk
        _, status = os.waitpid(pid, 0)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0, shown)
        self.assertEqual(shown.count(b"passphrase for"), 1, shown)
        self.assertIn(made.stdout.strip().encode(), shown)

    def test_verify_takes_the_public_key_in_either_case_or_from_a_file(self):
        package = self.packed()
        signed = run("sign", package, "--version", "1.0.0", "--url", "https://h.invalid/l.zip", "--key", ARGS.key,
                     "--output", self.path("m.json"))
        self.assertEqual(signed.returncode, 0, signed.stderr)
        with open(self.path("hex.pub"), "w") as handle:
            handle.write(ARGS.public_key.upper() + "\n")
        subprocess.run(["openssl", "pkey", "-in", ARGS.key, "-pubout", "-out", self.path("public.pem")], check=True)
        for key in (ARGS.public_key, ARGS.public_key.upper(), self.path("hex.pub"), self.path("public.pem")):
            with self.subTest(key):
                result = run("verify", self.path("m.json"), "--public-key", key, "--package", package)
                self.assertEqual(result.returncode, 0, result.stderr)


class Mistakes(Workspace):
    """Each mistake: exit 1, one line naming it (and what players would see), no manifest written."""

    def test_each_mistake_is_named_and_writes_nothing(self):
        package = self.packed()
        manifest = self.path("published", "m.json")
        os.mkdir(self.path("published"))
        self.assertEqual(run("sign", package, "--version", "1.0.0", "--url", "https://h.invalid/l.zip", "--key",
                             ARGS.key, "--output", manifest).returncode, 0)
        other = self.path("other.pem")
        other_public = run("keygen", other).stdout.strip()
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024", "-out",
                        self.path("rsa.pem")], check=True, capture_output=True)
        out = self.path("out.json")
        changed = self.path("changed.zip")
        with open(package, "rb") as source, open(changed, "wb") as target:
            data = bytearray(source.read())
            data[len(data) // 2] ^= 1
            target.write(data)

        def sign(package=package, key=ARGS.key, version="1.0.0", extra=()):
            return ("sign", package, "--version", version, "--url", "https://h.invalid/l.zip", "--key", key,
                    "--output", out, *extra)

        cases = {
            "a missing package": (("check", self.path("nothing.zip")), ["nothing.zip: no such file"]),
            "the manifest given as the package": (("check", manifest), [
                "m.json: not a ZIP archive", "JSON text: the manifest?", "Повреждён ZIP обновления"]),
            "the manifest signed as a package": (sign(package=manifest), ["JSON text", "Повреждён ZIP обновления"]),
            "a folder as the package": (sign(package=self.folder), ["a folder"]),
            "the package given as the manifest": (("verify", package, "--public-key", ARGS.public_key), [
                "is a ZIP archive, not a release manifest", "Обновление не подписано издателем"]),
            "a missing manifest": (("verify", self.path("none.json"), "--public-key", ARGS.public_key),
                                   ["none.json: no such file"]),
            "a missing key": (sign(key=self.path("none.pem")), ["none.pem: no such file"]),
            "the public key given as --key": (sign(key=self.path("other.pub")), ["holds a public key"]),
            "a key that is no key": (sign(key=package), ["is not a PEM private key", "ZIP archive"]),
            "an RSA key": (sign(key=self.path("rsa.pem")), ["not an ECDSA P-256 key"]),
            "a private key given as --public-key": (("verify", manifest, "--public-key", ARGS.key),
                                                    ["is a private key", "pubkey"]),
            "a --public-key that is neither": (("verify", manifest, "--public-key", "abc"),
                                               ["neither 128 hex characters nor an existing file"]),
            "another key than the installer's": (sign(extra=("--public-key", other_public)), [
                "is not the public key", "Подпись обновления недействительна"]),
            "a manifest under another key": (("verify", manifest, "--public-key", other_public), [
                "does not verify", "Подпись обновления недействительна"]),
            "a changed package": (("verify", manifest, "--public-key", ARGS.public_key, "--package", changed),
                                  ["SHA-256 differs", "Архив обновления изменён"]),
            "a two-number version": (sign(version="1.0"), ["X.Y.Z", "Некорректная версия обновления"]),
        }
        for label, (arguments, phrases) in cases.items():
            with self.subTest(label):
                before = listing(self.folder)
                result = run(*arguments)
                self.assert_refused(result, *phrases)
                # check lists the problems on stdout and counts them on stderr; the rest say it in one line.
                self.assertEqual(len(result.stderr.strip().splitlines()), 1, result.stderr)
                self.assertLessEqual(len(result.stdout.strip().splitlines()), 1, result.stdout)
                self.assertEqual(listing(self.folder), before, "nothing was written")


class Pack(Workspace):
    def test_the_same_folder_gives_the_same_bytes_and_the_installer_takes_them(self):
        first = write_launcher_folder(self.path("first"))
        # Another copy: other times, modes and creation order, packed in another time zone.
        second = self.path("second")
        write_launcher_folder(second, dict(reversed(list(SEED_FILES.items()))))
        for parent, _, files in os.walk(second):
            for name in files:
                os.utime(os.path.join(parent, name), (1_000_000_000, 1_000_000_000))
                os.chmod(os.path.join(parent, name), 0o755)
        self.assertEqual(run("pack", first, "--output", self.path("a.zip")).returncode, 0)
        packed = run("pack", second, "--output", self.path("b.zip"), env=dict(os.environ, TZ="Asia/Tokyo"))
        self.assertEqual(packed.returncode, 0, packed.stderr)
        with open(self.path("a.zip"), "rb") as a, open(self.path("b.zip"), "rb") as b:
            self.assertTrue(a.read() == b.read(), "the two packages differ")

        with zipfile.ZipFile(self.path("a.zip")) as archive:
            infos = archive.infolist()
            self.assertEqual([info.filename for info in infos], sorted(SEED_FILES))
            self.assertEqual({(info.date_time, info.external_attr) for info in infos}, {((1980, 1, 1, 0, 0, 0), 0)})
            self.assertEqual({name: archive.read(name) for name in SEED_FILES}, SEED_FILES)
        # The installer's own verdict (the same sources) accepts it; release_tests extracts one under Wine.
        checked = run("check", self.path("a.zip"))
        self.assertEqual(checked.stdout, "ok: 6 entries, 6 files\n")

    def test_a_folder_the_installer_would_refuse_is_named_and_nothing_is_written(self):
        lower_case = write_launcher_folder(self.path("lower-case"))
        os.rename(os.path.join(lower_case, "KORLAUNCHER.exe"), os.path.join(lower_case, "korlauncher.exe"))
        with_notes = write_launcher_folder(self.path("with-notes"))
        with open(os.path.join(with_notes, "notes.txt"), "w") as handle:
            handle.write("release notes")
        with_link = write_launcher_folder(self.path("with-link"))
        os.symlink(os.path.join(with_link, "launcher.json"), os.path.join(with_link, "assets", "link.json"))
        above = self.path("above")
        write_launcher_folder(os.path.join(above, "KORLAUNCHER"))
        incomplete = write_launcher_folder(self.path("incomplete"))
        os.remove(os.path.join(incomplete, "shaders", "ui.frag.spv"))
        # What zip -r makes of the launcher folder: check says what to do instead.
        with zipfile.ZipFile(self.path("zip-r.zip"), "w") as archive:
            for name, data in SEED_FILES.items():
                archive.writestr("launcher/" + name.split("/", 1)[1], data)
        self.assert_refused(run("check", self.path("zip-r.zip")), "korvane-release pack FOLDER")
        cases = {
            lower_case: ['"KORLAUNCHER/korlauncher.exe": the required file must be spelt "KORLAUNCHER/KORLAUNCHER.exe"',
                         "Недопустимый путь обновления"],
            with_notes: ['"KORLAUNCHER/notes.txt": files go only at', "Недопустимый путь обновления"],
            with_link: ["link.json: a symbolic link; pack follows no link"],
            above: ['"KORLAUNCHER/KORLAUNCHER/KORLAUNCHER.exe"', "give the folder that holds KORLAUNCHER.exe"],
            incomplete: ['missing "KORLAUNCHER/shaders/ui.frag.spv"', "В обновлении отсутствуют файлы лаунчера"],
            self.path("none"): ["no such folder"],
        }
        os.mkdir(self.path("out"))
        for folder, phrases in cases.items():
            with self.subTest(os.path.basename(folder)):
                result = run("pack", folder, "--output", self.path("out", "launcher.zip"))
                self.assert_refused(result, "nothing was written" if os.path.isdir(folder) else "", *phrases)
                self.assertEqual(os.listdir(self.path("out")), [])
        # The lower-case executable is one problem, not also a missing file.
        result = run("pack", lower_case, "--output", self.path("out", "launcher.zip"))
        self.assertNotIn("missing", result.stderr)
        self.assert_refused(run("pack", lower_case, "--output", os.path.join(lower_case, "assets", "l.zip")),
                            "lies inside the folder being packed")


class Downgrade(Workspace):
    def lay_out(self, version, *extra):
        package = self.packed(f"launcher-{version}.zip")
        return run("site", package, "--version", version, "--url",
                   f"https://h.invalid/downloads/launcher-{version}.zip", "--key", ARGS.key, "--output",
                   self.path("www"), *extra)

    def test_an_older_version_than_the_published_one_needs_allow_downgrade(self):
        self.assertEqual(self.lay_out("1.4.3").returncode, 0)
        with open(self.path("www", MANIFEST_PATH), "rb") as handle:
            published = handle.read()
        refused = self.lay_out("1.4.2")
        self.assert_refused(refused, "1.4.2 is older than 1.4.3", "--allow-downgrade")
        self.assertEqual(listing(self.path("www")), ["downloads", "downloads/launcher-1.4.3.zip", MANIFEST_PATH])
        with open(self.path("www", MANIFEST_PATH), "rb") as handle:
            self.assertEqual(handle.read(), published)
        self.assertEqual(self.lay_out("1.4.3").returncode, 0, "the same version again is fine")
        allowed = self.lay_out("1.4.2", "--allow-downgrade")
        self.assertEqual(allowed.returncode, 0, allowed.stderr)
        with open(self.path("www", MANIFEST_PATH)) as handle:
            self.assertEqual(json.load(handle)["version"], "1.4.2")


class Binding(Workspace):
    """The release key built into Korvane-Setup.exe decides which signing key the tool accepts."""

    def test_sign_site_and_verify_hold_to_the_key_built_into_the_installer(self):
        package = self.packed()
        other = self.path("other.pem")
        run("keygen", other)
        signed = run("sign", package, "--version", "1.0.0", "--url", "https://h.invalid/l.zip", "--key", ARGS.key,
                     "--setup", ARGS.setup, "--output", self.path("m.json"))
        self.assertEqual(signed.returncode, 0, signed.stderr)
        verified = run("verify", self.path("m.json"), "--setup", ARGS.setup, "--package", package)
        self.assertEqual(verified.returncode, 0, verified.stderr)

        before = listing(self.folder)
        for command, output in (("sign", self.path("other.json")), ("site", self.path("www"))):
            with self.subTest(command):
                result = run(command, package, "--version", "1.0.0", "--url", "https://h.invalid/downloads/l.zip",
                             "--key", other, "--setup", ARGS.setup, "--output", output)
                self.assert_refused(result, f"is not the key built into {ARGS.setup}", "nothing was written")
                self.assertEqual(listing(self.folder), before)

        # The program itself is no key, and a file that is no program says so.
        self.assert_refused(run("verify", self.path("m.json"), "--setup", package), "is a ZIP archive")

    def test_inspect_shows_the_key_and_host_built_in(self):
        shown = run("inspect", ARGS.setup)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn(f"release public key: {ARGS.public_key}\n", shown.stdout)
        self.assertIn(f"release host: {ARGS.host}\n", shown.stdout)
        self.assertIn(f"manifest: https://{ARGS.host}/downloads/launcher-release.json\n", shown.stdout)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for name in ("--tool", "--key", "--public-key", "--setup", "--host"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
