#!/usr/bin/env python3
"""Kill sweep of the real installer: Korvane-Setup-loopback.exe, driven through its window as the
end-to-end tests drive it, is killed (SIGKILL of its Wine process: nothing of it runs afterwards) at
moments spread over every phase of an update and of a first install into an empty folder. Each kill
is followed by a second run to the result screen. A kill point counts as recovered when the install
folder then holds exactly the package plus the player's own files AND nothing of the installer is
left anywhere: no staging folder beside or inside the install folder, no part file, no hidden
shortcut temporary.

The default spread keeps `make test` short; --full (or KORVANE_KILL_SWEEP=full in the environment)
tries every moment (see bench/README.md).
"""
import os
import random
import re
import sys
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit import launcher_package, prefix  # noqa: E402
from testkit.checks import Failure, check, wait_until  # noqa: E402
from testkit.servers import MANIFEST_PATH  # noqa: E402
from testkit.session import Session, parse_arguments  # noqa: E402

PACKAGE_PATH = "/sweep/launcher.zip"
PADDING_FILES = 8            # incompressible assets: every phase then takes long enough to be hit
PADDING_SIZE = 256 * 1024
STALL_SECONDS = 3            # a download held at a chosen share, to be killed there
PLAYER_FILES = {"settings.ini": b"language=ru\r\n", "mods/My mod/mod.json": b'{"enabled": true}'}
OLD_SHORTCUT = b"the shortcut of the installed release"
LEFTOVER = re.compile(r"^\.korvane-install-|\.part-[0-9a-f]{16}$|^\.Korvane-Launcher-[0-9a-f]{16}\.(lnk|bak)$")


def package_tree(launcher, version):
    """Relative path in the install folder -> bytes, for one release."""
    files = {}
    for name, data in launcher_package.package_files(launcher, version).items():
        relative = name[len("KORLAUNCHER/"):]
        # Every file differs between releases, so that the sweep can tell which ones were replaced.
        files[relative] = data if relative in ("KORLAUNCHER.exe", "launcher.json") else data + version.encode()
    noise = random.Random(version)
    for index in range(PADDING_FILES):
        files[f"assets/data/pack-{index}.bin"] = noise.randbytes(PADDING_SIZE)
    return files


def write_package(path, tree):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        for name, data in tree.items():
            archive.writestr("KORLAUNCHER/" + name, data)


def read_tree(folder):
    tree = {}
    for root, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder).replace(os.sep, "/")
            if os.path.islink(path) or name in files:
                with open(path, "rb") as handle:
                    tree[relative] = handle.read()
            elif not os.listdir(path):
                tree[relative + "/"] = b""  # an empty folder left behind counts too
    return tree


def count_files(folder):
    return sum(len(files) for _, _, files in os.walk(folder)) if os.path.isdir(folder) else 0


class Disk:
    """What the killed run has done so far, seen from the Linux side."""

    def __init__(self, sweep):
        self.sweep = sweep
        self.staging_seen = False

    def staging(self):
        folders = prefix.staging_folders(self.sweep.user)
        self.staging_seen = self.staging_seen or bool(folders)
        return folders[0] if folders else None

    def finished(self):
        """The run got past every moment: its staging folder came and went, the new link is in place."""
        return self.staging() is None and self.staging_seen and self.sweep.new_shortcut_in_place()

    def inner(self):
        if not os.path.isdir(self.sweep.folder):
            return None
        names = [name for name in os.listdir(self.sweep.folder) if name.startswith(".korvane-install-")]
        return os.path.join(self.sweep.folder, names[0]) if names else None

    def in_staging(self, *parts):
        staging = self.staging()
        return os.path.join(staging, *parts) if staging else None

    def part_file_size(self):
        staging = self.staging()
        if not staging or not os.path.isdir(staging):
            return -1
        for name in os.listdir(staging):
            if ".part-" in name:
                try:
                    return os.path.getsize(os.path.join(staging, name))
                except OSError:
                    return -1
        return -1

    def describe(self):
        staging, inner = self.staging(), self.inner()
        parts = [f"staging {'yes' if staging else 'no'}"]
        if staging:
            parts += [f"part {self.part_file_size()} B", f"payload {count_files(os.path.join(staging, 'payload'))}",
                      f"previous {count_files(os.path.join(staging, 'previous'))}"]
        parts.append(f"inner {count_files(inner) if inner else '-'}")
        return ", ".join(parts)


def shortcut_temporaries(user):
    return [name for path in prefix.shortcut_paths(user) if os.path.isdir(os.path.dirname(path))
            for name in os.listdir(os.path.dirname(path)) if LEFTOVER.search(name)]


class Point:
    def __init__(self, route, name, reached, stall=None, default=False):
        self.route, self.name, self.reached, self.stall, self.default = route, name, reached, stall, default


def kill_points(total):
    """Moments of both routes, in the order an install passes them. `total` is the package's file count."""
    def payload(k):
        return lambda d: count_files(d.in_staging("payload") or "") >= k

    def saved(k):
        return lambda d: count_files(d.in_staging("previous") or "") >= k

    def staged(k):
        return lambda d: d.inner() is not None and count_files(d.inner()) >= k and not d.sweep.placing_began()

    def placed(k):
        return lambda d: d.inner() is not None and d.sweep.placed() >= k

    def downloaded(share):
        return lambda d: d.part_file_size() > 0 and time.sleep(0.5) is None

    def temporary(d):
        return bool(shortcut_temporaries(d.sweep.user))

    def link_in_place(d):
        return d.sweep.new_shortcut_in_place() and d.staging() is not None

    def staging_going(d):
        staging = d.staging()
        return staging is not None and not os.path.exists(os.path.join(staging, "launcher.zip"))

    half = total // 2
    points = []
    for route in ("update", "empty folder"):
        def add(name, reached, stall=None, default=False):
            points.append(Point(route, name, reached, stall, default))

        update = route == "update"
        add("manifest requested", lambda d: d.sweep.servers.requested(MANIFEST_PATH))
        add("staging folder made", lambda d: d.staging() is not None)
        for share in (0.1, 0.5, 0.9) if update else (0.5,):
            add(f"download at {int(share * 100)} %", downloaded(share), stall=share, default=update and share == 0.5)
        add("package downloaded", lambda d: os.path.isfile(d.in_staging("launcher.zip") or ""))
        for k in (1, half, total - 1):
            add(f"extraction, {k} files", payload(k))
        if update:
            for k in (1, half, total):
                add(f"saving, {k} saved", saved(k), default=k == half)
        for k in (1, half, total):
            add(f"staging copies, {k} staged", staged(k))
        for k in (1, 2, half, total - 1, total):
            add(f"moving into place, {k} placed", placed(k), default=k == half)
        add("shortcut temporary saved", temporary)
        add("shortcut in place", link_in_place, default=not update)
        add("staging folder being removed", staging_going)
        add("result screen", lambda d: d.sweep.result_shown())
    return points


class Sweep(Session):
    def __init__(self, args):
        super().__init__(args)
        self.window = None
        self.releases = {}
        for version in ("1.0.0", "2.0.0"):
            tree = package_tree(args.launcher, version)
            package = os.path.join(args.work, f"sweep-{version}.zip")
            write_package(package, tree)
            manifest = launcher_package.sign_package(args.release_tool, args.key, package, version,
                                                     self.servers.url("release", PACKAGE_PATH),
                                                     os.path.join(args.work, f"sweep-{version}.json"))
            self.releases[version] = {"tree": tree, "package": package, "manifest": manifest,
                                      "size": os.path.getsize(package)}

    # --- what the killed run has reached -----------------------------------------------------------

    def placing_began(self):
        return self.placed() > 0

    def placed(self):
        """Files of the new release in the install folder (outside any staging folder)."""
        count = 0
        for relative, data in self.target["tree"].items():
            # The padding files differ from their first bytes on; the others (the executable's
            # release mark is at its end) are read whole.
            head = 4096 if relative.startswith("assets/data/") else len(data) + 1
            try:
                with open(os.path.join(self.folder, relative), "rb") as handle:
                    count += handle.read(head) == data[:head]
            except OSError:
                pass
        return count

    def new_shortcut_in_place(self):
        link = prefix.shortcut_paths(self.user)[0]
        try:
            with open(link, "rb") as handle:
                return handle.read() != OLD_SHORTCUT
        except OSError:
            return False

    def result_shown(self):
        shown, _ = self.window.screen()
        return shown == "done"

    # --- runs ---------------------------------------------------------------------------------------

    def prepare(self, route):
        """The machine before the killed run: an installed 1.0.0 with the player's files and shortcuts,
        or an empty install folder."""
        prefix.remove_installation(self.user)
        if route == "update":
            for relative, data in list(self.releases["1.0.0"]["tree"].items()) + list(PLAYER_FILES.items()):
                path = os.path.join(self.folder, relative)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as handle:
                    handle.write(data)
            for link in prefix.shortcut_paths(self.user):
                os.makedirs(os.path.dirname(link), exist_ok=True)
                with open(link, "wb") as handle:
                    handle.write(OLD_SHORTCUT)
            self.target = self.releases["2.0.0"]
            self.expected = {**self.target["tree"], **PLAYER_FILES}
        else:
            os.makedirs(self.folder)
            self.target = self.releases["1.0.0"]
            self.expected = dict(self.target["tree"])

    def serve(self, stall):
        """The release for both runs: the package answer held at a share of its bytes first, when asked."""
        self.servers.control("reset")
        self.servers.control("file", {"name": "package", "path": self.target["package"]})
        self.servers.control("script", {"path": MANIFEST_PATH, "responses": [{"body": self.target["manifest"]}]})
        answers = [{"file": "package"}]
        if stall is not None:
            answers.insert(0, {"file": "package", "stall_after": int(self.target["size"] * stall),
                               "stall": STALL_SECONDS})
        self.servers.control("script", {"path": PACKAGE_PATH, "responses": answers})

    def leftovers(self):
        found = []
        parent = os.path.dirname(self.folder)
        for root, folders, files in os.walk(parent):
            for name in folders + files:
                if LEFTOVER.search(name):
                    found.append(os.path.relpath(os.path.join(root, name), parent))
            folders[:] = [name for name in folders if not LEFTOVER.search(name)]
        return found + shortcut_temporaries(self.user)

    def run(self, point):
        self.prepare(point.route)
        self.serve(point.stall)
        disk = Disk(self)
        process, self.window = self.start_installer()
        self.window.press("primaryButton")
        started = time.monotonic()
        wait_until(lambda: process.poll() is not None or disk.finished() or point.reached(disk), 90, 0.002)
        reached = process.poll() is None and point.reached(disk)
        process.kill()
        process.wait()
        landed = disk.describe()
        # Wine ends the process's handles and files once the server sees it gone.
        check(wait_until(lambda: not self.window.exists(), 30), "the killed installer's window stays")

        process, window = self.start_installer()
        window.press("primaryButton")
        killed_after = time.monotonic() - started
        done = window.wait_for({"done", "failed"}, 180, lambda: process.poll() is None)
        shown = done.screen() if done else None
        window.press("secondaryButton" if shown == "done" else "closeButton")
        if not wait_until(lambda: process.poll() is not None, 30):
            process.kill()
        process.wait()

        tree = read_tree(self.folder)
        leftovers = self.leftovers()
        files_right = tree == self.expected
        recovered = shown == "done" and files_right and not leftovers
        detail = "recovered" if recovered else (
            f"second run ended on {shown}" if shown != "done"
            else f"install folder differs ({sorted(set(tree) ^ set(self.expected))[:4]})" if not files_right
            else f"left behind: {leftovers[:4]}")
        print(f"[ kill ] {point.route}, {point.name}: killed after {killed_after:.1f} s with {landed}"
              f"{'' if reached else ' (moment not reached)'} -> {detail} ({time.monotonic() - started:.0f} s)",
              flush=True)
        return reached, recovered


def main():
    args, rest = parse_arguments(flags=[("full", "every kill point instead of the default spread")])
    if rest:
        sys.exit(f"kill_sweep.py: unknown arguments {rest}")
    sweep = Sweep(args)
    total = len(sweep.releases["1.0.0"]["tree"])
    full = args.full or os.environ.get("KORVANE_KILL_SWEEP") == "full"
    points = [point for point in kill_points(total) if full or point.default]
    started = time.monotonic()
    reached = recovered = 0
    try:
        for point in points:
            try:
                hit, ok = sweep.run(point)
            except Failure as error:
                hit, ok = False, False
                print(f"[ kill ] {point.route}, {point.name}: {error}", flush=True)
            finally:
                sweep.stop_all()
            reached += hit
            recovered += ok
    finally:
        sweep.stop_all()
        prefix.remove_installation(sweep.user)
    share = 100.0 * recovered / len(points)
    print(f"kill sweep: {len(points)} kill points, {reached} reached before the kill, {recovered} recovered "
          f"({share:.0f} %), {time.monotonic() - started:.0f} s")
    # Most moments must really have been hit: a run that finished first proves nothing.
    sys.exit(0 if recovered == len(points) and reached * 4 >= len(points) * 3 else 1)


if __name__ == "__main__":
    main()
