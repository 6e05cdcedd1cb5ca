"""The process' local time zone, set for one test and given back after it:
what a user's TZ decides is what the window shows."""
import contextlib
import os
import time

import pytest

# Instants of Europe/Berlin's changes in 2026, seconds since the epoch.
SPRING_FORWARD = 1774746000  # 2026-03-29 02:00 CET becomes 03:00 CEST
FALL_BACK = 1792890000       # 2026-10-25 03:00 CEST becomes 02:00 CET
HOUR = 3600


@contextlib.contextmanager
def local_zone(name: str):
    before = os.environ.get("TZ")
    os.environ["TZ"] = name
    time.tzset()
    try:
        yield
    finally:
        if before is None:
            os.environ.pop("TZ", None)
        else:
            os.environ["TZ"] = before
        time.tzset()


@pytest.fixture
def berlin():
    with local_zone("Europe/Berlin"):
        yield
