"""Vandrel as the host sees it: what flush and handle call, in which order, and
what they report, with in-process queues and recording data sets.

Every behaviour test runs against the native module and its plain-Python twin
(twins/vandrel.py), so each expectation is also checked to be what the
same code in Python does.
"""

import inspect
import multiprocessing
import subprocess
import sys
import traceback
import warnings
from collections import deque

import pytest

from tarvinel.stelvane import dataset, toolbar, vandrel
from tests.support.standins import FakeQueue, Recorder  # Recorder: a data set and a toolbar in one
from twins import vandrel as plain_vandrel

ROW = [1.0, 2.0]
NAMES = ["time", "alpha"]


class Host:
    """One Vandrel over a fake queue and three recorders sharing one log."""

    def __init__(self, module, items=(), cls=None):
        self.log = []
        self.queue = FakeQueue(items, self.log)
        self.toolbar, self.point, self.trace = (Recorder(n, self.log) for n in ("toolbar", "point", "trace"))
        self.vandrel = (cls or module.Vandrel)(self.queue, self.toolbar, self.point, self.trace)

    def put(self, *items):
        self.queue.items.extend(items)

    def flush(self):
        """Flushes; returns the operations called (queue calls left out) and the warning texts."""
        del self.log[:]
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            assert self.vandrel.flush() is None
        return [c for c in self.log if c[0] != "queue"], [str(w.message) for w in caught]


NOT_TUPLE = "QueueHandler - fifo Content must be tuple"
TUPLE_FORM = 'QueueHandler -the tuple must be like ("command_type" , "DATA")'
NOT_STRING = "QueueHandler - the command should be a string"
UNKNOWN = "QueueHandler - unknown command : "


# --- module interface -------------------------------------------------------------


def test_module_top_level_and_class():
    names = subprocess.run(
        [sys.executable, "-c", "from tarvinel.stelvane import vandrel; print(*vars(vandrel))"],
        capture_output=True, text=True, check=True).stdout.split()
    assert [n for n in names if not n.startswith("__")] == ["warnings", "Queue", "Dataset", "ToolBar", "Vandrel"]
    assert vandrel.warnings is warnings and vandrel.Queue is multiprocessing.Queue
    assert vandrel.Dataset is dataset.Dataset and vandrel.ToolBar is toolbar.ToolBar

    cls = vandrel.Vandrel
    assert cls.__bases__ == (object,) and type(cls) is type and cls.__doc__ is None
    assert [n for n in vars(cls) if not n.startswith("__") or n == "__init__"] == ["__init__", "flush", "handle"]
    assert str(inspect.signature(cls.__init__)) == str(inspect.signature(plain_vandrel.Vandrel.__init__))
    assert cls.__init__.__annotations__ == {"queue": multiprocessing.Queue, "toolbar": toolbar.ToolBar,
                                            "point_dataset": dataset.Dataset, "trace_dataset": dataset.Dataset}
    assert [str(inspect.signature(f)) for f in (cls.flush, cls.handle)] == ["(self)", "(self, cmd, data)"]
    assert cls.flush.__annotations__ == cls.handle.__annotations__ == {}


LOAD_PROBE = """
import sys
seen = []
class Watch:
    def find_spec(self, name, path=None, target=None):
        seen.append(name)
sys.meta_path.insert(0, Watch())
if {block!r}:
    sys.modules[{block!r}] = None
try:
    from tarvinel.stelvane import vandrel
except ImportError as e:
    print("ImportError", e.name)
wanted = ("multiprocessing", "tarvinel.stelvane.dataset", "tarvinel.stelvane.toolbar")
print(*[n for n in seen if n in wanted])
"""


@pytest.mark.parametrize("block, outcome", [
    ("", "multiprocessing tarvinel.stelvane.dataset tarvinel.stelvane.toolbar"),
    ("tarvinel.stelvane.dataset", "ImportError tarvinel.stelvane.dataset\nmultiprocessing"),
])
def test_imports_in_order_and_a_failed_import_fails_the_load(block, outcome):
    out = subprocess.run([sys.executable, "-c", LOAD_PROBE.format(block=block)],
                         capture_output=True, text=True, check=True).stdout
    assert out.strip() == outcome


def test_init_assigns_in_order_and_calls_nothing(module):
    assigned = []

    class Watched(module.Vandrel):
        def __setattr__(self, name, value):
            assigned.append(name)
            super().__setattr__(name, value)

    log = []
    q, tb, pt, tr = FakeQueue([("PD", ROW)], log), Recorder("tb", log), Recorder("pt", log), Recorder("tr", log)
    v = Watched(trace_dataset=tr, point_dataset=pt, toolbar=tb, queue=q)
    assert assigned == ["toolbar", "queue", "point_dataset", "trace_dataset"] and log == []
    assert (v.queue, v.toolbar, v.point_dataset, v.trace_dataset) == (q, tb, pt, tr)
    with pytest.raises(TypeError, match=r"__init__\(\) missing 1 required positional argument: 'trace_dataset'"):
        module.Vandrel(q, tb, pt)


# --- dispatch -------------------------------------------------------------------


def test_flush_applies_every_command_in_order(module):
    host = Host(module)
    assert host.flush() == ([], []) and host.log == [("queue", "empty")]

    host.put(("PN", NAMES), ("PD", ROW), ("TXY", "t"))
    assert host.flush() == ([("point", "set_column_names", NAMES), ("toolbar", "refresh_comb"),
                             ("point", "append", ROW), ("toolbar", "set_trace_text", "t")], [])
    empty, get = ("queue", "empty"), ("queue", "get")
    assert host.log == [empty, get, ("point", "set_column_names", NAMES), ("toolbar", "refresh_comb"),
                        empty, get, ("point", "append", ROW), empty, get, ("toolbar", "set_trace_text", "t"), empty]

    host.put(("TN", NAMES), ("TD", ROW), ("ROLL", "ignored"), ("PXY", "p"))
    assert host.flush()[0] == [("trace", "set_column_names", NAMES), ("toolbar", "refresh_comb"),
                               ("trace", "append", ROW), ("point", "roll"), ("toolbar", "set_point_text", "p")]


def test_malformed_items_and_unknown_words_become_warnings(module):
    host = Host(module, [("PD", 1), "PD", ("PD",), ("PD", 1, 2), (5, "x"), ("pd", ROW), ("PD ", 0), [], ("TD", 2)])
    calls, texts = host.flush()
    assert calls == [("point", "append", 1), ("trace", "append", 2)]
    assert texts == [NOT_TUPLE, TUPLE_FORM, TUPLE_FORM, NOT_STRING, UNKNOWN + "pd", UNKNOWN + "PD ", NOT_TUPLE]


class Claims:
    """An object whose __class__ claims another type."""

    def __init__(self, cls, items):
        self.cls, self.items = cls, items

    @property
    def __class__(self):
        return self.cls

    def __len__(self):
        return len(self.items)

    def __iter__(self):
        return iter(self.items)


class Word(str):
    def __eq__(self, other):
        return other == "PD" or str.__eq__(self, other)

    __hash__ = str.__hash__


class LongTuple(tuple):
    def __len__(self):
        return 2


class Asserting(tuple):
    def __iter__(self):
        raise AssertionError("from __iter__")


def test_items_of_unusual_types_follow_the_interpreter(module):
    # len() says 2 but unpacking finds 3: the interpreter's own error, not a warning.
    host = Host(module, [LongTuple(("PD", 1, 2)), ("PD", 3)])
    with pytest.raises(ValueError, match=r"^too many values to unpack \(expected 2\)$"):
        host.flush()
    assert host.log[-1] == ("queue", "get") and host.queue.items == deque([("PD", 3)])

    stranger = Claims(str, "PD")
    host.put(Claims(tuple, ["TD", 4]), (Word("xx"), 5), (stranger, 6), Asserting(("PD", 7)), ("TD", 8))
    calls, texts = host.flush()
    assert calls == [("point", "append", 3), ("trace", "append", 4), ("point", "append", 5), ("trace", "append", 8)]
    assert texts == [UNKNOWN + str(stranger), "from __iter__"]


class Equal:
    """A command of a non-string type that equals the given word."""

    def __init__(self, word):
        self.word = word

    def __eq__(self, other):
        if self.word is None:
            raise RuntimeError("no comparison")
        return other == self.word

    def __format__(self, spec):
        return f"Equal<{self.word}>"


def test_handle_compares_with_the_command_type_and_formats_unknown_words(module):
    host = Host(module)
    v = host.vandrel
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        for cmd in (Equal("ROLL"), Word("zz"), Equal("nothing"), 5, None, "roll", "TXY"):
            assert v.handle(cmd, "d") is None
    assert host.log == [("point", "roll"), ("point", "append", "d"), ("toolbar", "set_trace_text", "d")]
    assert [str(w.message) for w in caught] == [UNKNOWN + t for t in ("Equal<nothing>", "5", "None", "roll")]
    assert {w.category for w in caught} == {UserWarning}
    with pytest.raises(RuntimeError, match="no comparison"):
        v.handle(Equal(None), "d")


# --- reading attributes at every use ---------------------------------------------------


class Scripted(FakeQueue):
    """Runs the action paired with an item just before handing the item out."""

    def get(self):
        item, action = super().get()
        action()
        return item


def test_every_lookup_sees_changes_made_between_items(module):
    log = []
    point, trace, bar, other_point = (Recorder(n, log) for n in ("point", "trace", "toolbar", "other-point"))
    queue = Scripted([], log)
    other_queue = FakeQueue([("PD", "other queue")], log, "other-queue")
    original_append = Recorder.append

    class Sub(module.Vandrel):
        pass

    class Other(module.Vandrel):
        def handle(self, cmd, data):
            log.append(("Other.handle", data))

    def class_handle(self, cmd, data):
        log.append(("Sub.handle", data))

    def shout(self, data):
        log.append((self.name, "shout", data))

    v = Sub(queue, bar, point, trace)
    queue.items.extend([
        (("PD", 1), lambda: None),
        (("PD", 2), lambda: setattr(v, "point_dataset", other_point)),
        (("PD", 3), lambda: setattr(v, "handle", lambda cmd, data: log.append(("instance handle", data)))),
        (("PD", 4), lambda: delattr(v, "handle")),
        (("PD", 5), lambda: setattr(Sub, "handle", class_handle)),
        (("PD", 6), lambda: delattr(Sub, "handle")),
        (("PD", 7), lambda: vars(v).update(point_dataset=point)),
        (("PD", 8), lambda: setattr(Recorder, "append", shout)),
        (("PD", 9), lambda: setattr(Recorder, "append", original_append)),
        (("PD", 10), lambda: setattr(point, "append", lambda data: log.append(("own append", data)))),
        (("PD", 11), lambda: delattr(point, "append") or setattr(Sub, "point_dataset", property(lambda s: trace))),
        (("PD", 12), lambda: delattr(Sub, "point_dataset") or setattr(v, "__class__", Other)),
        (("PD", 13), lambda: setattr(v, "__class__", Sub) or setattr(v, "__dict__", {**vars(v), "queue": other_queue})),
    ])
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            assert v.flush() is None
    finally:
        Recorder.append = original_append
    assert [c for c in log if not c[0].endswith("queue")] == [
        ("point", "append", 1), ("other-point", "append", 2), ("instance handle", 3), ("other-point", "append", 4),
        ("Sub.handle", 5), ("other-point", "append", 6), ("point", "append", 7), ("point", "shout", 8),
        ("point", "append", 9), ("own append", 10), ("trace", "append", 11), ("Other.handle", 12),
        ("point", "append", 13), ("point", "append", "other queue")]
    assert log[-6:] == [("queue", "get"), ("point", "append", 13), ("other-queue", "empty"), ("other-queue", "get"),
                        ("point", "append", "other queue"), ("other-queue", "empty")]


def test_a_subclass_that_customises_attribute_access_is_obeyed(module):
    log = []
    fallback = Recorder("fallback", log)

    class Lazy(module.Vandrel):
        def __getattr__(self, name):  # only for names the instance lacks
            log.append(("__getattr__", name))
            return fallback

        def __getattribute__(self, name):
            if name == "toolbar":
                return fallback
            return super().__getattribute__(name)

    v = Lazy(FakeQueue([("TD", 1), ("PXY", "p"), ("PD", 2)], log), Recorder("bar", log), Recorder("point", log), None)
    del v.trace_dataset
    v.flush()
    assert [c for c in log if c[0] != "queue"] == [
        ("__getattr__", "trace_dataset"), ("fallback", "append", 1), ("fallback", "set_point_text", "p"),
        ("point", "append", 2)]


# --- failures -----------------------------------------------------------------------


class Refuses(Recorder):
    """Raises on the given call numbers of append and set_column_names."""

    def __init__(self, name, log, failing):
        super().__init__(name, log)
        self.calls = 0
        self.failing = failing

    def append(self, data):
        self.calls += 1
        if self.calls in self.failing:
            raise ValueError(f"refused {data!r}")
        super().append(data)

    set_column_names = append


def test_an_error_ends_flush_and_leaves_later_items_queued(module):
    host = Host(module)
    host.vandrel.point_dataset = Refuses("point", host.log, failing={2, 4})
    host.put(("PD", 1), ("PD", 2), ("PD", 3))
    with pytest.raises(ValueError, match="refused 2") as raised:
        host.flush()
    assert [c for c in host.log if c[0] != "queue"] == [("point", "append", 1)]
    assert host.queue.items == deque([("PD", 3)])
    if module is vandrel:  # the frames a Python flush and handle would show
        assert [f.name for f in traceback.extract_tb(raised.tb)][-4:] == ["flush", "flush", "handle", "append"]
    assert host.flush() == ([("point", "append", 3)], [])

    host.put(("PN", NAMES), ("PD", 5))  # set_column_names fails: no refresh_comb
    with pytest.raises(ValueError, match="refused"):
        host.flush()
    assert [c for c in host.log if c[0] != "queue"] == [] and host.queue.items == deque([("PD", 5)])

    host.vandrel.point_dataset = object()
    with pytest.raises(AttributeError, match="'object' object has no attribute 'append'"):
        host.flush()


@pytest.mark.parametrize("failing", ["empty", "get"])
def test_queue_errors_end_flush(module, failing):
    host = Host(module, [("PD", 1)])
    setattr(host.queue, failing, lambda: 1 / 0)
    with pytest.raises(ZeroDivisionError):
        host.flush()
    assert host.log == [("queue", "empty")] * (failing == "get")


def test_a_warning_turned_error_ends_flush_where_it_is_issued(module):
    host = Host(module, [("PD", 1), ("PD",), ("PD", 2), ("pd", 3), ("TD", 4)])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(UserWarning, match=f"^{TUPLE_FORM}$".replace("(", r"\(").replace(")", r"\)")) as raised:
            host.vandrel.flush()
        # Raised while the assertion was being handled, as in the interpreter.
        assert type(raised.value.__context__) is AssertionError
        assert str(raised.value.__context__) == TUPLE_FORM
        assert host.queue.items == deque([("PD", 2), ("pd", 3), ("TD", 4)])
        with pytest.raises(UserWarning, match=f"^{UNKNOWN}pd$") as raised:
            host.vandrel.flush()
        assert raised.value.__context__ is None
    assert host.queue.items == deque([("TD", 4)])
    assert [c for c in host.log if c[0] != "queue"] == [("point", "append", 1), ("point", "append", 2)]


class WarningsStandIn:
    def __init__(self):
        self.texts = []

    def warn(self, *args, **kwargs):
        self.texts.append((args, kwargs))


def test_warnings_is_read_as_a_module_global_when_a_warning_is_issued(module, monkeypatch):
    host = Host(module, [(1, 2), ("XX", 3)])
    stand_in = WarningsStandIn()
    monkeypatch.setattr(module, "warnings", stand_in)
    assert host.flush() == ([], [])
    assert stand_in.texts == [((NOT_STRING,), {}), ((UNKNOWN + "XX",), {})]

    monkeypatch.delattr(module, "warnings")
    host.put(("PD", 1), ("XX", 3), ("PD", 4))
    with pytest.raises(NameError, match="name 'warnings' is not defined"):
        host.flush()
    assert host.queue.items == deque([("PD", 4)])


# --- form checks off ------------------------------------------------------------------

CHECKS_PROBE = """
import builtins, sys, warnings
{before}
from tarvinel.stelvane import vandrel
from tests.support.standins import FakeQueue
from twins import vandrel as plain_vandrel
{after}

class Recorder:
    def __init__(self, log):
        self.log = log
    def append(self, data):
        self.log.append(data)

def run(module, item):
    log = []
    queue = FakeQueue([item, ("PD", "next")])
    v = module.Vandrel(queue, None, Recorder(log), None)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            v.flush()
            error = None
        except Exception as e:
            error = f"{{type(e).__name__}}: {{e}}"
    return log, [str(w.message) for w in caught], error, len(queue.items)

items = [["PD", 1], ("PD",), ("PD", 1, 2), 5, "PD", (5, "x"), {{"PD": 1, "x": 2}}]
outcomes = [run(vandrel, item) for item in items]
if sys.flags.optimize:  # then the Python twin runs without its assertions too
    assert outcomes == [run(plain_vandrel, item) for item in items]
print(repr(outcomes))
"""

UNCHECKED = [
    ([1, "next"], [], None, 0),
    ([], [], "ValueError: not enough values to unpack (expected 2, got 1)", 1),
    ([], [], "ValueError: too many values to unpack (expected 2)", 1),
    ([], [], "TypeError: cannot unpack non-iterable int object", 1),
    (["next"], [UNKNOWN + "P"], None, 0),
    (["next"], [UNKNOWN + "5"], None, 0),
    (["x", "next"], [], None, 0),
]
CHECKED = [
    (["next"], [NOT_TUPLE], None, 0),
    (["next"], [TUPLE_FORM], None, 0),
    (["next"], [TUPLE_FORM], None, 0),
    (["next"], [NOT_TUPLE], None, 0),
    (["next"], [NOT_TUPLE], None, 0),
    (["next"], [NOT_STRING], None, 0),
    (["next"], [NOT_TUPLE], None, 0),
]


@pytest.mark.parametrize("flags, before, after, expected", [
    (["-O"], "", "", UNCHECKED),
    # The setting is the one the runtime had when the module was loaded.
    ([], "setattr(builtins, '__debug__', False)", "", UNCHECKED),
    ([], "", "setattr(builtins, '__debug__', False)", CHECKED),
], ids=["optimised", "debug-off-before-load", "debug-off-after-load"])
def test_form_checks_follow_debug_at_load(flags, before, after, expected):
    probe = CHECKS_PROBE.format(before=before, after=after)
    out = subprocess.run([sys.executable, *flags, "-c", probe], capture_output=True, text=True, check=True).stdout
    assert eval(out) == expected


# --- references -------------------------------------------------------------------------


def test_no_references_are_lost_or_kept():
    from tests.support.leakcheck import assert_no_growth, raising

    log = []
    point, trace, bar = Refuses("point", log, failing=set()), Recorder("trace", log), Recorder("toolbar", log)
    row, names, word = [1.0], ["a"], "PD"
    items = [(word, row), ("PN", names), "PD", ("PD",), (5, row), ("pd", row), ("ROLL", row), ("TXY", word)]
    q = FakeQueue([], log)
    v = vandrel.Vandrel(q, bar, point, trace)

    def flush(*new_items):
        del log[:]
        q.items.extend(new_items)
        v.flush()

    def flush_refused():  # the second item stays queued; the next run drops it
        point.calls, point.failing = 0, {1}
        q.items.clear()
        flush(("PD", row), ("PD", row))

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        assert_no_growth(lambda: flush(*items), v, q, point, trace, bar, row, names, word, warmup=500)
        assert_no_growth(raising(flush_refused, ValueError), v, q, point, row, warmup=500)
        assert_no_growth(lambda: (log.clear(), v.handle(Equal("TN"), names)), v, trace, names, warmup=500)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert_no_growth(raising(lambda: flush("PD"), UserWarning), v, q, warmup=500)
        assert_no_growth(raising(lambda: flush(("pd", row)), UserWarning), v, q, row, warmup=500)
