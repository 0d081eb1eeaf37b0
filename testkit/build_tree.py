"""What a configured build folder holds, for the programs that take only its path (the demo, the
benchmarks)."""
import os


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    raise SystemExit(f"{name} is not in {build}/CMakeCache.txt")


def installer(build):
    """The installer built for the loopback release site."""
    return os.path.join(build, "app", "Korvane-Setup-loopback.exe")


def stand_in_launcher(build):
    return os.path.join(build, "tests", "e2e", "KORLAUNCHER.exe")


def screens_tool(build):
    return os.path.join(build, "tests", "app", "korvane_screens.exe")


def release_tool(build):
    return os.path.join(build, "host", "korvane-release")


def trust_test_ca(build):
    return os.path.join(build, "tests", "trust_test_ca.exe")
