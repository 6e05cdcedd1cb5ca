"""A source in its own producer process, as the window runs it, and what
arrived from it: the queue's items and the status pipe's messages."""

import multiprocessing
import queue as queue_module
import time

import numpy as np

from tarvinel.stelvane.protocol import PD, PN, ROLL
from tarvinel.stelvane.sources.producer import ProducerProcess

# The producer runs in a fresh interpreter, as the window starts it.
CONTEXT = multiprocessing.get_context("spawn")


class Run:
    """A source in its producer process, and what arrived from it."""

    def __init__(self, source, **options):
        self.queue = CONTEXT.Queue(200)
        self.producer = ProducerProcess(CONTEXT, self.queue, source=source, **options)
        self.producer.start()
        self.items, self.messages = [], []

    def until(self, done, seconds=20.0):
        end = time.monotonic() + seconds
        while not done(self) and time.monotonic() < end:
            try:
                self.items.append(self.queue.get(timeout=0.05))
            except queue_module.Empty:
                pass
            self.messages += self.producer.messages()
        assert done(self), (self.items, self.messages)
        return self

    def words(self):
        return [word for word, _ in self.items]

    def runs(self):
        """Point rows per run, as lists."""
        runs = [[]]
        for word, data in self.items:
            if word == PD:
                runs[-1].extend(np.atleast_2d(data).tolist())
            elif word in (ROLL, PN) and runs[-1]:
                runs.append([])
        return [run for run in runs if run]

    def of(self, kind):
        return [m[1] for m in self.messages if m[0] == kind]

    @property
    def ended(self):
        return (self.of("ended") or [None])[0]
