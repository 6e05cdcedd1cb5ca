"""Repeat an operation and watch the interpreter's allocated blocks and the
reference counts of the objects involved: a C++ reference slip shows up as
growth proportional to the number of repetitions."""
import gc
import sys

REPEAT = 3000
# Free lists, caches and interned strings move the count by a few dozen
# blocks at most; one leaked object per call moves it by REPEAT.
TOLERANCE = 200


def settle():
    for _ in range(3):
        gc.collect()


def assert_no_growth(operation, *watched, repeat=REPEAT, warmup=20):
    for _ in range(warmup):  # fill caches and free lists before counting
        operation()
    settle()
    counts = [sys.getrefcount(obj) for obj in watched]
    blocks = sys.getallocatedblocks()
    for _ in range(repeat):
        operation()
    settle()
    grown = sys.getallocatedblocks() - blocks
    assert grown < TOLERANCE, f"{grown} blocks more after {repeat} calls"
    assert [sys.getrefcount(obj) for obj in watched] == counts


def raising(operation, exception):
    def run():
        try:
            operation()
        except exception:
            pass
        else:
            raise AssertionError(f"{exception.__name__} not raised")

    return run
