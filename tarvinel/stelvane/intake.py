"""The command intake: the producer's queue drained into the data sets and
the toolbar for a bounded share of each frame, with every problem on the
way (failed commands, warnings of the intake and the data sets) handed to a
`report` callable as one line.
"""

from collections.abc import Callable
import math
import queue as queue_module
import time
import warnings

from .problems import describe_problem
from .vandrel import Vandrel


class DeadlineQueue:
    """The queue as the command intake sees it.

    It reports itself empty once the frame's time for draining is spent, so
    one drain cannot hold the GUI thread however fast the producer writes.
    Before it reports empty it waits up to `grace` seconds for an item: a
    large item reaches the pipe only while it is being read (the producer's
    feeder thread writes what the pipe can hold, then waits for the reader),
    so right after one item the next is often a moment away, and a drain that
    stopped there would leave it for the next frame.
    """

    def __init__(self, queue, grace: float = 0.001):
        self.queue = queue
        self.grace = grace
        self.deadline = math.inf
        self._held = []  # an item taken while looking, handed out by get()

    def empty(self) -> bool:
        if self._held:
            return False
        if time.monotonic() >= self.deadline:
            return True
        try:
            self._held.append(self.queue.get(timeout=self.grace))
        except queue_module.Empty:
            return True
        return False

    def get(self):
        return self._held.pop() if self._held else self.queue.get()


class Intake:
    """Feeds `queue`'s commands to the data sets and the toolbar."""

    def __init__(self, queue, toolbar, point_dataset, trace_dataset,
                 report: Callable[[str], None]):
        self.queue = DeadlineQueue(queue)
        self.vandrel = Vandrel(self.queue, toolbar, point_dataset, trace_dataset)
        self.report = report

    def drain(self, deadline: float) -> None:
        """Applies queued commands until the queue is empty or `deadline` has
        passed. A command that fails is reported and the drain goes on with
        the next one (the intake has already taken the failed one)."""
        self.queue.deadline = deadline
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
