"""Checks that stop a scenario with a message, and bounded waits instead of sleeps."""
import time


class Failure(AssertionError):
    """A check that did not hold: unittest counts it as a failure, not as an error of the test."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(condition, timeout, interval=0.1):
    """Polls `condition` until it holds or `timeout` seconds pass; its last answer."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(interval)
    return condition()
