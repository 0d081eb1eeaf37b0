#!/usr/bin/env python3
"""The installer measured against what the platform and native tools allow, side by side in one run
(run by bench/run_bench.sh, under its own Xvfb), every pair interleaved run by run:

- process start to the first complete start screen, next to a bare GDI window of the same size
  (bare_window.exe) started the same way;
- CPU used by the installer process (and the prefix's wineserver) while the start screen idles 10 s;
- the 16 MiB download: kr::download_file (download_bench.exe: ranges, part file, SHA-256, rename)
  next to a bare WinHTTP read loop (winhttp_loop_bench.exe) in Wine and curl natively, same nginx,
  same file, each process's TLS set-up paid by an untimed first fetch;
- whole installation of a 16 MiB package (16,777,216 bytes, the largest the installer accepts) from
  nginx over loopback HTTPS, with the window, fresh and as an update, from the click on
  "Установить лаунчер" to the result screen; next to curl + unzip + cp doing the same work natively;
- extraction throughput of extract_update_package (extract_bench.exe) against unzip, same archive;
- the CPU of the drawing threads during those installations: the process's CPU less that of the
  install's own threads, which name themselves;
- peak working set of the installer process over an install (VmHWM of the Wine process: the
  program and Wine's own DLLs);
- the size of Korvane-Setup.exe;
- what the support log costs: whole installations with the log written and with it skipped.

    install_bench.py BUILD_DIR RUNS [PARTS]     (PARTS: some of sizes,start_and_idle,download,
                                                 whole_installation,extraction,support_log;
                                                 default all)
"""
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from testkit import build_tree, launcher_package, prefix, window as ui  # noqa: E402
from testkit.prefix import windows_path  # noqa: E402
from testkit.servers import MANIFEST_PATH, Servers  # noqa: E402

SIZE = 16 * 1024 * 1024
BARE_TITLE = "^Korvane bench bare window$"
VERSIONS = ("1.0.0", "2.0.0")
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS  # utime, stime


# The threads that do the install's work name themselves (common/marked_threads.h); Wine hands the
# name on to the Linux thread. Everything else in the process draws or serves drawing: the window
# thread, Mesa's llvmpipe threads, wined3d's command thread, the system's helpers.
INSTALL_THREADS = ("korvane-install", "korvane-writer")


def thread_times(pid):
    """{tid: (name, CPU seconds)} of every thread of the process now."""
    threads = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return threads
    for tid in tids:
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as comm, open(f"/proc/{pid}/task/{tid}/stat") as stat:
                name = comm.read().strip()
                fields = stat.read().rsplit(")", 1)[1].split()
            threads[int(tid)] = (name, (int(fields[11]) + int(fields[12])) / CLOCK_TICKS)
        except OSError:
            pass  # ended meanwhile
    return threads


class DrawingCpu:
    """The CPU of the drawing threads over an install: the process's CPU less that of the install's own
    threads. Threads are sampled every 10 ms, since an ended thread's CPU can no longer be read
    (it stays in the process's total): an install thread's last 10 ms at most count as drawing."""

    def __init__(self, pid):
        self.pid = pid
        self.first = thread_times(pid)
        self.last = dict(self.first)
        self.process = cpu_seconds(pid)
        self.started = time.monotonic()
        self.stopping = threading.Event()
        self.sampler = threading.Thread(target=self.sample, daemon=True)
        self.sampler.start()

    def sample(self):
        while not self.stopping.wait(0.01):
            self.last.update(thread_times(self.pid))

    def stop(self):
        """Seconds, and the drawing threads' CPU over them: total, window thread, renderer threads."""
        self.stopping.set()
        self.sampler.join()
        self.last.update(thread_times(self.pid))
        elapsed = time.monotonic() - self.started
        spent = {tid: cpu - self.first.get(tid, ("", 0.0))[1] for tid, (_, cpu) in self.last.items()}
        install = sum(spent[tid] for tid, (name, _) in self.last.items() if name in INSTALL_THREADS)
        window = spent.get(self.pid, 0.0)
        renderer = sum(spent[tid] for tid, (name, _) in self.last.items()
                       if name.startswith("llvmpipe") or name == "wined3d_cs")
        drawing = cpu_seconds(self.pid) - self.process - install
        return elapsed, drawing, window, renderer, install


def peak_resident(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024  # MiB
    return 0.0


def wineserver_pid(prefix):
    for pid in subprocess.run(["pgrep", "^wineserver"], capture_output=True, text=True).stdout.split():
        try:
            with open(f"/proc/{pid}/environ", "rb") as environ:
                if f"WINEPREFIX={prefix}".encode() in environ.read().split(b"\0"):
                    return int(pid)
        except OSError:
            pass
    return None


def summary(values, unit, digits=2):
    return (f"median {statistics.median(values):.{digits}f} {unit} "
            f"(min {min(values):.{digits}f}, max {max(values):.{digits}f}, {len(values)} runs)")


class Bench:
    def __init__(self, build, runs):
        self.build, self.runs = build, runs
        self.prefix = os.path.join(build, "wineprefix")
        self.wine_run = os.path.join(build, "wine-run.sh")
        self.installer = build_tree.installer(build)
        self.servers = Servers(os.path.join(build, "bench-servers"))
        self.user = prefix.prefix_users(self.prefix)[0]
        self.folder = prefix.install_folder(self.user)
        ui.read_geometry([self.wine_run, build_tree.screens_tool(build)])
        self.work = tempfile.mkdtemp(prefix="korvane-bench-")
        self.key = build_tree.cache_value(build, "KORVANE_RELEASE_SIGNING_KEY_IN_USE")
        www = self.servers.www("bench")
        self.manifests, self.packages, self.urls = {}, {}, {}
        for version in VERSIONS:
            package = launcher_package.make_package(os.path.join(www, f"launcher-{version}.zip"),
                                                    build_tree.stand_in_launcher(build),
                                                    version, size=SIZE)
            self.urls[version] = self.servers.url("nginx", f"/bench/launcher-{version}.zip")
            self.packages[version] = package
            self.manifests[version] = launcher_package.sign_package(
                build_tree.release_tool(build), self.key, package, version, self.urls[version],
                os.path.join(self.work, f"launcher-{version}.json"))

    def clean(self):
        prefix.remove_installation(self.user)

    def start_window(self, program, title, what, arguments=()):
        """Starts `program` and waits for its window's first complete start screen: the process, the
        window and the seconds from process start."""
        started = time.monotonic()
        process = subprocess.Popen([self.wine_run, program, *arguments], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        alive = lambda: process.poll() is None  # noqa: E731
        window = ui.InstallerWindow.find(90, title=title, alive=alive)
        frame = window.wait_for({"idle"}, 90, alive) if window else None
        if frame is None:
            process.kill()
            raise SystemExit(f"{what} did not appear")
        return process, window, time.monotonic() - started

    def start_installer(self):
        return self.start_window(self.installer, ui.TITLE, "the installer's start screen")

    def close(self, process, window):
        window.press("secondaryButton")  # "Закрыть"
        try:
            process.wait(30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()

    def install(self, version, fresh):
        """Seconds from the click to the result screen, and the process's peak resident MiB."""
        if fresh:
            self.clean()
        self.servers.serve_manifest([{"body": self.manifests[version]}])
        process, window, _ = self.start_installer()
        try:
            idle = peak_resident(process.pid)
            drawing = DrawingCpu(process.pid)
            window.press("primaryButton")  # "Установить лаунчер"
            clicked = time.monotonic()
            frame = window.wait_for({"done", "failed"}, 300, lambda: process.poll() is None)
            elapsed = time.monotonic() - clicked
            self.drawing.append(drawing.stop())
            if frame is None or frame.screen() != "done":
                raise SystemExit(f"the installation of {version} did not succeed")
            peak = peak_resident(process.pid)
        finally:
            self.close(process, window)
        return elapsed, peak, peak - idle

    def native_install(self, version, target, fresh):
        """curl (manifest and package from the same servers) + unzip + cp, as the installer's work."""
        if fresh:
            shutil.rmtree(target, ignore_errors=True)
        started = time.monotonic()
        scratch = tempfile.mkdtemp(dir=self.work)
        ca = self.servers.ca_pem
        subprocess.run(["curl", "-sf", "--cacert", ca, "-o", os.path.join(scratch, "manifest.json"),
                        self.servers.url("release", MANIFEST_PATH)], check=True)
        subprocess.run(["curl", "-sf", "--cacert", ca, "-o", os.path.join(scratch, "launcher.zip"),
                        self.urls[version]], check=True)
        subprocess.run(["unzip", "-q", os.path.join(scratch, "launcher.zip"), "-d", os.path.join(scratch, "payload")],
                       check=True)
        os.makedirs(target, exist_ok=True)
        subprocess.run(["cp", "-r", os.path.join(scratch, "payload", "KORLAUNCHER", "."), target], check=True)
        elapsed = time.monotonic() - started
        shutil.rmtree(scratch)
        return elapsed

    def whole_installation(self):
        ours = {"fresh": [], "update": []}
        native = {"fresh": [], "update": []}
        peaks, growths = [], []
        self.drawing = []
        target = os.path.join(self.work, "native-install")
        for run in range(self.runs):
            for kind, version in (("fresh", VERSIONS[0]), ("update", VERSIONS[1])):
                elapsed, peak, growth = self.install(version, kind == "fresh")
                ours[kind].append(elapsed)
                peaks.append(peak)
                growths.append(growth)
                self.servers.serve_manifest([{"body": self.manifests[version]}])
                native[kind].append(self.native_install(version, target, kind == "fresh"))
                seconds, drawing, window, renderer, install = self.drawing[-1]
                print(f"run {run + 1} {kind}: installer {elapsed:.2f} s (peak {peak:.1f} MiB), "
                      f"curl+unzip+cp {native[kind][-1]:.2f} s; drawing threads {drawing:.3f} s of CPU in "
                      f"{seconds:.2f} s (window thread {window:.3f}, llvmpipe and wined3d_cs {renderer:.3f}), "
                      f"install threads {install:.3f} s", flush=True)
        for kind in ("fresh", "update"):
            print(f"whole installation, {kind}: installer {summary(ours[kind], 's')}; "
                  f"curl+unzip+cp {summary(native[kind], 's')}; ratio "
                  f"{statistics.median(ours[kind]) / statistics.median(native[kind]):.1f}")
        shares = [100 * drawing / seconds for seconds, drawing, *_ in self.drawing]
        print(f"CPU of the drawing threads (the process less korvane-install and korvane-writer) from the click "
              f"to the result screen: {summary(shares, '% of one core', 1)}; per install "
              f"{summary([d for _, d, *_ in self.drawing], 's', 3)}, of it the window thread "
              f"{summary([w for _, _, w, *_ in self.drawing], 's', 3)}, llvmpipe and wined3d_cs "
              f"{summary([r for *_, r, _ in self.drawing], 's', 3)}; the install's threads "
              f"{summary([i for *_, i in self.drawing], 's', 3)}")
        print(f"peak working set of the installer process during an install: {summary(peaks, 'MiB', 1)}; "
              f"above its peak at the start screen: {summary(growths, 'MiB', 1)}")
        self.clean()

    def extraction(self):
        package = self.packages[VERSIONS[0]]
        # Inside the prefix's C: drive, like an install folder (the extraction refuses a path through
        # a link, and Wine reports some folders of its Z: drive as links).
        scratch = os.path.join(self.prefix, "drive_c", "korvane-bench")
        os.makedirs(scratch, exist_ok=True)
        try:
            output = subprocess.run([self.wine_run, os.path.join(self.build, "bench", "extract_bench.exe"),
                                     windows_path(package), "C:\\korvane-bench", str(self.runs)],
                                    capture_output=True, text=True, check=True).stdout.replace("\r", "")
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        last = output.strip().splitlines()[-1]
        print("extract_update_package under Wine: " + last)
        extracted = int(last.split(" of ")[1].split()[0])
        times = []
        for _ in range(self.runs):
            target = tempfile.mkdtemp(dir=self.work)
            started = time.monotonic()
            subprocess.run(["unzip", "-q", package, "-d", target], check=True)
            times.append(time.monotonic() - started)
            shutil.rmtree(target)
        median = statistics.median(times)
        print(f"unzip: median {median:.3f} s, {extracted / median / 1048576:.1f} MiB/s of the same extracted bytes")

    def start_bare_window(self, arguments=()):
        """Seconds from process start to the bare window's first frame, seen the same way."""
        process, window, elapsed = self.start_window(os.path.join(self.build, "bench", "bare_window.exe"),
                                                     BARE_TITLE, "the bare window's frame", arguments)
        window.press("primaryButton")  # any click closes it
        try:
            process.wait(30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        return elapsed

    def start_and_idle(self):
        firsts, bares, direct2ds = [], [], []
        for _ in range(self.runs):
            process, window, first = self.start_installer()
            firsts.append(first)
            self.close(process, window)
            bares.append(self.start_bare_window())
            direct2ds.append(self.start_bare_window(["direct2d"]))
        print(f"process start to the first complete start screen: installer {summary(firsts, 's')}; "
              f"bare GDI window {summary(bares, 's')}; bare Direct2D window {summary(direct2ds, 's')}; "
              f"installer beyond the bare window "
              f"{1000 * (statistics.median(firsts) - statistics.median(bares)):+.0f} ms, beyond the bare Direct2D "
              f"window {1000 * (statistics.median(firsts) - statistics.median(direct2ds)):+.0f} ms "
              f"(differences of the medians)")
        process, window, _ = self.start_installer()
        try:
            time.sleep(1)  # the intro animation ends
            server = wineserver_pid(self.prefix)
            before = cpu_seconds(process.pid), cpu_seconds(server) if server else 0.0
            time.sleep(10)
            after = cpu_seconds(process.pid), cpu_seconds(server) if server else 0.0
            print(f"idle start screen over 10 s: installer process {100 * (after[0] - before[0]) / 10:.1f} % of one "
                  f"core, wineserver {100 * (after[1] - before[1]) / 10:.1f} %")
        finally:
            self.close(process, window)

    def download(self):
        """The download three ways, interleaved: ours, a bare WinHTTP loop, curl."""
        folder = self.servers.www("bench")
        data = os.urandom(SIZE)
        with open(os.path.join(folder, "bench-16MiB.bin"), "wb") as file:
            file.write(data)
        sha = hashlib.sha256(data).hexdigest()
        url = self.servers.url("nginx", "/bench/bench-16MiB.bin")
        ca = self.servers.ca_pem
        target = tempfile.mkdtemp(dir=self.work)

        def wine_seconds(*command):
            output = subprocess.run([self.wine_run, *command], capture_output=True, text=True, check=True).stdout
            return float(output.replace("\r", "").split("run 1: ")[1].split(" s")[0])

        ours, loop, curl = [], [], []
        for run in range(self.runs):
            ours.append(wine_seconds(os.path.join(self.build, "bench", "download_bench.exe"), url,
                                     windows_path(target), str(SIZE), sha, "1"))
            loop.append(wine_seconds(os.path.join(self.build, "bench", "winhttp_loop_bench.exe"), url, str(SIZE), "1"))
            curl.append(float(subprocess.run(["curl", "-sf", "--cacert", ca, "-o", os.path.join(target, "curl.bin"),
                                              "-w", "%{time_total}", url],
                                             capture_output=True, text=True, check=True).stdout))
            os.remove(os.path.join(target, "curl.bin"))
            print(f"run {run + 1} download: kr::download_file {ours[-1]:.3f} s, bare WinHTTP loop {loop[-1]:.3f} s, "
                  f"curl {curl[-1]:.3f} s", flush=True)
        shutil.rmtree(target)
        print(f"download 16 MiB: kr::download_file {summary(ours, 's', 3)}; bare WinHTTP loop {summary(loop, 's', 3)}; "
              f"curl {summary(curl, 's', 3)}; ratio to the bare loop "
              f"{statistics.median(ours) / statistics.median(loop):.2f}, to curl "
              f"{statistics.median(ours) / statistics.median(curl):.2f}")

    def support_log(self):
        """Whole installations, fresh and as an update, with the support log written and with it
        skipped (a folder at its name, which the log never writes through), interleaved run by run:
        what the log costs the install."""
        log = os.path.join(self.user, "Temp", "Korvane-Setup.log")
        aside = log + ".bench-aside"
        if os.path.lexists(log):
            os.rename(log, aside)
        times = {(mode, kind): [] for mode in ("written", "skipped") for kind in ("fresh", "update")}
        cpu = {key: [] for key in times}
        self.drawing = []
        try:
            for run in range(self.runs):
                # Each run starts with the other mode: neither always meets a warmer machine.
                for mode in (("written", "skipped") if run % 2 == 0 else ("skipped", "written")):
                    if mode == "skipped":
                        if os.path.lexists(log):
                            os.rename(log, log + ".written")
                        os.makedirs(log)
                    try:
                        for kind, version in (("fresh", VERSIONS[0]), ("update", VERSIONS[1])):
                            elapsed, _, _ = self.install(version, kind == "fresh")
                            times[(mode, kind)].append(elapsed)
                            cpu[(mode, kind)].append(self.drawing[-1][4])
                            print(f"run {run + 1} {kind}, log {mode}: {elapsed:.2f} s, install threads "
                                  f"{cpu[(mode, kind)][-1]:.3f} s of CPU", flush=True)
                    finally:
                        if mode == "skipped":
                            os.rmdir(log)
                            if os.path.lexists(log + ".written"):
                                os.rename(log + ".written", log)
            with open(log, encoding="utf-8") as written:
                blocks = written.read().split("\n== ")
            print(f"the log after {2 * self.runs} installs: {os.path.getsize(log)} bytes, {len(blocks)} runs kept; "
                  f"the last run's block: {len(blocks[-1].splitlines()) - 1} lines, "
                  f"{len(blocks[-1].encode())} bytes")
            for kind in ("fresh", "update"):
                written, skipped = times[("written", kind)], times[("skipped", kind)]
                print(f"whole installation, {kind}: log written {summary(written, 's')}; log skipped "
                      f"{summary(skipped, 's')}; difference of the medians "
                      f"{1000 * (statistics.median(written) - statistics.median(skipped)):+.0f} ms; install "
                      f"threads' CPU {summary(cpu[('written', kind)], 's', 3)} against "
                      f"{summary(cpu[('skipped', kind)], 's', 3)}")
        finally:
            if os.path.isdir(log):
                os.rmdir(log)
            if os.path.lexists(aside):
                os.replace(aside, log)

    def sizes(self):
        for name in ("Korvane-Setup.exe", "Korvane-Setup-loopback.exe"):
            path = os.path.join(self.build, "app", name)
            if os.path.exists(path):
                print(f"{name}: {os.path.getsize(path)} bytes ({os.path.getsize(path) / 1048576:.2f} MiB)")


PARTS = ("sizes", "start_and_idle", "download", "whole_installation", "extraction", "support_log")


def main():
    build, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    parts = sys.argv[3].split(",") if len(sys.argv) > 3 else PARTS
    bench = Bench(build, runs)
    print("load average at the start: {:.2f} {:.2f} {:.2f}".format(*os.getloadavg()), flush=True)
    try:
        for part in parts:
            getattr(bench, part)()
    finally:
        print("load average at the end: {:.2f} {:.2f} {:.2f}".format(*os.getloadavg()), flush=True)
        bench.clean()
        shutil.rmtree(bench.work, ignore_errors=True)


if __name__ == "__main__":
    main()
