"""Repeat an operation and watch the interpreter's allocated blocks and the
reference counts of the objects involved: a C++ reference slip shows up as
growth proportional to the number of repetitions."""
import gc
import sys

REPEAT = 500
# Blocks allowed to appear over REPEAT calls; fewer calls allow proportionally
# fewer. Free lists, caches and interned strings move the count by a few dozen
# blocks at most; one leaked object per call moves it by the number of calls,
# five times the allowance.
TOLERANCE = 100
# Counts taken one after the other before a growth is called a leak: a cache
# still filling stops growing, a leak grows in every one of them.
WINDOWS = 3


def allowed(repeat):
    return TOLERANCE * repeat // REPEAT


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


def assert_no_growth(operation, *watched, repeat=REPEAT, warmup=20, windows=WINDOWS, allowance=None):
    """Passes at the first of `windows` counts of `repeat` calls in which
    fewer blocks than `allowance` (by default allowed(repeat)) appeared and no
    watched reference count moved.
    Other threads of the process (a watchdog, a queue's feeder) and caches
    still filling allocate now and then; a leak grows in every count."""
    allowance = allowed(repeat) if allowance is None else allowance
    for _ in range(warmup):
        operation()
    gc.collect()
    gc.freeze()  # once for all counts: unfreezing would put the whole heap back
    try:
        seen = []
        for _ in range(windows):
            grown, moved = _counted(operation, watched, repeat)
            if grown < allowance and not any(moved):
                return
            seen.append((grown, moved))
    finally:
        gc.unfreeze()
    raise AssertionError(f"after {repeat} calls, in each of {windows} counts (blocks more, references moved; "
                         f"{allowance} blocks allowed): {seen}")


def raising(operation, exception):
    def run():
        try:
            operation()
        except exception:
            pass
        else:
            raise AssertionError(f"{exception.__name__} not raised")

    return run
