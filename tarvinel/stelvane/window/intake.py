"""The command intake: the producer's queue drained into the data sets and
the toolbar for a bounded share of each frame, with every problem on the
way (failed commands, warnings of the intake and the data sets) handed to a
`report` callable as one line.
"""

from collections.abc import Callable
import math
import multiprocessing.queues
from multiprocessing.reduction import ForkingPickler
import os
import queue as queue_module
import select
import struct
import time
import warnings

import numpy as np

from ..protocol import PD
from ..sources.streams import enlarge_pipe
from ..vandrel import Vandrel
from .problems import describe_problem

# The framing of multiprocessing's connections: a 4-byte big-endian length,
# or -1 and then an 8-byte one for an item of 2 GiB or more.
_SHORT_SIZE = struct.Struct("!i")
_LONG_SIZE = struct.Struct("!Q")
# At most this much is read from the pipe at once.
_READ_CHUNK = 1 << 20
# Point data blocks that have arrived one after another are handed on as one,
# joined until it holds this many rows.
JOINED_ROWS = 1 << 15


class PipeItems:
    """The items of a multiprocessing queue, read from its pipe without ever
    blocking.

    `multiprocessing.Queue.get` reads a whole item once its first bytes have
    arrived, and waits for the rest however long it takes: a producer killed
    or stopped in the middle of writing a large item would hold the reader
    there for good. Here the pipe is read as far as it has bytes, whole items
    are unpickled as they complete, and an unfinished one waits in a buffer.

    The window is the queue's only reader; like `Queue.get` this releases
    the queue's slot semaphore once per item taken, so a producer blocked on
    a full queue may put the next one.
    """

    def __init__(self, queue: multiprocessing.queues.Queue):
        self._queue = queue
        self._fd = queue._reader.fileno()
        os.set_blocking(self._fd, False)
        # Room for many blocks: the producer's writes do not wait for each
        # read, and blocks that wait together are handed on together.
        enlarge_pipe(self._fd)
        self._buffer = bytearray()
        self._chunk = bytearray(_READ_CHUNK)  # read into, then appended: no allocation per read
        self.ended = False  # every writing end of the pipe is closed

    def get(self, timeout: float, deadline: float = math.inf, begun_only: bool = False):
        """The next item. Waits up to `timeout` for each further piece of it
        (with `begun_only`, only once its first bytes are there), never past
        `deadline`; raises queue.Empty when it is not complete by then (the
        bytes read so far stay for the next call)."""
        while True:
            frame = self._take_frame()
            if frame is not None:
                return ForkingPickler.loads(frame)
            wait = 0.0 if begun_only and not self._buffer else timeout
            wait = min(wait, deadline - time.monotonic())
            if self.ended or wait < 0 or not self._read(wait):
                raise queue_module.Empty

    @property
    def unfinished(self) -> int:
        """Bytes of an item that has begun to arrive and is not complete."""
        return len(self._buffer)

    def discard_unfinished(self) -> int:
        """Drops the bytes of an item that will never be completed (its
        writer is gone and the pipe holds nothing more); returns how many."""
        if not self._buffer or select.select([self._fd], [], [], 0)[0]:
            return 0
        dropped = len(self._buffer)
        self._buffer.clear()
        return dropped

    def _read(self, timeout: float) -> bool:
        if not select.select([self._fd], [], [], max(0.0, timeout))[0]:
            return False
        try:
            count = os.readv(self._fd, [self._chunk])
        except BlockingIOError:
            return False
        if count == 0:
            self.ended = True
            return False
        with memoryview(self._chunk) as chunk:
            self._buffer += chunk[:count]
        return True

    def _take_frame(self) -> bytearray | None:
        buffer = self._buffer
        if len(buffer) < _SHORT_SIZE.size:
            return None
        (size,) = _SHORT_SIZE.unpack_from(buffer)
        start = _SHORT_SIZE.size
        if size == -1:
            if len(buffer) < start + _LONG_SIZE.size:
                return None
            (size,) = _LONG_SIZE.unpack_from(buffer, start)
            start += _LONG_SIZE.size
        end = start + size
        if len(buffer) < end:
            return None
        frame = buffer[start:end]  # one copy: the buffer moves on
        del buffer[:end]
        self._queue._sem.release()
        return frame


class DeadlineQueue:
    """The queue as the command intake sees it.

    It reports itself empty once the frame's time for draining is spent, so
    one drain cannot hold the GUI thread however fast the producer writes.
    Before it reports empty it waits up to `grace` seconds for the rest of an
    item that has begun to arrive: an item larger than the pipe reaches it
    only while it is being read (the producer's feeder thread writes what
    the pipe can hold, then waits for the reader). Where nothing has begun
    it reports empty at once, and the frame is drawn: a busy window spends
    its time drawing rather than waiting for the next block. While a file is
    read (`patient`: a backlog, read at the intake's pace) it waits up to
    `grace` for the next item too, as the next is often a moment away.

    A multiprocessing queue is read through PipeItems, which never waits past
    the frame's deadline for the rest of an item; any other queue (a test's,
    a thread's) through its own get(timeout=...).
    """

    def __init__(self, queue, grace: float = 0.001):
        self.queue = queue
        self.grace = grace
        self.patient = False
        self.deadline = math.inf
        self.last_item = None  # time.monotonic() when the last one was taken from the queue
        self._pipe = PipeItems(queue) if isinstance(queue, multiprocessing.queues.Queue) else None
        self._held = []  # an item taken while looking, handed out by get()

    @property
    def wake_fd(self):
        """A file descriptor readable when the queue has something new (the
        pipe's, until its writers have all gone), else None."""
        pipe = self._pipe
        return None if pipe is None or pipe.ended else pipe._fd

    @property
    def unfinished(self) -> int:
        """Bytes of an item still arriving (0 for a queue not read by pipe)."""
        return self._pipe.unfinished if self._pipe is not None else 0

    def discard_unfinished(self) -> int:
        """Drops an item whose writer has gone before finishing it, once the
        pipe holds nothing more; returns its bytes (0: nothing dropped)."""
        return self._pipe.discard_unfinished() if self._pipe is not None else 0

    def empty(self) -> bool:
        """The queue's `empty`, as the native intake asks it before each
        get(): true once the frame's time is spent or nothing came within
        the grace time."""
        return not self._hold_next()

    def _hold_next(self) -> bool:
        """Whether an item is held for get(): one held already, or the next
        one, waited for up to `grace` within the frame's deadline."""
        if self._held:
            return True
        if time.monotonic() >= self.deadline:
            return False
        try:
            if self._pipe is not None:
                item = self._pipe.get(self.grace, self.deadline, begun_only=not self.patient)
            else:
                item = self.queue.get(timeout=self.grace)
        except queue_module.Empty:
            return False
        self._held.append(item)
        self.last_item = time.monotonic()
        return True

    def get(self):
        if not self._hold_next():
            raise queue_module.Empty
        item = self._held.pop()
        return self._joined(item) if _joinable(item) else item

    def _joined(self, item):
        """`item` and the point data blocks of the same width right behind
        it that have arrived already, as one item. A fast source sends a
        block every few milliseconds; the data set, the derived series and
        the curves each pay per block, not only per row. The first item that
        does not join is held for the next get()."""
        blocks = [item[1]]
        rows, width = len(item[1]), item[1].shape[1]
        while rows < JOINED_ROWS:
            following = self._arrived()
            if following is None:
                break
            if not (_joinable(following) and following[1].shape[1] == width):
                self._held.append(following)
                break
            blocks.append(following[1])
            rows += len(following[1])
        return item if len(blocks) == 1 else (PD, np.concatenate(blocks))

    def _arrived(self):
        """The next item if the whole of it has arrived, without waiting."""
        try:
            if self._pipe is not None:
                item = self._pipe.get(0.0)
            else:
                item = self.queue.get_nowait()
        except queue_module.Empty:
            return None
        self.last_item = time.monotonic()
        return item


def _joinable(item) -> bool:
    """A point data block that may join its neighbours: numbers only (a
    TextRows brings words), two-dimensional, float64."""
    if type(item) is not tuple or len(item) != 2 or not (type(item[0]) is str and item[0] == PD):
        return False
    rows = item[1]
    return type(rows) is np.ndarray and rows.ndim == 2 and rows.dtype == np.float64 and len(rows) > 0


class Intake:
    """Applies `queue`'s commands to the data sets and the toolbar."""

    def __init__(self, queue, toolbar, point_dataset, trace_dataset,
                 report: Callable[[str], None]):
        self.queue = DeadlineQueue(queue)
        self.vandrel = Vandrel(self.queue, toolbar, point_dataset, trace_dataset)
        self.report = report

    @property
    def progress(self) -> tuple:
        """Changes whenever an item is taken or part of one arrives."""
        return self.queue.last_item, self.queue.unfinished

    def drain(self, deadline: float, patient: bool = False) -> None:
        """Applies queued commands until the queue is empty or `deadline` has
        passed (`patient`: see DeadlineQueue). A command that fails is
        reported and the drain goes on with the next one (the intake has
        already taken the failed one)."""
        self.queue.deadline, self.queue.patient = deadline, patient
        try:
            while True:
                with warnings.catch_warnings():
                    # Every warning of the intake and the data sets, repeats
                    # included, is reported as it happens.
                    warnings.simplefilter("always")
                    warnings.showwarning = self._show_warning
                    try:
                        self.vandrel.flush()
                        finished = True
                    except Exception as error:  # bad input must not stop the intake
                        self.report(describe_problem(error))
                        finished = False
                if finished or time.monotonic() >= deadline:
                    return
        finally:
            self.queue.deadline = math.inf

    def _show_warning(self, message, category, filename, lineno, file=None, line=None) -> None:
        self.report(str(message))
