"""Stand-ins for the objects Vandrel talks to: a queue and a holder of the
data set and toolbar operations, each noting every call in a shared log
(`Recorder.note` is what a test module redefines for what it wants to see)."""
from collections import deque


class RecordingQueue:
    """empty()/get() over a deque."""

    def __init__(self, name, log, items=()):
        self.name, self.log, self.items = name, log, deque(items)

    def empty(self):
        self.log.append((self.name, "empty"))
        return not self.items

    def get(self):
        self.log.append((self.name, "get"))
        return self.items.popleft()


class Recorder:
    def __init__(self, name, log):
        self.name, self.log = name, log

    def note(self, operation, *data):
        self.log.append((self.name, operation, *data))

    def set_column_names(self, names):
        self.note("set_column_names", names)

    def append(self, data):
        self.note("append", data)

    def roll(self):
        self.note("roll")

    def refresh_comb(self):
        self.note("refresh_comb")

    def set_point_text(self, text):
        self.note("set_point_text", text)

    def set_trace_text(self, text):
        self.note("set_trace_text", text)
