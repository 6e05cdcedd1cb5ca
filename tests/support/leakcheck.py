"""Repeat an operation and watch the interpreter's allocated blocks and the
reference counts of the objects involved: a C++ reference slip shows up as
growth proportional to the number of repetitions."""
import gc
import sys

REPEAT = 1000
# Free lists, caches and interned strings move the count by a few dozen
# blocks at most; one leaked object per call moves it by REPEAT.
TOLERANCE = 200


def settle():
    for _ in range(3):
        gc.collect()


def growth(operation, *watched, repeat=REPEAT, warmup=20):
    """Blocks allocated more, and how far the reference count of each watched
    object moved, after `repeat` runs that followed `warmup` runs."""
    for _ in range(warmup):  # fill caches and free lists before counting
        operation()
    # What the process held before is left out of the collections: late in
    # a long session they would walk its whole heap each time.
    gc.collect()
    gc.freeze()
    try:
        return _counted(operation, watched, repeat)
    finally:
        gc.unfreeze()


def _counted(operation, watched, repeat):
    settle()
    counts = [sys.getrefcount(obj) for obj in watched]
    blocks = sys.getallocatedblocks()
    for _ in range(repeat):
        operation()
    settle()
    grown = sys.getallocatedblocks() - blocks
    # Counted exactly as before (a zip's item tuple would hold one reference more).
    after = [sys.getrefcount(obj) for obj in watched]
    return grown, [a - b for a, b in zip(after, counts)]


def assert_no_growth(operation, *watched, repeat=REPEAT, warmup=20):
    grown, moved = growth(operation, *watched, repeat=repeat, warmup=warmup)
    if grown >= TOLERANCE:
        # Other threads of the process (a watchdog, a queue's feeder) and
        # caches still filling allocate now and then; a leak grows again.
        grown, moved = growth(operation, *watched, repeat=repeat, warmup=0)
    assert grown < TOLERANCE, f"{grown} blocks more after {repeat} calls"
    assert moved == [0] * len(watched)


def raising(operation, exception):
    def run():
        try:
            operation()
        except exception:
            pass
        else:
            raise AssertionError(f"{exception.__name__} not raised")

    return run
