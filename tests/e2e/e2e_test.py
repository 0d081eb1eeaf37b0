#!/usr/bin/env python3
"""End-to-end tests of Korvane-Setup-loopback.exe: the real window, driven with xdotool under the X
server of DISPLAY (ctest runs this through scripts/with-xvfb.sh), against the loopback test servers
(the scripted "release" listener on the port the program has built in, and nginx), installing
launcher packages signed on the Linux side into the test prefix's default install folder.

Each scenario is checked with what the user would see (the screen, told from its pixels) and what
the file system holds (install folder, shortcuts read back through the shell, staging folders, the
stand-in launcher's marker). Every process started here is stopped on every path.

    e2e_test.py --wine-run ... --work DIR [unittest options, e.g. -k cancel]
"""
import json
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit import launcher_package, prefix, signing, window as ui  # noqa: E402
from testkit.checks import Failure, check, wait_until  # noqa: E402
from testkit.servers import MANIFEST_PATH  # noqa: E402
from testkit.session import Session, parse_arguments  # noqa: E402

SLOW_PATH = "/e2e/slow.zip"
ARGS = None


class Installation(Session):
    """The session with the two published releases and the stand-in launcher's control folder."""

    def __init__(self, args):
        control = os.path.join(args.work, "control")
        super().__init__(args, dict(os.environ, KORVANE_E2E_CONTROL=prefix.windows_path(control)))
        self.control = control
        os.makedirs(self.control)
        self.windows_folder = prefix.windows_install_folder(self.user)
        self.releases = {version: self.publish(version) for version in ("1.0.0", "2.0.0")}

    # --- releases -----------------------------------------------------------------------------------

    def publish(self, version):
        """A package served by nginx and its manifest signed by the release tool."""
        package = launcher_package.make_package(os.path.join(self.servers.www("e2e"), f"launcher-{version}.zip"),
                                                self.args.launcher, version)
        manifest = launcher_package.sign_package(
            self.args.release_tool, self.args.key, package, version,
            self.servers.url("nginx", f"/e2e/launcher-{version}.zip"),
            os.path.join(self.args.work, f"launcher-{version}.json"))
        return {"manifest": manifest, "executable": launcher_package.executable(self.args.launcher, version)}

    def serve_release(self, version):
        self.servers.serve_manifest([{"body": self.releases[version]["manifest"]}])

    def serve_slow_release(self):
        """A download that stalls for a while after its first bytes: time to cancel it."""
        self.servers.control("reset")
        size = 4 * 1024 * 1024
        sha256 = self.servers.control("file", {"name": "slow", "size": size, "seed": 9})["sha256"]
        manifest = signing.signed_manifest_text(self.args.key, "3.0.0", size, sha256,
                                                self.servers.url("release", SLOW_PATH))
        self.servers.control("script", {"path": MANIFEST_PATH, "responses": [{"body": manifest}]})
        self.servers.control("script", {"path": SLOW_PATH,
                                        "responses": [{"file": "slow", "stall_after": 262144, "stall": 5}]})

    # --- the installation on disk ---------------------------------------------------------------------

    def installed_version(self):
        try:
            with open(os.path.join(self.folder, "launcher.json")) as handle:
                return json.load(handle)["version"]
        except (OSError, ValueError):
            return None

    def installed_executable(self):
        with open(os.path.join(self.folder, "KORLAUNCHER.exe"), "rb") as handle:
            return handle.read()

    def check_installed(self, version):
        check(self.installed_version() == version, f"launcher.json says {self.installed_version()}, not {version}")
        check(self.installed_executable() == self.releases[version]["executable"],
              f"KORLAUNCHER.exe is not the one of release {version}")
        check(not prefix.staging_folders(self.user), f"staging folders left: {prefix.staging_folders(self.user)}")

    def link_target(self, link):
        result = subprocess.run([self.args.wine_run, self.args.link_target, prefix.windows_path(link)],
                                capture_output=True, text=True, timeout=60)
        check(result.returncode == 0, f"cannot read {link}: {result.stderr.strip()}")
        return result.stdout.splitlines()

    # --- processes ----------------------------------------------------------------------------------

    def close(self, process, window):
        window.press("secondaryButton")  # "Закрыть"
        check(self.wait_exit(process, 30, "close") == 0, "the installer did not exit with code 0")

    def stop_all(self):
        # A stand-in launcher that still holds its executable lets go on "release".
        open(os.path.join(self.control, "release"), "w").close()
        super().stop_all()

    def wait_for(self, window, process, screens, timeout, what):
        frame = window.wait_for(screens, timeout, lambda: process.poll() is None)
        if frame is None:
            shown, _ = window.screen()
            raise Failure(f"{what}: expected {sorted(screens)}, the window shows {shown} "
                          f"(process {'running' if process.poll() is None else 'ended'})")
        return frame

    def wait_for_download(self):
        check(wait_until(lambda: self.servers.requested(SLOW_PATH), 60), "the package download never started")

    def clear_control(self):
        for name in ("hold", "holding", "release", "launched.txt"):
            if os.path.exists(os.path.join(self.control, name)):
                os.remove(os.path.join(self.control, name))

    def fresh_install_quietly(self):
        self.clean_installation()
        self.serve_release("1.0.0")
        process, window = self.start_installer()
        window.press("primaryButton")
        self.wait_for(window, process, {"done"}, 120, "install")
        self.close(process, window)


def ink(frame, box):
    """Pixels of a box unlike the background: text drawn there."""
    region = frame.region(box)
    return sum(1 for i in range(0, len(region), 3) if not ui.near(tuple(region[i:i + 3]), ui.BACKGROUND, 40))


class Scenarios(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = session = Installation(ARGS)
        # Class clean-ups run even when setUpClass fails half-way, unlike tearDownClass.
        cls.addClassCleanup(session.clean_installation)
        cls.addClassCleanup(session.stop_all)

    def tearDown(self):
        self.session.stop_all()

    def test_fresh_install(self):
        s = self.session
        s.clean_installation()
        s.serve_release("1.0.0")
        process, window = s.start_installer()
        window.press("primaryButton")  # "Установить лаунчер"
        s.wait_for(window, process, {"done"}, 120, "install")
        s.check_installed("1.0.0")
        expected = (s.windows_folder + "\\KORLAUNCHER.exe").lower()
        for link in prefix.shortcut_paths(s.user):
            check(os.path.isfile(link), f"no shortcut {link}")
            target, working_folder = (s.link_target(link) + ["", ""])[:2]
            check(target.lower() == expected, f"{link} points at {target!r}, not {expected!r}")
            check(working_folder.lower() == s.windows_folder.lower(), f"{link} starts in {working_folder!r}")
        s.clear_control()
        window.press("launchButton")  # "Запустить лаунчер"
        check(s.wait_exit(process, 30, "launch") == 0, "the installer did not exit with code 0 after the launch")
        marker = os.path.join(s.control, "launched.txt")
        check(wait_until(lambda: os.path.exists(marker), 60), "the installed launcher did not start")
        with open(marker) as handle:
            folder, _, command_line = handle.readline().rstrip("\n").partition("|")
        check(folder.lower() == s.windows_folder.lower(), f"the launcher started in {folder!r}")
        check(command_line.lower().startswith(f'"{expected}"'), f"the launcher's command line is {command_line!r}")
        os.remove(marker)

    def test_update_while_launcher_runs(self):
        s = self.session
        if s.installed_version() != "1.0.0":
            s.fresh_install_quietly()
        s.clear_control()
        open(os.path.join(s.control, "hold"), "w").close()
        try:
            launcher = s.start([s.args.wine_run, os.path.join(s.folder, "KORLAUNCHER.exe")])
            check(wait_until(lambda: os.path.exists(os.path.join(s.control, "holding")), 60),
                  "the running launcher did not take hold of its executable")
            s.serve_release("2.0.0")
            process, window = s.start_installer()
            window.press("primaryButton")
            payload_ready = lambda: any(os.path.isdir(os.path.join(folder, "payload"))  # noqa: E731
                                        for folder in prefix.staging_folders(s.user))
            check(wait_until(payload_ready, 120, 0.05), "the update never reached the placement")
            # The placement now waits for the held executable: nothing may be finished or replaced yet.
            time.sleep(1.5)
            shown, _ = window.screen()
            check(shown == "progress", f"the update did not wait for the running launcher (screen {shown})")
            check(s.installed_executable() == s.releases["1.0.0"]["executable"],
                  "the held executable was replaced while the launcher ran")
            open(os.path.join(s.control, "release"), "w").close()
            check(s.wait_exit(launcher, 30, "old launcher") == 0, "the old launcher failed")
            s.wait_for(window, process, {"done"}, 60, "update")
            s.check_installed("2.0.0")
            s.close(process, window)
        finally:
            s.clear_control()

    def test_cancel_during_download(self):
        s = self.session
        s.clean_installation()
        s.serve_slow_release()
        process, window = s.start_installer()
        window.press("primaryButton")
        started = time.monotonic()
        s.wait_for_download()
        # A second press within 0.6 s of the start counts as the rest of a double-click and cancels
        # nothing; a player who means to cancel presses later, and so does this test.
        time.sleep(max(0.0, started + 1.0 - time.monotonic()))
        window.press("primaryButton")  # "Отменить установку"
        s.wait_for(window, process, {"idle"}, 60, "cancel")
        check(not prefix.staging_folders(s.user), f"staging folders left: {prefix.staging_folders(s.user)}")
        check(not os.path.exists(s.folder), "the cancelled install left an install folder")
        window.press("closeButton")  # the window's close cross
        check(s.wait_exit(process, 30, "close") == 0, "the installer did not exit with code 0")

    def test_release_site_down(self):
        s = self.session
        s.clean_installation()
        s.servers.serve_manifest([{"drop": True}])
        process, window = s.start_installer()
        window.press("primaryButton")
        frame = s.wait_for(window, process, {"failed"}, 120, "site down")
        check(ink(frame, (360, 248, 460, 158)) > 100, "the error screen shows no message")
        check(not prefix.staging_folders(s.user), "a failed install left a staging folder")
        s.serve_release("1.0.0")
        window.press("primaryButton")  # "Повторить"
        s.wait_for(window, process, {"done"}, 120, "retry")
        s.check_installed("1.0.0")
        s.close(process, window)

    def test_escape_during_install(self):
        s = self.session
        s.clean_installation()
        s.serve_slow_release()
        process, window = s.start_installer()
        window.press("primaryButton")
        s.wait_for_download()
        downloading = s.wait_for(window, process, {"progress"}, 10, "download").region(ui.HEADING)
        window.key("Escape")
        # The download is stalled: the heading that changes now is the cancelling one.
        changed = lambda: (lambda frame: frame is not None and frame.screen() == "progress"  # noqa: E731
                           and ui.regions_differ(frame.region(ui.HEADING), downloading))(window.capture())
        check(wait_until(changed, 4, 0.05), "no cancelling heading after Esc")
        check(s.wait_exit(process, 60, "Esc") == 0, "the installer did not exit with code 0 after Esc")
        check(not window.exists(), "the window is still shown")
        check(not prefix.staging_folders(s.user), "the cancelled install left a staging folder")


if __name__ == "__main__":
    ARGS, rest = parse_arguments(extra_options=("link-target",))
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
