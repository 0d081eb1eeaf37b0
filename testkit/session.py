"""The start-up shared by the programs that drive the real installer (Korvane-Setup-loopback.exe)
through its window against the running loopback test servers: the end-to-end scenarios and the kill
sweep. One command line, the servers, the prefix's user and install folder, the window's geometry,
a fresh work folder, and every process started here stopped on every path."""
import argparse
import os
import shutil
import subprocess

from testkit import prefix, window
from testkit.checks import Failure, check
from testkit.servers import Servers

OPTIONS = ("wine-run", "installer", "launcher", "release-tool", "key", "prefix", "servers", "screens-tool", "work")


def parse_arguments(extra_options=(), flags=(), argv=None):
    """The shared options and `extra_options` (each required), and the on/off `flags`; what is left
    over is returned apart (unittest's own command line)."""
    parser = argparse.ArgumentParser()
    for name in OPTIONS + tuple(extra_options):
        parser.add_argument("--" + name, required=True)
    for name, help_text in flags:
        parser.add_argument("--" + name, action="store_true", help=help_text)
    return parser.parse_known_args(argv)


class Session:
    def __init__(self, args, env=None):
        self.args = args
        self.servers = Servers(args.servers)
        self.user = prefix.prefix_users(args.prefix)[0]
        self.folder = prefix.install_folder(self.user)
        self.env = dict(os.environ) if env is None else env
        self.processes = []
        window.read_geometry([args.wine_run, args.screens_tool])
        shutil.rmtree(args.work, ignore_errors=True)
        os.makedirs(args.work)

    def start(self, command, env=None, cwd=None, stderr=subprocess.DEVNULL):
        """`command` with the session's environment plus `env`, in the folder `cwd`."""
        process = subprocess.Popen(command, env=dict(self.env, **(env or {})), cwd=cwd, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=stderr)
        self.processes.append(process)
        return process

    def start_installer(self, program=None, **start_options):
        """The installer's process (`program`, by default the one on the command line; `start_options`
        as for `start`) and its window, once the start screen is painted."""
        process = self.start([self.args.wine_run, program or self.args.installer], **start_options)
        alive = lambda: process.poll() is None  # noqa: E731
        shown = window.InstallerWindow.find(90, alive=alive)
        check(shown is not None, "the installer window did not appear")
        check(shown.wait_for({"idle"}, 90, alive) is not None, "the start screen was not painted")
        return process, shown

    @staticmethod
    def wait_exit(process, timeout, what):
        try:
            return process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{what}: the process did not exit within {timeout} s")

    def stop_all(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
        self.processes.clear()

    def clean_installation(self):
        prefix.remove_installation(self.user)
