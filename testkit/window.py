"""The installer's window seen from the X server (DISPLAY): found with xdotool, captured with
ImageMagick's import, clicked at canvas coordinates (the logical canvas times the window's
scale), and its screen told from pixels that only that screen has.

Where the buttons are is the program's own knowledge: read_geometry() asks the screens tool
(korvane_screens.exe --geometry) once, and clicks and pixel probes go by the rectangles it prints,
named as the window names them: primaryButton ("Установить лаунчер", "Отменить установку",
"Повторить"), secondaryButton ("Закрыть" on the result screen), changeButton ("Изменить"),
closeButton (the window's cross), launchButton ("Запустить лаунчер"), failedChangeButton ("Изменить
папку" on the error screen)."""
import json
import subprocess
import time
from typing import NamedTuple

TITLE = "^Установка Korvane Launcher$"

BACKGROUND = (0x10, 0x11, 0x14)
ACCENT = (0xFF, 0x71, 0x3B)
SECONDARY = (0x20, 0x21, 0x27)   # dark buttons: "Отменить установку", "Закрыть"
CONTROL = (0x26, 0x27, 0x2F)     # "Изменить" and the progress track
PROGRESS_TRACK = (820, 301)      # the progress bar's track, right of any fill but a finished one
HEADING = (360, 100, 472, 124)   # x, y, width, height of the heading box


class Rect(NamedTuple):
    """A rectangle of the logical canvas, as the program's UiRect."""
    x: float
    y: float
    width: float
    height: float

    @property
    def centre(self):
        return self.x + self.width / 2, self.y + self.height / 2


_canvas = None
_buttons = None


def read_geometry(command, env=None):
    """The canvas size and the rectangles the window hit-tests, printed by the screens tool; `command`
    runs korvane_screens.exe (for example [wine-run.sh, exe]). Read once per process."""
    global _canvas, _buttons
    if _buttons is None:
        result = subprocess.run([*command, "--geometry"], capture_output=True, text=True, env=env, timeout=120,
                                stdin=subprocess.DEVNULL)
        if result.returncode != 0:
            raise RuntimeError(f"{' '.join(command)} --geometry failed ({result.returncode}): {result.stderr.strip()}")
        printed = json.loads(result.stdout)
        _canvas = tuple(printed.pop("canvas"))
        _buttons = {name: Rect(*values) for name, values in printed.items()}


def _read():
    if _buttons is None:
        raise RuntimeError("the window's geometry has not been read (window.read_geometry)")


def canvas_size():
    """Width and height of the logical canvas."""
    _read()
    return _canvas


def button(name):
    _read()
    return _buttons[name]


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], capture_output=True, text=True).stdout


def near(colour, expected, tolerance=24):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def regions_differ(before, after):
    """Two captures of one region differ by more than noise (a changed text, not a fade step)."""
    if before is None or len(before) != len(after):
        return True
    return sum(1 for a, b in zip(before[::3], after[::3]) if abs(a - b) > 40) > len(after) // 300


class Frame:
    """One captured picture of the window (RGB), addressed in canvas coordinates."""

    def __init__(self, ppm, scale):
        self.ppm, self.scale = ppm, scale
        header = []
        position = 0
        while len(header) < 4:  # "P6", width, height, maximum value; comments are not written by import
            end = position
            while ppm[end:end + 1].isspace():
                end += 1
            start = end
            while not ppm[end:end + 1].isspace():
                end += 1
            header.append(ppm[start:end])
            position = end
        self.width, self.height = int(header[1]), int(header[2])
        self.pixels = ppm[position + 1:]

    def pixel(self, x, y):
        px, py = int(x * self.scale), int(y * self.scale)
        offset = 3 * (py * self.width + px)
        return tuple(self.pixels[offset:offset + 3])

    def region(self, box):
        x, y, width, height = (int(value * self.scale) for value in box)
        return b"".join(self.pixels[3 * (row * self.width + x):3 * (row * self.width + x + width)]
                        for row in range(y, y + height))

    def screen(self):
        """"idle", "failed", "done", "progress", or None for a frame not (yet) painted."""
        if not near(self.pixel(4, 566), BACKGROUND, 8):
            return None
        primary, secondary, change = button("primaryButton"), button("secondaryButton"), button("changeButton")
        # Each probe lies inside its button, clear of the label and of the rounded corners.
        fill = self.pixel(primary.x + 12, primary.y + 10)
        if near(fill, SECONDARY, 10) and near(self.pixel(*PROGRESS_TRACK), CONTROL, 10):
            return "progress"
        if not near(fill, ACCENT):
            return None
        if near(self.pixel(secondary.centre[0], secondary.y + 4), SECONDARY, 10):
            return "done"
        return "idle" if near(self.pixel(change.x + 4, change.y + 4), CONTROL, 10) else "failed"

    def save(self, path):
        subprocess.run(["convert", "ppm:-", path], input=self.ppm, check=True)


class InstallerWindow:
    def __init__(self, wid):
        self.wid = wid
        geometry = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", wid).split())
        self.x, self.y = int(geometry["X"]), int(geometry["Y"])
        self.width, self.height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])
        self.scale = self.width / canvas_size()[0]

    @staticmethod
    def find(timeout, title=TITLE, alive=lambda: True, canvas=True):
        """The visible window of that title; with `canvas`, only one with the canvas' proportions (not
        a message box of the same title)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and alive():
            for wid in xdotool("search", "--onlyvisible", "--name", title).split():
                window = InstallerWindow(wid)
                if not canvas or window.width * canvas_size()[1] == window.height * canvas_size()[0]:
                    return window
            time.sleep(0.1)
        return None

    def exists(self):
        return self.wid in xdotool("search", "--onlyvisible", "--name", TITLE).split()

    def capture(self):
        ppm = subprocess.run(["import", "-window", "root", "-crop", f"{self.width}x{self.height}+{self.x}+{self.y}",
                              "+repage", "-depth", "8", "ppm:-"], capture_output=True).stdout
        return Frame(ppm, self.scale) if ppm.startswith(b"P6") else None

    def screen(self):
        frame = self.capture()
        return (frame.screen() if frame else None), frame

    def wait_for(self, screens, timeout, alive=lambda: True):
        """The first frame showing one of `screens` within `timeout` seconds, or None."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and alive():
            shown, frame = self.screen()
            if shown in screens:
                return frame
            time.sleep(0.1)
        return None

    def point(self, x, y):
        return str(self.x + round(x * self.scale)), str(self.y + round(y * self.scale))

    def click(self, x, y):
        xdotool("mousemove", *self.point(x, y), "click", "1")
        # The pointer then rests on the artwork, where it lifts no button in later pictures.
        xdotool("mousemove", *self.point(150, 520))

    def press(self, name):
        """A click in the middle of the named button (see read_geometry)."""
        self.click(*button(name).centre)

    def key(self, name):
        # Without a window manager keys go to the window that was clicked last. The window's centre
        # is no button on any screen (and the middle of any other window).
        xdotool("mousemove", str(self.x + self.width // 2), str(self.y + self.height // 2), "click", "1")
        xdotool("key", name)
