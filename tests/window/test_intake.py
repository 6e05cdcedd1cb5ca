"""The intake's queue as a real producer process fills it: every item in
the order it was put, with point data blocks that arrived together taken as
one."""

import multiprocessing

import numpy as np

from tarvinel.stelvane.protocol import PD, PN, ROLL, TextRows
from tarvinel.stelvane.window import intake

# The producer runs in a fresh interpreter, as the window starts it.
CONTEXT = multiprocessing.get_context("spawn")


def produce(queue, items):
    for item in items:
        queue.put(item)


def block(first: int, rows: int, width: int = 2) -> np.ndarray:
    return np.arange(first, first + rows * width, dtype=np.float64).reshape(rows, width)


def test_blocks_that_arrived_together_are_taken_as_one_in_order(monkeypatch):
    monkeypatch.setattr(intake, "JOINED_ROWS", 4000)
    blocks = [block(2000 * i, 1000) for i in range(10)]  # 160 KB: more than a pipe holds by default
    words = TextRows(block(-10, 1), {1: ["on"]})
    items = [(PN, ["t", "v"]), *[(PD, b) for b in blocks], (PD, words), (PD, [7.0, 8.0]),
             (PD, block(-20, 1)), (ROLL, None), (PD, block(-30, 1)), (PD, block(-40, 1, width=3))]
    queue = CONTEXT.Queue()
    taken = intake.DeadlineQueue(queue)
    producer = CONTEXT.Process(target=produce, args=(queue, items))
    producer.start()
    producer.join(timeout=20)  # put and flushed before anything is read
    assert producer.exitcode == 0, "the producer waited for the window to read"

    got = []
    while not taken.empty():
        got.append(taken.get())
    whole = np.concatenate(blocks)
    assert [len(rows) for _, rows in got[1:4]] == [4000, 4000, 2000]
    assert np.array_equal(np.concatenate([rows for _, rows in got[1:4]]), whole)
    after = got[4:]
    assert after[0][1].words == words.words and np.array_equal(after[0][1].block, words.block)
    assert after[1] == (PD, [7.0, 8.0]) and after[3] == (ROLL, None)
    assert [np.asarray(rows).tolist() for _, rows in (after[2], after[4], after[5])] == \
        [block(-20, 1).tolist(), block(-30, 1).tolist(), block(-40, 1, width=3).tolist()]
    assert got[0] == (PN, ["t", "v"]) and len(got) == 10
    queue.close()
    queue.join_thread()
