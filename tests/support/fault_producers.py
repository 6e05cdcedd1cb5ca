"""Producers for the fault tests: what a spawned producer process runs, and
the window's handle on it. No Qt here: the producer process imports this."""

import os
import signal
import struct

from tarvinel.stelvane.sources.feed import put_until_stopped
from tarvinel.stelvane.sources.producer import ProducerOptions, ProducerProcess
from tarvinel.stelvane.protocol import PD, PN, PXY

# Items the intake turns into a problem each, one of every kind: not a
# tuple, the wrong number of elements, an unknown command word, data of the
# wrong shape, a value that is not a number.
MALFORMED = (
    PD,
    (PD,),
    (PD, [1.0, 2.0], "extra"),
    ("NOPE", [1.0, 2.0]),
    (PD, [1.0]),
    (PD, [1.0, "x"]),
    (PD, "text"),
)
NAMES = ["time", "value"]


class ScriptedProducer(ProducerProcess):
    """A ProducerProcess that runs `target(queue, stop, *args)` instead of
    the simulated instrument: same start, stop and stop signal."""

    def __init__(self, context, queue, target, *args):
        super().__init__(context, queue, ProducerOptions(), 0.0)
        self.process = context.Process(target=target, args=(queue, self._stop_reader, *args),
                                       name="stelvane-test-producer", daemon=True)


def flood(queue, stop, count: int, good_every: int) -> None:
    """`count` malformed items, with a good row after every `good_every` of
    them (so the live plot has something new to draw, always in the same
    range: the axes need not be laid out again), then a last row
    [-1.0, -1.0] that marks the end."""
    queue.cancel_join_thread()
    put_until_stopped(queue, stop, (PN, NAMES))
    put_until_stopped(queue, stop, (PXY, "time,value"))
    row = 0
    for i in range(count):
        if not put_until_stopped(queue, stop, MALFORMED[i % len(MALFORMED)]):
            return
        if i % good_every == good_every - 1:
            row += 1
            if not put_until_stopped(queue, stop, (PD, [float(row % 100), float(row % 7)])):
                return
    put_until_stopped(queue, stop, (PD, [-1.0, -1.0]))
    stop.poll(None)  # alive until the window stops it: its end is no fault here


def half_an_item(queue, stop, rows: int, then: str) -> None:
    """`rows` whole rows, then the first 100,000 bytes of an item announced
    as 1,000,000; then the producer dies (`then` "dies") or stays alive and
    silent until stopped ("stalls")."""
    writer = os.dup(queue._writer.fileno())  # the pipe, past the queue's feeder thread
    put_until_stopped(queue, stop, (PN, NAMES))
    put_until_stopped(queue, stop, (PXY, "time,value"))
    for row in range(rows):
        put_until_stopped(queue, stop, (PD, [float(row), float(row % 7)]))
    queue.close()
    queue.join_thread()  # every whole item is in the pipe
    os.write(writer, struct.pack("!i", 1_000_000) + bytes(100_000))
    if then == "dies":
        os.kill(os.getpid(), signal.SIGKILL)
    stop.poll(None)
