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
import ntpath
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit import launcher_package, prefix, signing, window as ui  # noqa: E402
from testkit.known_dlls import is_known  # noqa: E402
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
        self.headers_before = set()

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

    # --- the support log ------------------------------------------------------------------------------

    def log_blocks(self):
        """The support log of the prefix's user (%TEMP%\\Korvane-Setup.log) as (header, lines) blocks."""
        blocks = []
        try:
            with open(os.path.join(self.user, "Temp", "Korvane-Setup.log"), encoding="utf-8") as log:
                for line in log.read().splitlines():
                    if line.startswith("== "):
                        blocks.append((line, []))
                    elif blocks:
                        blocks[-1][1].append(line)
        except FileNotFoundError:
            pass
        return blocks

    def new_runs(self):
        """The lines of each run logged since the last installer was started here: the prefix's
        %TEMP% holds the runs of every scenario (and of any other program of this prefix)."""
        return [lines for header, lines in self.log_blocks() if header not in self.headers_before]

    def check_logged(self, lines, *patterns):
        """Each pattern (a regular expression) matches one line of the run; the line matched last."""
        found = None
        for pattern in patterns:
            found = next((line for line in lines if re.search(pattern, line)), None)
            check(found is not None, f"the support log has no line like {pattern!r}; the run logged:\n"
                  + "\n".join(lines))
        return found

    def start_installer(self, program=None, **start_options):
        self.headers_before = {header for header, _ in self.log_blocks()}
        return super().start_installer(program, **start_options)

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

    def whole_road(self, program, folder, env, trace=os.devnull):
        """`program` started in the current folder `folder` with `env` added to its environment, over
        every road that loads DLLs: the start screen, the folder dialog (shown, then cancelled), a fresh
        install and the launch. Wine's output goes to `trace`."""
        self.clean_installation()
        self.serve_release("1.0.0")
        self.clear_control()
        with open(trace, "w") as output:
            process, window = self.start_installer(program, env=env, cwd=folder, stderr=output)
            window.press("changeButton")  # "Изменить папку"
            check(press_escape_in_other_window(window, 60), "the folder dialog did not appear")
            self.wait_for(window, process, {"idle"}, 30, "folder dialog")
            window.press("primaryButton")
            self.wait_for(window, process, {"done"}, 120, "install")
            window.press("launchButton")
            check(self.wait_exit(process, 30, "launch") == 0, "the installer did not exit with code 0 after the launch")
        check(wait_until(lambda: os.path.exists(os.path.join(self.control, "launched.txt")), 60),
              "the installed launcher did not start")

    def fresh_install_quietly(self):
        self.clean_installation()
        self.serve_release("1.0.0")
        process, window = self.start_installer()
        window.press("primaryButton")
        self.wait_for(window, process, {"done"}, 120, "install")
        self.close(process, window)


def press_escape_in_other_window(window, timeout):
    """Escape in the first visible window other than the installer's (a dialog takes keys only while
    the pointer is over it); whether one appeared within `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for wid in ui.xdotool("search", "--onlyvisible", "--name", ".").split():
            if wid != window.wid:
                ui.xdotool("mousemove", "--window", wid, "60", "60", "key", "Escape")
                # The pointer then rests on the artwork, where it lifts no button of the installer.
                ui.xdotool("mousemove", *window.point(150, 520))
                return True
        time.sleep(0.1)
    return False


# With WINEDEBUG's "+pid", each line begins with the process and the thread.
LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"([^"]+)" at \S+: \w+')


def loaded_dll_names(trace, program):
    """The file names (lower case) of the DLLs and drivers that Wine's loader trace shows the process
    of `program` loading."""
    with open(trace, errors="replace") as lines:
        loads = [match.groups() for match in map(LOADED.match, lines) if match]
    executable = os.path.basename(program).lower()
    processes = {pid for pid, path in loads if ntpath.basename(path).lower() == executable}
    return sorted({ntpath.basename(path).lower() for pid, path in loads
                   if pid in processes and path.lower().endswith((".dll", ".drv"))})


def wine_module(name):
    """The name of a module in WINEDLLOVERRIDES: without ".dll", with any other extension."""
    return name[:-4] if name.endswith(".dll") else name


def check_planted_dlls_never_load(test, session, folder_name, road, expected):
    """Plants a marker DLL under the name of every DLL that `road(program, folder, env, trace)` makes the
    installer load (the `expected` among them) beside the installer, kept in the player's Downloads
    folder under `folder_name`, and in its current folder, then walks the road again with Wine's load
    order and with Windows' for every DLL that is not a KnownDLL: no marker may be loaded."""
    s = session
    # The player's Downloads folder holds the installer; the process starts in another folder.
    downloads = os.path.join(s.user, "Downloads", folder_name)
    current = os.path.join(s.args.work, "current")
    for folder in (downloads, current):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    test.addCleanup(shutil.rmtree, downloads, True)
    program = os.path.join(downloads, "Korvane-Setup.exe")
    shutil.copyfile(s.args.installer, program)

    # Every DLL that a whole run loads, in the installer's process, from Wine's loader trace.
    trace = os.path.join(s.args.work, "loader-trace.txt")
    tracing = {"KORVANE_WINEDEBUG": "+pid,+loaddll"}
    road(program, current, tracing, trace)
    names = loaded_dll_names(trace, program)
    for name in expected:
        check(name in names, f"the loader trace has no {name}: {names}")

    for folder in (downloads, current):
        for name in names:
            shutil.copyfile(s.args.planted_dll, os.path.join(folder, name))
    # Wine's own load order, then Windows' for every DLL that is not a KnownDLL: the program's folder
    # first (the current folder comes later in both orders).
    windows_order = ";".join(f"{wine_module(name)}=n,b" for name in names if not is_known(name))
    for order, overrides in (("wine", ""), ("windows", windows_order)):
        # The loader's trace of each run stays in the work folder: it names who loaded what.
        trace = os.path.join(s.args.work, f"loader-trace-{order}.txt")
        try:
            road(program, current, {"KORVANE_WINEDLLOVERRIDES": overrides, **tracing}, trace)
        finally:
            # A planted DLL that ran may also have broken the run: the markers are the first failure.
            loaded = [name for folder in (downloads, current) for name in os.listdir(folder)
                      if name.endswith(".loaded")]
            check(not loaded, f"with {order}'s load order the installer loaded planted DLLs: {sorted(loaded)}")


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
        runs = s.new_runs()
        check(len(runs) == 1, f"{len(runs)} runs logged for one install")
        folder = re.escape(s.windows_folder)
        s.check_logged(runs[0], r"^\+0\.\d{3} setup Korvane Setup \d+\.\d+\.\d+, Windows \d+\.\d+\.\d+ x64",
                       rf"^\+\d+\.\d{{3}} folder {folder} \(the default folder\)$",
                       r" manifest GET https://localhost:\d+/downloads/launcher-release\.json$",
                       r" net attempt 1: through the system's proxy, HTTP 200$",
                       r" manifest verified: version 1\.0\.0, size \d+, SHA-256 [0-9a-f]{64}, package https://",
                       r" download range 0-\d+: HTTP 206, \d+ bytes in \d+ ms$",
                       r" package accepted: \d+ entries, \d+ files$",
                       r" folder verdict: missing \(a first install\)",
                       r" shortcut created .*\\Desktop\\Korvane Launcher\.lnk$",
                       rf" result done: version 1\.0\.0 installed in {folder}$",
                       r" launch started .*KORLAUNCHER\.exe$")

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
            runs = s.new_runs()
            check(len(runs) == 1, f"{len(runs)} runs logged for one update")
            s.check_logged(runs[0], r" folder verdict: an installed launcher \(an update\)",
                           r" place \d+ existing files saved in the backup, \d+ files staged$",
                           r" place KORLAUNCHER\.exe is held by another program \(Windows (5|32|33)\)",
                           r" place KORLAUNCHER\.exe let go: moved at attempt \d+ of 50$",
                           r" shortcut replaced ", r" result done: version 2\.0\.0 ")
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
        runs = s.new_runs()
        check(len(runs) == 1, f"{len(runs)} runs logged for one cancelled install")
        requested = s.check_logged(runs[0], r' cancel requested: "Отменить установку" pressed$')
        honoured = s.check_logged(runs[0], r" cancel honoured: the install stopped \(.*\); back on the start screen$")
        check(not any(" result " in line for line in runs[0]), "a cancelled run logged a result")
        offset = lambda line: float(line.split(" ", 1)[0])  # noqa: E731
        check(0 <= offset(honoured) - offset(requested) < 5,
              f"the cancel was honoured {offset(honoured) - offset(requested):.3f} s after it was requested")

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
        runs = s.new_runs()
        check(len(runs) == 2, f"{len(runs)} runs logged for a failed install and its retry")
        # Every attempt of the first run failed in the transport (a dropped connection is not worth
        # repeating); the screen showed the last one's code, and the log names it.
        attempts = [re.search(r" net attempt (\d): .*, failed: WinHTTP (\d+), secure-failure flags 0x[0-9a-f]{8}: ",
                              line) for line in runs[0]]
        attempts = [match.groups() for match in attempts if match]
        check(attempts and [int(number) for number, _ in attempts] == list(range(1, len(attempts) + 1)),
              f"attempts logged: {attempts}")
        s.check_logged(runs[0], r" manifest no answer to use: .*\(WinHTTP \d+\)$",
                       rf" result failed: .*\(WinHTTP {attempts[-1][1]}\)$")
        s.check_logged(runs[1], r" net attempt 1: .*, HTTP 200$", r" result done: version 1\.0\.0 ")

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
        runs = s.new_runs()
        check(len(runs) == 1, f"{len(runs)} runs logged for one cancelled install")
        s.check_logged(runs[0], r" cancel requested: the window is being closed$",
                       r" cancel honoured: the install stopped \(.*\); the window closes$")

    def test_planted_dlls_are_never_loaded(self):
        check_planted_dlls_never_load(
            self, self.session, "korvane-planted", self.session.whole_road,
            ("winhttp.dll", "bcrypt.dll", "d2d1.dll", "dwrite.dll", "windowscodecs.dll", "comdlg32.dll"))

if __name__ == "__main__":
    ARGS, rest = parse_arguments(extra_options=("link-target", "planted-dll"))
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
