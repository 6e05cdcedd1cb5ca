"""Stand-ins for the host objects the native modules talk to, shared by the
tests: a queue for Vandrel to drain, a recorder of the data set and toolbar
operations, and the host main window as the toolbar reads it.

The queue and the recorder note every call in a shared log
(`Recorder.note` is what a test module redefines for what it wants to see)."""
from collections import deque


class FakeQueue:
    """empty()/get() over a deque (`items`). With a log, each call is noted
    as (name, "empty") or (name, "get"); with int_answers, empty() answers 0
    or 1, which the caller must truth-test as it would a bool."""

    def __init__(self, items=(), log=None, name="queue", int_answers=False):
        self.items, self.log, self.name, self.int_answers = deque(items), log, name, int_answers

    def empty(self):
        if self.log is not None:
            self.log.append((self.name, "empty"))
        return int(not self.items) if self.int_answers else not self.items

    def get(self):
        if self.log is not None:
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


class DataBox:
    """A data box as the toolbar reads it: column_names (kept in `names`, and
    deleted with it). A test may set `on_read` to have the next read run host
    code first."""

    def __init__(self, names):
        self.names = names
        self.on_read = None

    @property
    def column_names(self):
        action, self.on_read = self.on_read, None
        if action is not None:
            action()
        return self.names

    @column_names.setter
    def column_names(self, names):
        self.names = names

    @column_names.deleter
    def column_names(self):  # a host whose box lacks its names: reads raise AttributeError
        del self.names


class MainWindow:
    """What the toolbar needs of the host main window: a data box for each
    mode and the two auto-range operations, whose calls it counts."""

    def __init__(self, point_names=(), trace_names=()):
        self.point_data_box = DataBox(list(point_names))
        self.trace_data_box = DataBox(list(trace_names))
        self.auto_range_presses = 0
        self.enable_calls = 0

    @classmethod
    def with_boxes(cls, point_box, trace_box):
        """The window over the host's own data sets, which are its boxes."""
        window = cls()
        window.point_data_box, window.trace_data_box = point_box, trace_box
        return window

    def all_enable_auto_range(self):
        self.auto_range_presses += 1

    def enable_all_auto_range(self):
        self.enable_calls += 1
        return "ignored"
