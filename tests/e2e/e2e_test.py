#!/usr/bin/env python3
"""End-to-end tests of Korvane-Setup-loopback.exe: the real window, driven with xdotool under the X
server of DISPLAY (ctest runs this through scripts/with-xvfb.sh), against the loopback test servers
(the scripted "release" listener on the port the program has built in, and nginx), installing
launcher packages signed on the Linux side into the test prefix's default install folder.

Each scenario is checked with what the user would see (the screen, told from its pixels) and what
the file system holds (install folder, shortcuts read back through the shell, staging folders, the
stand-in launcher's marker). Every process started here is stopped on every path.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import time
import traceback
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import installer_window as ui  # noqa: E402
import launcher_package  # noqa: E402

MANIFEST_PATH = "/downloads/launcher-release.json"
SLOW_PATH = "/e2e/slow.zip"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait_until(condition, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(interval)
    return condition()


class Servers:
    """The running loopback servers (fixture `test_servers`), controlled over plain HTTP."""

    def __init__(self, folder):
        with open(os.path.join(folder, "ports")) as ports:
            self.ports = dict(line.strip().split("=", 1) for line in ports if "=" in line)
        check("release" in self.ports, "the test servers run without the release listener")

    def control(self, command, body=None):
        request = urllib.request.Request(f"http://127.0.0.1:{self.ports['control']}/{command}",
                                         data=json.dumps(body or {}).encode(), method="POST")
        with urllib.request.urlopen(request, timeout=10) as response:
            return json.load(response)

    def serve_manifest(self, answers):
        self.control("reset")
        self.control("script", {"path": MANIFEST_PATH, "responses": answers})

    def requested(self, path):
        return any(record["path"] == path for record in self.control("records")["records"])

    def url(self, listener, path):
        return f"https://localhost:{self.ports[listener]}{path}"


class Run:
    def __init__(self, args):
        self.args = args
        self.servers = Servers(args.servers)
        self.user = ui.prefix_users(args.prefix)[0]
        self.folder = ui.install_folder(self.user)
        self.windows_folder = f"C:\\users\\{os.path.basename(self.user)}\\AppData\\Local\\Programs\\Korvane Launcher"
        self.control = os.path.join(args.work, "control")
        self.processes = []
        shutil.rmtree(args.work, ignore_errors=True)
        os.makedirs(self.control)
        self.env = dict(os.environ, KORVANE_E2E_CONTROL=windows_path(self.control))
        self.releases = {version: self.publish(version) for version in ("1.0.0", "2.0.0")}

    # --- releases -----------------------------------------------------------------------------------

    def publish(self, version):
        """A package served by nginx and its manifest signed by the release tool."""
        folder = os.path.join(self.servers.ports["www"], "e2e")
        os.makedirs(folder, exist_ok=True)
        package = launcher_package.make_package(os.path.join(folder, f"launcher-{version}.zip"),
                                                self.args.launcher, version)
        manifest = launcher_package.sign_package(
            self.args.release_tool, self.args.key, package, version,
            self.servers.url("nginx", f"/e2e/launcher-{version}.zip"),
            os.path.join(self.args.work, f"launcher-{version}.json"))
        executable = launcher_package.package_files(self.args.launcher, version)["KORLAUNCHER/KORLAUNCHER.exe"]
        return {"manifest": manifest, "executable": executable}

    def serve_release(self, version):
        self.servers.serve_manifest([{"body": self.releases[version]["manifest"]}])

    def serve_slow_release(self):
        """A download that stalls for a while after its first bytes: time to cancel it."""
        self.servers.control("reset")
        size = 4 * 1024 * 1024
        sha256 = self.servers.control("file", {"name": "slow", "size": size, "seed": 9})["sha256"]
        manifest = launcher_package.signed_manifest(self.args.key, "3.0.0", size, sha256,
                                                    self.servers.url("release", SLOW_PATH))
        self.servers.control("script", {"path": MANIFEST_PATH, "responses": [{"body": manifest}]})
        self.servers.control("script", {"path": SLOW_PATH,
                                        "responses": [{"file": "slow", "stall_after": 262144, "stall": 5}]})

    # --- the installation on disk ---------------------------------------------------------------------

    def clean_installation(self):
        ui.remove_installation(self.user)

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
        check(not ui.staging_folders(self.user), f"staging folders left: {ui.staging_folders(self.user)}")

    def link_target(self, link):
        result = subprocess.run([self.args.wine_run, self.args.link_target, windows_path(link)],
                                capture_output=True, text=True, timeout=60)
        check(result.returncode == 0, f"cannot read {link}: {result.stderr.strip()}")
        return result.stdout.splitlines()

    # --- processes ----------------------------------------------------------------------------------

    def start(self, command):
        process = subprocess.Popen(command, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def start_installer(self):
        process = self.start([self.args.wine_run, self.args.installer])
        alive = lambda: process.poll() is None  # noqa: E731
        window = ui.InstallerWindow.find(90, alive=alive)
        check(window is not None, "the installer window did not appear")
        check(window.wait_for({"idle"}, 90, alive) is not None, "the start screen was not painted")
        return process, window

    def wait_exit(self, process, timeout, what):
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{what}: the process did not exit within {timeout} s")

    def close(self, process, window):
        window.click(*ui.CLOSE_BUTTON)
        check(self.wait_exit(process, 30, "close") == 0, "the installer did not exit with code 0")

    def stop_all(self):
        # A stand-in launcher that still holds its executable lets go on "release".
        open(os.path.join(self.control, "release"), "w").close()
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
        self.processes.clear()

    def wait_for(self, window, process, screens, timeout, what):
        frame = window.wait_for(screens, timeout, lambda: process.poll() is None)
        if frame is None:
            shown, _ = window.screen()
            raise Failure(f"{what}: expected {sorted(screens)}, the window shows {shown} "
                          f"(process {'running' if process.poll() is None else 'ended'})")
        return frame

    def wait_for_download(self):
        check(wait_until(lambda: self.servers.requested(SLOW_PATH), 60), "the package download never started")

    # --- scenarios -----------------------------------------------------------------------------------

    def fresh_install(self):
        self.clean_installation()
        self.serve_release("1.0.0")
        process, window = self.start_installer()
        window.click(*ui.INSTALL_BUTTON)
        self.wait_for(window, process, {"done"}, 120, "install")
        self.check_installed("1.0.0")
        expected = (self.windows_folder + "\\KORLAUNCHER.exe").lower()
        for link in ui.shortcut_paths(self.user):
            check(os.path.isfile(link), f"no shortcut {link}")
            target, working_folder = (self.link_target(link) + ["", ""])[:2]
            check(target.lower() == expected, f"{link} points at {target!r}, not {expected!r}")
            check(working_folder.lower() == self.windows_folder.lower(), f"{link} starts in {working_folder!r}")
        self.clear_control()
        window.click(*ui.INSTALL_BUTTON)  # "Запустить лаунчер"
        check(self.wait_exit(process, 30, "launch") == 0, "the installer did not exit with code 0 after the launch")
        marker = os.path.join(self.control, "launched.txt")
        check(wait_until(lambda: os.path.exists(marker), 60), "the installed launcher did not start")
        with open(marker) as handle:
            folder, _, command_line = handle.readline().rstrip("\n").partition("|")
        check(folder.lower() == self.windows_folder.lower(), f"the launcher started in {folder!r}")
        check(command_line.lower().startswith(f'"{expected}"'), f"the launcher's command line is {command_line!r}")
        os.remove(marker)

    def update_while_launcher_runs(self):
        if self.installed_version() != "1.0.0":
            self.fresh_install_quietly()
        self.clear_control()
        open(os.path.join(self.control, "hold"), "w").close()
        try:
            launcher = self.start([self.args.wine_run, os.path.join(self.folder, "KORLAUNCHER.exe")])
            check(wait_until(lambda: os.path.exists(os.path.join(self.control, "holding")), 60),
                  "the running launcher did not take hold of its executable")
            self.serve_release("2.0.0")
            process, window = self.start_installer()
            window.click(*ui.INSTALL_BUTTON)
            payload_ready = lambda: any(os.path.isdir(os.path.join(folder, "payload"))  # noqa: E731
                                        for folder in ui.staging_folders(self.user))
            check(wait_until(payload_ready, 120, 0.05), "the update never reached the placement")
            # The placement now waits for the held executable: nothing may be finished or replaced yet.
            time.sleep(1.5)
            shown, _ = window.screen()
            check(shown == "progress", f"the update did not wait for the running launcher (screen {shown})")
            check(self.installed_executable() == self.releases["1.0.0"]["executable"],
                  "the held executable was replaced while the launcher ran")
            open(os.path.join(self.control, "release"), "w").close()
            check(self.wait_exit(launcher, 30, "old launcher") == 0, "the old launcher failed")
            self.wait_for(window, process, {"done"}, 60, "update")
            self.check_installed("2.0.0")
            self.close(process, window)
        finally:
            self.clear_control()

    def clear_control(self):
        for name in ("hold", "holding", "release", "launched.txt"):
            if os.path.exists(os.path.join(self.control, name)):
                os.remove(os.path.join(self.control, name))

    def fresh_install_quietly(self):
        self.clean_installation()
        self.serve_release("1.0.0")
        process, window = self.start_installer()
        window.click(*ui.INSTALL_BUTTON)
        self.wait_for(window, process, {"done"}, 120, "install")
        self.close(process, window)

    def cancel_during_download(self):
        self.clean_installation()
        self.serve_slow_release()
        process, window = self.start_installer()
        window.click(*ui.INSTALL_BUTTON)
        started = time.monotonic()
        self.wait_for_download()
        # A second press within 0.6 s of the start counts as the rest of a double-click and cancels
        # nothing; a player who means to cancel presses later, and so does this test.
        time.sleep(max(0.0, started + 1.0 - time.monotonic()))
        window.click(*ui.INSTALL_BUTTON)  # "Отменить установку"
        self.wait_for(window, process, {"idle"}, 60, "cancel")
        check(not ui.staging_folders(self.user), f"staging folders left: {ui.staging_folders(self.user)}")
        check(not os.path.exists(self.folder), "the cancelled install left an install folder")
        window.click(844, 38)  # the window's close cross
        check(self.wait_exit(process, 30, "close") == 0, "the installer did not exit with code 0")

    def release_site_down(self):
        self.clean_installation()
        self.servers.serve_manifest([{"drop": True}])
        process, window = self.start_installer()
        window.click(*ui.INSTALL_BUTTON)
        frame = self.wait_for(window, process, {"failed"}, 120, "site down")
        check(ink(frame, (360, 248, 460, 158)) > 100, "the error screen shows no message")
        check(not ui.staging_folders(self.user), "a failed install left a staging folder")
        self.serve_release("1.0.0")
        window.click(*ui.INSTALL_BUTTON)  # "Повторить"
        self.wait_for(window, process, {"done"}, 120, "retry")
        self.check_installed("1.0.0")
        self.close(process, window)

    def escape_during_install(self):
        self.clean_installation()
        self.serve_slow_release()
        process, window = self.start_installer()
        window.click(*ui.INSTALL_BUTTON)
        self.wait_for_download()
        downloading = self.wait_for(window, process, {"progress"}, 10, "download").region(ui.HEADING)
        window.key("Escape")
        # The download is stalled: the heading that changes now is the cancelling one.
        changed = lambda: (lambda frame: frame is not None and frame.screen() == "progress"  # noqa: E731
                           and ui.regions_differ(frame.region(ui.HEADING), downloading))(window.capture())
        check(wait_until(changed, 4, 0.05), "no cancelling heading after Esc")
        check(self.wait_exit(process, 60, "Esc") == 0, "the installer did not exit with code 0 after Esc")
        check(not window.exists(), "the window is still shown")
        check(not ui.staging_folders(self.user), "the cancelled install left a staging folder")


def ink(frame, box):
    """Pixels of a box unlike the background: text drawn there."""
    region = frame.region(box)
    return sum(1 for i in range(0, len(region), 3) if not ui.near(tuple(region[i:i + 3]), ui.BACKGROUND, 40))


def main():
    parser = argparse.ArgumentParser()
    for name in ("wine-run", "installer", "launcher", "link-target", "release-tool", "key", "prefix", "servers",
                 "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--only", help="run the scenarios whose name contains this")
    args = parser.parse_args()
    run = Run(args)
    scenarios = [run.fresh_install, run.update_while_launcher_runs, run.cancel_during_download,
                 run.release_site_down, run.escape_during_install]
    failed = []
    try:
        for scenario in scenarios:
            if args.only and args.only not in scenario.__name__:
                continue
            started = time.monotonic()
            try:
                scenario()
                print(f"[ passed ] {scenario.__name__} ({time.monotonic() - started:.1f} s)", flush=True)
            except Exception as error:  # noqa: BLE001 - every scenario runs and reports
                failed.append(scenario.__name__)
                print(f"[ FAILED ] {scenario.__name__}: {error}", flush=True)
                if not isinstance(error, Failure):
                    traceback.print_exc()
            finally:
                run.stop_all()
    finally:
        run.stop_all()
        run.clean_installation()
    print(f"e2e: {len(failed)} failed" + (f": {', '.join(failed)}" if failed else ""))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
