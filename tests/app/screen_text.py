#!/usr/bin/env python3
"""Reads a text box of a screenshot with tesseract (Russian) and checks that it says the expected
text, read from stdin. Exits 1 with what was read when it does not.
    screen_text.py PNG X Y WIDTH HEIGHT < EXPECTED

OCR is not exact, so the comparison is by words, in order: each word of the expected text must be
read with at most a few letters wrong (a quarter of its length), and at most two words may be read
that the text does not have. A path or file name is left out on both sides: the Russian model
reads its Latin letters as look-alike Cyrillic ones (Users as Узег5), and the text box breaks it
at backslashes, so its pieces cannot be matched as words; the Russian words around it are plenty to
tell one message from another."""
import os
import subprocess
import sys
import tempfile

MAX_UNEXPECTED_WORDS = 2
# Small text reads far better three times larger, light on dark turned into dark on light.
SCALE = "300%"


def words(text):
    """Lower-case words of letters and digits, without paths and surrounding punctuation."""
    result = []
    for token in text.split():
        if "\\" in token:
            continue
        word = "".join(c for c in token.lower().replace("ё", "е") if c.isalnum())
        if word:
            result.append(word)
    return result


def edit_distance(a, b):
    row = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        previous, row[0] = row[0], i
        for j, cb in enumerate(b, 1):
            previous, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, previous + (ca != cb))
    return row[len(b)]


def close_enough(expected, read):
    return edit_distance(expected, read) <= len(expected) // 4


def mismatch(expected, read):
    """None when every expected word is read in order with few extra words, else why not."""
    position = 0
    unexpected = 0
    for word in expected:
        start = position
        while position < len(read) and not close_enough(word, read[position]):
            position += 1
        if position == len(read):
            return f"'{word}' was not read after word {start}"
        unexpected += position - start
        position += 1
    unexpected += len(read) - position
    if unexpected > MAX_UNEXPECTED_WORDS:
        return f"{unexpected} words read that the text does not have"
    return None


def read_box(png, x, y, width, height):
    with tempfile.TemporaryDirectory() as folder:
        crop = os.path.join(folder, "box.png")
        subprocess.run(["convert", png, "-crop", f"{width}x{height}+{x}+{y}", "+repage", "-colorspace", "gray",
                        "-negate", "-resize", SCALE, "-normalize", crop], check=True)
        # One thread: the machines that run the tests are shared.
        environment = dict(os.environ, OMP_THREAD_LIMIT="1")
        result = subprocess.run(["tesseract", crop, "-", "-l", "rus", "--psm", "6"], capture_output=True,
                                check=True, env=environment)
        return result.stdout.decode("utf-8")


def main():
    png, x, y, width, height = sys.argv[1:6]
    expected = sys.stdin.buffer.read().decode("utf-8")
    text = read_box(png, x, y, width, height)
    problem = mismatch(words(expected), words(text))
    if problem is not None:
        print(f"{problem}; read:\n{text.strip()}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
