#!/usr/bin/env python3
"""The installer's main job on this machine (run by scripts/demo.sh once the build is there):

- a demo launcher package (the stand-in KORLAUNCHER.exe and the files the installer requires), laid
  out with its manifest, signed with the development key, by `korvane-release site`;
- the release site: nginx with the shipped configuration (site/nginx/) over TLS on
  localhost:<loopback release port>, with a CA of its own that is trusted only in the demo's Wine
  prefix (build/demo/wineprefix);
- Korvane-Setup-loopback.exe run under Wine: with a display the person installs; without one it runs
  under its own Xvfb, driven with xdotool (install, wait for the result, start the launcher), and
  every screen it passes is saved in build/demo/screens.

Everything it starts (nginx, Xvfb, the Wine processes of the demo prefix) is stopped on every path.
    demo.py BUILD_DIR
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from testkit import build_tree, launcher_package, nginx, prefix, window as installer_window  # noqa: E402
from testkit.test_ca import make_certificates  # noqa: E402

VERSION = "1.0.0"
# With the download held to DEMO_RATE the progress screens stay up long enough to be seen.
DEMO_PACKAGE_SIZE = 3 * 1024 * 1024
DEMO_RATE = "1m"
LAUNCHER_TITLE = "^Korvane Launcher \\(демо\\)$"


class Demo:
    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.home = os.path.join(self.build, "demo")
        self.site = os.path.join(self.home, "site")
        self.www = os.path.join(self.site, "www")
        self.prefix = os.path.join(self.home, "wineprefix")
        self.screens = os.path.join(self.home, "screens")
        self.port = int(build_tree.cache_value(self.build, "KORVANE_LOOPBACK_RELEASE_PORT"))
        self.key = build_tree.cache_value(self.build, "KORVANE_RELEASE_SIGNING_KEY_IN_USE")
        self.installer = build_tree.installer(self.build)
        self.launcher = build_tree.stand_in_launcher(self.build)
        self.processes = []  # (name, Popen) to stop, newest last
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml=")
        self.env.pop("KORVANE_E2E_CONTROL", None)

    # --- the release site -------------------------------------------------------------------------

    def publish(self):
        """The release laid out by the release tool, as a publisher does: package, then signed manifest."""
        make_certificates(self.site)
        # Each run publishes a freshly made package; a published package never changes under its URL,
        # so the previous run's site goes first.
        shutil.rmtree(self.www, ignore_errors=True)
        package = os.path.join(self.home, f"launcher-{VERSION}.zip")
        launcher_package.make_package(package, self.launcher, VERSION, size=DEMO_PACKAGE_SIZE)
        subprocess.run([build_tree.release_tool(self.build), "site", package, "--version", VERSION,
                        "--url", f"https://localhost:{self.port}/downloads/launcher-{VERSION}.zip",
                        "--key", self.key, "--output", self.www], check=True)
        print(f"demo: release {VERSION} laid out in {self.www}")

    def serve(self):
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", self.port)) == 0:
                sys.exit(f"demo: port {self.port} is taken (a test run holds it?); the installer's release site "
                         "must listen there")
        # The shipped site configuration; only the rate is the demo's, so the progress can be seen.
        try:
            process = nginx.serve(self.site, self.port, self.www, http_extra=f"    limit_rate {DEMO_RATE};")
        except RuntimeError as error:
            sys.exit(f"demo: {error}")
        self.processes.append(("nginx", process))
        url = f"https://localhost:{self.port}/downloads/launcher-release.json"
        probe = subprocess.run(["curl", "-sf", "--cacert", os.path.join(self.site, "ca.pem"), "-o", os.devnull, url])
        if probe.returncode != 0:
            sys.exit(f"demo: nginx does not serve {url}; see {self.site}/nginx-error.log")
        print(f"demo: release site up: {url}")

    # --- Wine ---------------------------------------------------------------------------------------

    def prepare_prefix(self):
        subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), self.prefix], check=True)
        # The prefix keeps one wineserver while the demo runs, and trusts the site's CA (only here).
        subprocess.run(["wineserver", "-p60"], env=self.env, check=True)
        self.wine([build_tree.trust_test_ca(self.build), prefix.windows_path(f"{self.site}/ca.der")])
        # Each run shows a fresh installation.
        for user in prefix.prefix_users(self.prefix):
            prefix.remove_installation(user)
        installer_window.read_geometry(["wine", build_tree.screens_tool(self.build)], self.env)

    def wine(self, command):
        subprocess.run(["wine", *command], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # --- processes ----------------------------------------------------------------------------------

    def start(self, name, command, **options):
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, preexec_fn=nginx.die_with_parent, **options)
        self.processes.append((name, process))
        return process

    def stop_all(self):
        if os.path.isdir(self.prefix):
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _, process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.processes.clear()

    def start_xvfb(self):
        read, write = os.pipe()
        self.start("Xvfb", ["Xvfb", "-displayfd", str(write), "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
                   pass_fds=(write,))
        os.close(write)
        with os.fdopen(read) as display:
            number = display.readline().strip()
        if not number:
            sys.exit("demo: Xvfb did not start")
        self.env["DISPLAY"] = os.environ["DISPLAY"] = f":{number}"

    # --- the installation ---------------------------------------------------------------------------

    def run_interactive(self):
        print("demo: the installer window is open; install, then start the launcher or close the window")
        subprocess.run(["wine", self.installer], env=self.env, stdin=subprocess.DEVNULL)
        launcher = installer_window.InstallerWindow.find(10, title=LAUNCHER_TITLE, canvas=False)
        if launcher is not None:
            print("demo: the demo launcher runs; close its window to end the demo")
            while installer_window.xdotool("search", "--onlyvisible", "--name", LAUNCHER_TITLE).split():
                time.sleep(0.5)

    def run_driven(self):
        os.makedirs(self.screens, exist_ok=True)
        for old in os.listdir(self.screens):
            os.remove(os.path.join(self.screens, old))
        installer = self.start("installer", ["wine", self.installer], env=self.env)
        alive = lambda: installer.poll() is None  # noqa: E731
        window = installer_window.InstallerWindow.find(120, alive=alive)
        if window is None:
            sys.exit("demo: the installer window did not appear")
        saved = []

        def save(frame, name):
            path = os.path.join(self.screens, f"{len(saved) + 1:02d}-{name}.png")
            frame.save(path)
            saved.append(path)

        frame = window.wait_for({"idle"}, 120, alive)
        if frame is None:
            sys.exit("demo: the start screen was never painted")
        save(frame, "start")
        window.press("primaryButton")  # "Установить лаунчер"
        heading, shown, deadline = None, "idle", time.monotonic() + 300
        while time.monotonic() < deadline and alive():
            now, frame = window.screen()
            if now is None:
                time.sleep(0.05)
                continue
            region = frame.region(installer_window.HEADING)
            if now != shown or (now == "progress" and installer_window.regions_differ(heading, region)):
                time.sleep(0.35)  # the heading's fade settles
                now, frame = window.screen()
                if now is None:
                    continue
                save(frame, {"progress": "progress"}.get(now, now))
                shown, heading = now, frame.region(installer_window.HEADING)
            if now in ("done", "failed"):
                break
            time.sleep(0.05)
        if shown != "done":
            print(f"demo: the installation did not succeed; the screens are in {self.screens}", file=sys.stderr)
            sys.exit(1)
        window.press("launchButton")  # "Запустить лаунчер"
        try:
            code = installer.wait(30)
        except subprocess.TimeoutExpired:
            sys.exit("demo: the installer did not close after starting the launcher")
        launcher = installer_window.InstallerWindow.find(60, title=LAUNCHER_TITLE, canvas=False) if code == 0 else None
        if launcher is None:
            sys.exit(f"demo: the launcher did not start (installer exit code {code})")
        time.sleep(0.5)
        path = os.path.join(self.screens, f"{len(saved) + 1:02d}-launcher.png")
        subprocess.run(["import", "-window", launcher.wid, path], check=True)
        saved.append(path)
        launcher.key("Escape")
        print("demo: screens passed: " + ", ".join(os.path.basename(path) for path in saved))

    def report(self):
        for user in prefix.prefix_users(self.prefix):
            folder = prefix.install_folder(user)
            if os.path.isfile(os.path.join(folder, "KORLAUNCHER.exe")):
                print(f"demo: the launcher is installed in C:\\users\\{os.path.basename(user)}\\AppData\\Local\\"
                      f"Programs\\Korvane Launcher (on this machine: {folder})")
                for link in prefix.shortcut_paths(user):
                    if os.path.isfile(link):
                        print(f"demo: shortcut {link}")
                return True
        print("demo: the launcher was not installed", file=sys.stderr)
        return False


def display_works():
    return bool(os.environ.get("DISPLAY")) and subprocess.run(
        ["xdpyinfo"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    demo = Demo(sys.argv[1])
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, lambda *_: sys.exit(130))
    try:
        demo.publish()
        demo.serve()
        demo.prepare_prefix()
        if display_works():
            demo.run_interactive()
        else:
            demo.start_xvfb()
            print(f"demo: no display; driving the installer under Xvfb {os.environ['DISPLAY']}")
            demo.run_driven()
            print(f"demo: screenshots in {demo.screens}")
        installed = demo.report()
    finally:
        demo.stop_all()
    sys.exit(0 if installed else 1)


if __name__ == "__main__":
    main()
