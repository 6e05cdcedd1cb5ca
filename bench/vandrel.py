"""Vandrel.flush against the same dispatcher in plain Python, per queue item.

(a) In-process: a queue.SimpleQueue (C-level empty() and get()) and data sets
    and a toolbar whose operations are built-in callables that do nothing, the
    same objects for both. Two command mixes: all seven command words in turn,
    and data rows only. No target: flush reads each attribute and calls each
    operation through the generic public calls, afresh for every item as the
    plain code does; the interpreter's own bytecode remembers its lookups per
    site, so in this loop it can be level with or ahead of the native drain.
    A remembered-lookup cache would need the interpreter's private symbols,
    and (b) and bench/pipeline.py cannot tell it from the public calls.
(b) A real multiprocessing.Queue filled by a producer process. Each round the
    producer puts a batch into a fresh queue and waits until its feeder thread
    has written all of it into the pipe; then the batch is drained by native
    flush, by plain-Python flush, or by a bare `while not q.empty(): q.get()`
    loop. flush's own share of the per-item time is what it costs beyond the
    bare loop; it includes entering the interpreter from C for the queue's
    Python-level empty() and get(), which costs more than the same calls
    made from Python code. Target: under 5 %.

    python bench/vandrel.py [--check]     (--check: exit 1 when a target is missed)
"""

import gc
import math
import multiprocessing
import pickle
import queue
import sys
import time

from harness.sidebyside import alternating
from tarvinel.stelvane import vandrel as native
from twins import vandrel as plain

QUEUE_SHARE_TARGET = 0.05

ROW = [1.0, 2.0, 3.0]
NAMES = ["time", "a", "b"]
MIXES = {
    "all seven words": [("PN", NAMES), ("TN", NAMES), ("PD", ROW), ("TD", ROW), ("ROLL", None),
                        ("PXY", "time,a"), ("TXY", "time,b")],
    "data rows only": [("PD", ROW)],
}


class NullDataset:
    """Takes every data set operation and does nothing, at the cost of one
    built-in call: the operations are built-in callables stored on the class,
    which Python does not bind (no self is passed)."""

    __slots__ = ()
    set_column_names = append = len  # payloads are lists
    roll = {}.clear


class NullToolbar:
    __slots__ = ()
    refresh_comb = {}.clear
    set_point_text = set_trace_text = len


def make_vandrel(module, q):
    return module.Vandrel(q, NullToolbar(), NullDataset(), NullDataset())


def timed_flush(vandrel):
    gc.disable()
    try:
        start = time.perf_counter_ns()
        vandrel.flush()
        return time.perf_counter_ns() - start
    finally:
        gc.enable()


def in_process(items, count=50_000, rounds=9):
    """Best per-item ns of each implementation, rounds interleaved."""
    batch = [items[i % len(items)] for i in range(count)]

    def flushed(module):
        def per_item():
            q = queue.SimpleQueue()
            for item in batch:
                q.put(item)
            return timed_flush(make_vandrel(module, q)) / count
        return per_item

    spent = alternating(rounds, {native: flushed(native), plain: flushed(plain)})
    return min(spent[native]), min(spent[plain])


# --- (b): a producer process --------------------------------------------------------


def produce(queues, items, go, ready):
    """For each queue on request: put the batch, then wait until the feeder
    thread has written it all into the pipe (the batch fits in the pipe)."""
    for index, q in enumerate(queues):
        go.get()
        for item in items:
            q.put(item)
        q.close()
        q.join_thread()
        ready.put(index)


def drain_only(q):
    gc.disable()
    try:
        start = time.perf_counter_ns()
        while not q.empty():
            q.get()
        return time.perf_counter_ns() - start
    finally:
        gc.enable()


def batch_that_fits_a_pipe(items, pipe_bytes=48_000):
    # Each message is its pickle and a 4-byte length header.
    sizes = [len(pickle.dumps(item, pickle.HIGHEST_PROTOCOL)) + 4 for item in items]
    count = pipe_bytes // (sum(sizes) // len(sizes) + 1)
    return [items[i % len(items)] for i in range(count)]


def through_a_process(items, rounds_each=30):
    """Best per-item ns of native flush, plain flush and the bare drain loop."""
    context = multiprocessing.get_context("spawn")
    batch = batch_that_fits_a_pipe(items)
    drains = {"native": lambda q: timed_flush(make_vandrel(native, q)),
              "plain": lambda q: timed_flush(make_vandrel(plain, q)),
              "drain": drain_only}
    # Each round in another order: none always comes first after the producer.
    names = list(drains)
    order = [name for r in range(rounds_each) for name in names[r % 3:] + names[:r % 3]]
    queues = [context.Queue() for _ in order]
    go, ready = context.Queue(), context.Queue()
    producer = context.Process(target=produce, args=(queues, batch, go, ready))
    producer.start()
    best = dict.fromkeys(drains, math.inf)
    try:
        for index, name in enumerate(order):
            go.put(True)
            if ready.get(timeout=60) != index:
                raise RuntimeError("producer out of step")
            best[name] = min(best[name], drains[name](queues[index]) / len(batch))
            if not queues[index].empty():
                raise RuntimeError(f"{name} left items in the queue")
    finally:
        producer.join(timeout=60)
    return best, len(batch)


def main():
    check = "--check" in sys.argv[1:]
    missed = []
    print("(a) in-process queue, data sets that do nothing: ns per item")
    print(f"{'mix':<18} {'plain':>8} {'native':>8} {'native/plain':>13}")
    for mix, items in MIXES.items():
        native_ns, plain_ns = in_process(items)
        ratio = native_ns / plain_ns
        print(f"{mix:<18} {plain_ns:>8.1f} {native_ns:>8.1f} {ratio:>13.3f}")
    print()

    best, count = through_a_process(MIXES["all seven words"])
    print(f"(b) multiprocessing.Queue fed by a producer process, {count} items per batch: ns per item")
    print(f"{'bare drain loop':<18} {best['drain']:>8.0f}")
    for name in ("plain", "native"):
        share = max(0.0, best[name] - best["drain"]) / best[name]
        print(f"{name + ' flush':<18} {best[name]:>8.0f}   own share {share:6.1%}")
    native_share = max(0.0, best["native"] - best["drain"]) / best["native"]
    print(f"target: native flush's own share < {QUEUE_SHARE_TARGET:.0%}")
    if native_share >= QUEUE_SHARE_TARGET:
        missed.append("(b) share")

    print("targets missed: " + ", ".join(missed) if missed else "targets met")
    if check and missed:
        sys.exit(1)


if __name__ == "__main__":
    main()
