#!/usr/bin/env python3
"""The real installer (Korvane-Setup-loopback.exe) used without the mouse: by the keyboard alone, and
by a screen reader's stand-in (screen_reader.exe) that reads the window's UI Automation tree on each
screen and presses buttons through MSAA's default action, against the loopback release site.

    accessibility_test.py --wine-run ... --screen-reader ... --work DIR [unittest options]
"""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
from testkit import window as ui  # noqa: E402
from testkit.checks import check, wait_until  # noqa: E402
from testkit.session import parse_arguments  # noqa: E402
from e2e_test import Installation, check_planted_dlls_never_load  # noqa: E402

ARGS = None
BUTTON, TEXT, PROGRESS_BAR = "50000", "50020", "50012"
RING = (0xF3, 0xF3, 0xF5)


class Reader:
    """screen_reader.exe run against the installer's window."""

    def __init__(self, session):
        self.command = [session.args.wine_run, session.args.screen_reader]
        self.output = os.path.join(session.args.work, "screen-reader.txt")
        self.errors = os.path.join(session.args.work, "screen-reader-errors.txt")

    def run(self, *arguments):
        """The reader's exit code and output. Its output goes through files: a pipe would also wait for
        any Wine process that the run started (and that inherited the pipe) to end."""
        with open(self.output, "w+") as output, open(self.errors, "a") as errors:
            code = subprocess.run([*self.command, *arguments], stdout=output, stderr=errors, timeout=120,
                                  stdin=subprocess.DEVNULL).returncode
            output.seek(0)
            return code, output.read()

    def tree(self):
        """The elements as (control type, automation id, focused, name), or None if it could not read."""
        code, output = self.run("tree")
        if code != 0:
            return None
        return [tuple(line.split("\t", 3)) for line in output.splitlines()]

    def tree_until(self, predicate, timeout):
        """The first tree that satisfies `predicate` within `timeout` seconds, or the last one read."""
        deadline = time.monotonic() + timeout
        tree = None
        while time.monotonic() < deadline:
            tree = self.tree()
            if tree and predicate(tree):
                break
            time.sleep(0.2)
        return tree

    def press(self, name):
        code, _ = self.run("press", name)
        check(code == 0, f"MSAA's default action of {name!r} failed ({code})")


def named(tree, automation_id):
    return next((element[3] for element in tree if element[1] == automation_id), None)


def ids(tree):
    return [element[1] for element in tree]


def heading(tree):
    return named(tree, "heading") or ""


def ring_at(frame, name):
    """Whether the focus ring is drawn just above the named button's middle."""
    rect = ui.button(name)
    return ui.near(frame.pixel(rect.centre[0], rect.y - 4), RING, 40)


class AccessibleScenarios(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = session = Installation(ARGS)
        cls.addClassCleanup(session.clean_installation)
        cls.addClassCleanup(session.stop_all)
        cls.reader = Reader(session)

    def tearDown(self):
        self.session.stop_all()

    def test_a_reader_follows_every_screen_and_presses_buttons(self):
        s, reader = self.session, self.reader
        s.clean_installation()
        s.serve_slow_release()  # a download that stalls, then a package that is no launcher: the error screen
        output = open(os.path.join(s.args.work, "installer-errors.txt"), "w")
        self.addCleanup(output.close)
        process, window = s.start_installer(stderr=output)

        start = reader.tree()
        check(start is not None, "the reader could not read the start screen")
        check(ids(start) == ["close", "heading", "folderLabel", "folderPath", "changeFolder", "feature", "primary",
                             "footer"], f"start screen: {start}")
        check(heading(start) == "Установить Korvane Launcher", f"start heading: {heading(start)!r}")
        check(named(start, "folderPath") == s.windows_folder, f"the folder reads {named(start, 'folderPath')!r}")
        check(all(element[0] == BUTTON for element in start if element[1] in ("close", "changeFolder", "primary")),
              f"buttons of the start screen: {start}")

        reader.press("Установить лаунчер")
        s.wait_for_download()
        downloading = reader.tree_until(lambda tree: heading(tree) == "Скачиваем лаунчер.", 60)
        check(heading(downloading) == "Скачиваем лаунчер.", f"download screen: {downloading}")
        check(("progress" in ids(downloading)) and named(downloading, "primary") == "Отменить установку"
              and "changeFolder" not in ids(downloading) and "folderPath" not in ids(downloading),
              f"download screen: {downloading}")
        check(next(e[0] for e in downloading if e[1] == "progress") == PROGRESS_BAR, f"no progress bar: {downloading}")

        s.wait_for(window, process, {"failed"}, 120, "a package that is no launcher")
        failed = reader.tree()
        check(heading(failed) == "Не получилось завершить установку.", f"error screen: {failed}")
        check(bool(named(failed, "errorMessage")), f"the error screen reads no message: {failed}")
        check(named(failed, "changeFolder") == "Изменить папку" and named(failed, "primary") == "Повторить"
              and "progress" not in ids(failed), f"error screen: {failed}")

        s.serve_release("1.0.0")
        reader.press("Повторить")
        s.wait_for(window, process, {"done"}, 120, "install after retry")
        done = reader.tree()
        check(heading(done) == "Всё готово. Приятной поездки!", f"result screen: {done}")
        check(named(done, "launch") == "Запустить лаунчер" and named(done, "closeResult") == "Закрыть"
              and named(done, "footer") == "Korvane Launcher · 1.0.0", f"result screen: {done}")
        check("primary" not in ids(done) and "changeFolder" not in ids(done), f"result screen: {done}")
        s.check_installed("1.0.0")

        # The first "Закрыть" is the window's cross; like the result screen's own, it closes the window.
        reader.press("Закрыть")
        check(s.wait_exit(process, 30, "close") == 0, "the installer did not exit with code 0")

    def test_the_keyboard_alone_installs_and_launches(self):
        s, reader = self.session, self.reader
        s.clean_installation()
        s.serve_release("1.0.0")
        process, window = s.start_installer()
        window.key("Tab")  # focuses the window (a click on no button), then the first button
        before = window.capture()
        check(not ring_at(before, "primaryButton"), "a focus ring on the install button before it has the focus")
        window.key("Tab")
        window.key("Tab")
        focused = None
        for _ in range(40):
            focused = window.capture()
            if ring_at(focused, "primaryButton"):
                break
            time.sleep(0.1)
        focused.save(os.path.join(s.args.work, "focus-ring.png"))
        check(ring_at(focused, "primaryButton"), "no focus ring around the install button after Tab")
        tree = reader.tree()
        check([element[1] for element in tree if element[2] == "1"] == ["primary"], f"focus in the tree: {tree}")

        window.key("space")
        s.wait_for(window, process, {"done"}, 120, "install by keyboard")
        s.check_installed("1.0.0")
        # The install button went with its screen: the focus is on the launch button.
        done = window.capture()
        done.save(os.path.join(s.args.work, "focus-ring-done.png"))
        check(ring_at(done, "launchButton"), "no focus ring around the launch button on the result screen")
        s.clear_control()
        window.key("Return")
        check(s.wait_exit(process, 30, "launch") == 0, "the installer did not exit with code 0 after the launch")
        check(wait_until(lambda: os.path.exists(os.path.join(s.control, "launched.txt")), 60),
              "the installed launcher did not start")

    def reader_road(self, program, folder, env, trace):
        """`program` started in `folder` with `env`, installed and closed by the reader alone: the tree
        read on the start and result screens, the buttons pressed through MSAA."""
        s, reader = self.session, self.reader
        s.clean_installation()
        s.serve_release("1.0.0")
        with open(trace, "w") as output:
            process, window = s.start_installer(program, env=env, cwd=folder, stderr=output)
            check(reader.tree() is not None, "the reader could not read the start screen")
            reader.press("Установить лаунчер")
            s.wait_for(window, process, {"done"}, 120, "install by the reader")
            check(reader.tree() is not None, "the reader could not read the result screen")
            reader.press("Закрыть")
            check(s.wait_exit(process, 30, "close") == 0, "the installer did not exit with code 0")

    def test_planted_dlls_are_never_loaded_with_a_reader(self):
        """As the planted-DLL scenario of e2e_test.py, over a road on which a screen reader makes the
        installer load UI Automation and oleacc as well."""
        check_planted_dlls_never_load(self, self.session, "korvane-planted-reader", self.reader_road,
                                      ("uiautomationcore.dll", "oleacc.dll"))


if __name__ == "__main__":
    ARGS, rest = parse_arguments(extra_options=("screen-reader", "planted-dll"))
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
