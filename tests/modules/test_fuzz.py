"""Arbitrary input held against the same code written in plain Python.

Queue items of every shape go through Vandrel.flush, and pattern texts and
column lists through matched_xy_pairs; the native modules must make the same
calls, issue the same warnings, raise the same errors and leave the same items
queued as the plain-Python twins (twins/) do, whatever the items' own methods do and whatever
the host's warning filters turn into errors.
"""

import re
import subprocess
import sys
import types
import warnings
from dataclasses import dataclass

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from tarvinel.stelvane import toolbar, vandrel
from tests.support import standins
from tests.support.standins import FakeQueue
from twins import matching as plain_matching
from twins import vandrel as plain_vandrel

WORDS = ("PN", "TN", "PD", "TD", "ROLL", "PXY", "TXY")


class Abort(BaseException):
    """An error that is no Exception: only a bare `except` would catch it."""


# How an item's own method may misbehave. "warn" issues a warning and goes on
# (an error only where the filters make it one).
FAILURES = ("assert", "assert-bare", "assert-warning", "assert-number", "value", "abort", "warn")


def misbehave(failure):
    if failure == "assert":
        raise AssertionError("raised by the item")
    if failure == "assert-bare":
        raise AssertionError
    if failure == "assert-warning":  # the text handed to warnings.warn is a warning: its category wins
        raise AssertionError(DeprecationWarning("a warning as the assertion's text"))
    if failure == "assert-number":
        raise AssertionError(7)
    if failure == "value":
        raise ValueError("raised by the item")
    if failure == "abort":
        raise Abort("raised by the item")
    warnings.warn("warned by the item", RuntimeWarning)


class Falsy:
    """A comparison result whose truth test fails."""

    def __init__(self, failure):
        self.failure = failure

    def __bool__(self):
        misbehave(self.failure)
        return False


class Suffix(str):
    """What a __format__ may return: a str whose reflected + runs first."""

    def __radd__(self, other):
        return other + "+" + str.__str__(self)


class Comparing:
    """__eq__ and __format__ as the recipe says; shared by the str subclass
    and the plain object below."""

    def __eq__(self, other):
        mode = self.eq
        if mode == "always":
            return True
        if mode == "never":
            return False
        if mode == "notimpl":
            return NotImplemented
        if mode[0] == "falsy":
            return Falsy(mode[1])
        misbehave(mode[1])
        return False

    def __format__(self, spec):
        mode = self.fmt
        if mode == "plain":
            return f"<{self.label}>"
        if mode == "number":
            return 5
        if mode == "suffix":
            return Suffix(self.label)
        misbehave(mode[1])
        return self.label

    __hash__ = object.__hash__


class Word(Comparing, str):
    def __new__(cls, text, eq, fmt):
        word = super().__new__(cls, text)
        word.eq, word.fmt, word.label = eq, fmt, text
        return word


class Thing(Comparing):
    """A command that is no string; with `claims_str` it says it is one."""

    def __init__(self, eq, fmt, claims_str):
        self.eq, self.fmt, self.label, self.claims_str = eq, fmt, "thing", claims_str

    @property
    def __class__(self):
        return str if self.claims_str else Thing

    def __repr__(self):
        return "Thing()"


class Pair(tuple):
    """A tuple whose __len__ and __iter__ behave as the recipe says."""

    def __new__(cls, items, length, iteration):
        pair = super().__new__(cls, items)
        pair.length, pair.iteration = length, iteration
        return pair

    def __len__(self):
        if self.length == "true":
            return tuple.__len__(self)
        if self.length[0] == "lies":
            return self.length[1]
        misbehave(self.length[1])
        return tuple.__len__(self)

    def __iter__(self):
        if self.iteration != "true":
            misbehave(self.iteration[1])
        return tuple.__iter__(self)


class ClaimsTuple:
    """A list that says it is a tuple."""

    def __init__(self, items):
        self.items = items

    @property
    def __class__(self):
        return tuple

    def __len__(self):
        return len(self.items)

    def __iter__(self):
        return iter(self.items)

    def __repr__(self):
        return f"ClaimsTuple({self.items!r})"


class Refused:
    """Data that the data sets and the toolbar refuse (or warn about)."""

    def __init__(self, failure):
        self.failure = failure

    def __repr__(self):  # the same text in both runs, where it becomes a command
        return f"Refused({self.failure!r})"


# --- recipes: each run builds its own objects from them ---------------------------


class Made:
    """The objects one run built, so that an object reaching a data set can
    be named by its place among them (compared by identity only)."""

    def __init__(self):
        self.objects = []

    def add(self, obj):
        self.objects.append(obj)
        return obj

    def token(self, obj):
        for place, known in enumerate(self.objects):
            if known is obj:
                return place
        return ("not built here", type(obj).__name__)


@dataclass(frozen=True)
class Text:
    text: str
    fresh: bool  # a new str object rather than the interned literal

    def make(self, made):
        return made.add("".join(list(self.text)) if self.fresh else sys.intern(self.text))


@dataclass(frozen=True)
class WordOf:
    text: str
    eq: object
    fmt: object

    def make(self, made):
        return made.add(Word(self.text, self.eq, self.fmt))


@dataclass(frozen=True)
class ThingOf:
    eq: object
    fmt: object
    claims_str: bool

    def make(self, made):
        return made.add(Thing(self.eq, self.fmt, self.claims_str))


@dataclass(frozen=True)
class Value:
    value: object

    def make(self, made):
        return made.add(self.value)


@dataclass(frozen=True)
class RefusedOf:
    failure: str

    def make(self, made):
        return made.add(Refused(self.failure))


@dataclass(frozen=True)
class Container:
    kind: object  # "tuple", "list", "dict", "claims-tuple" or ("pair", length, iteration)
    elements: tuple

    def make(self, made):
        items = [element.make(made) for element in self.elements]
        if self.kind == "tuple":
            return made.add(tuple(items))
        if self.kind == "list":
            return made.add(items)
        if self.kind == "dict":
            return made.add({i: item for i, item in enumerate(items)})
        if self.kind == "claims-tuple":
            return made.add(ClaimsTuple(items))
        return made.add(Pair(items, *self.kind[1:]))


failure = st.sampled_from(FAILURES)
eq_mode = st.one_of(st.sampled_from(["never", "never", "always", "notimpl"]),
                    st.tuples(st.sampled_from(["raise", "falsy"]), failure))
fmt_mode = st.one_of(st.sampled_from(["plain", "plain", "number", "suffix"]), st.tuples(st.just("raise"), failure))
word_text = st.sampled_from(WORDS + ("pd", "", "PD ", "XX", "P"))

command = st.one_of(
    st.builds(Text, word_text, st.booleans()),
    st.builds(Text, word_text, st.booleans()),
    st.builds(WordOf, word_text, eq_mode, fmt_mode),
    st.builds(WordOf, word_text, eq_mode, fmt_mode),
    st.builds(ThingOf, eq_mode, fmt_mode, st.booleans()),
    st.builds(Value, st.sampled_from([5, None, 1.5, b"PD"])),
)
payload = st.recursive(
    st.one_of(st.builds(Text, st.sampled_from(["time,.*", "t", ""]), st.just(False)),
              st.builds(Value, st.sampled_from([1.0, None, 0, "x"])), st.builds(RefusedOf, failure)),
    lambda inner: st.builds(Container, st.sampled_from(["tuple", "list", "dict"]),
                            st.lists(inner, max_size=3).map(tuple)),
    max_leaves=6,
)
item_kind = st.one_of(
    st.just("tuple"), st.just("tuple"), st.just("tuple"), st.sampled_from(["list", "claims-tuple"]),
    st.tuples(st.just("pair"),
              st.one_of(st.just("true"), st.tuples(st.just("lies"), st.integers(-1, 3)),
                        st.tuples(st.just("raise"), failure)),
              st.one_of(st.just("true"), st.tuples(st.just("raise"), failure))),
)
queue_item = st.one_of(
    st.builds(Container, item_kind, st.tuples(command, payload)),
    st.builds(Container, item_kind, st.tuples(command, payload)),
    st.builds(Container, item_kind, st.lists(st.one_of(command, payload), max_size=4).map(tuple)),
    command,
    payload,
)
filters = st.tuples(
    st.sampled_from(["always", "always", "error", "ignore"]),
    st.lists(st.tuples(st.sampled_from(["always", "error", "ignore"]),
                       st.sampled_from([UserWarning, RuntimeWarning, DeprecationWarning])), max_size=2),
)


# --- the host around Vandrel ----------------------------------------------------


class Recorder(standins.Recorder):
    """A data set or the toolbar: notes each call, refuses Refused data."""

    def __init__(self, name, log, made):
        self.name, self.log, self.made = name, log, made

    def note(self, operation, *data):
        self.log.append((self.name, operation, *map(self.made.token, data)))
        for value in data:
            if type(value) is Refused:
                misbehave(value.failure)


def apply_filters(chosen):
    base, extra = chosen
    warnings.simplefilter(base)
    for action, category in extra:
        warnings.simplefilter(action, category)


def flushed(module, recipes, chosen_filters, int_answers):
    """What one flush over freshly built items does, as the host can see it."""
    made = Made()
    items = [recipe.make(made) for recipe in recipes]
    log = []
    queue = FakeQueue(items, log, int_answers=int_answers)
    v = module.Vandrel(queue, *(Recorder(name, log, made) for name in ("toolbar", "point", "trace")))
    error = None
    with warnings.catch_warnings(record=True) as caught:
        apply_filters(chosen_filters)
        try:
            v.flush()
        except BaseException as e:  # noqa: B036 - Abort is compared too
            error = (type(e), str(e), type(e.__context__))
    issued = [(w.category, str(w.message)) for w in caught]
    return log, issued, error, [made.token(item) for item in queue.items]


@settings(max_examples=400, suppress_health_check=[HealthCheck.too_slow])
@given(recipes=st.lists(queue_item, max_size=8), chosen_filters=filters, int_answers=st.booleans())
def test_flush_does_what_the_plain_code_does(recipes, chosen_filters, int_answers):
    native = flushed(vandrel, recipes, chosen_filters, int_answers)
    assert native == flushed(plain_vandrel, recipes, chosen_filters, int_answers)


@settings(max_examples=150, suppress_health_check=[HealthCheck.too_slow])
@given(cmd=command, data=payload, chosen_filters=filters)
def test_handle_does_what_the_plain_code_does(cmd, data, chosen_filters):
    def handled(module):
        made = Made()
        log = []
        v = module.Vandrel(None, *(Recorder(name, log, made) for name in ("toolbar", "point", "trace")))
        args = cmd.make(made), data.make(made)
        with warnings.catch_warnings(record=True) as caught:
            apply_filters(chosen_filters)
            try:
                outcome = v.handle(*args)
            except BaseException as e:  # noqa: B036
                outcome = (type(e), str(e))
        return log, [(w.category, str(w.message)) for w in caught], outcome

    assert handled(vandrel) == handled(plain_vandrel)


# With the form checks off (an optimised runtime), items are unpacked as they
# come and the interpreter's unpacking errors end flush. The same comparison
# in a child interpreter run with -O, which also strips the twin's asserts.
OPTIMISED_PROBE = """
import sys
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from tarvinel.stelvane import vandrel
from twins import vandrel as plain_vandrel
from tests.modules.test_fuzz import filters, flushed, queue_item

if __debug__:
    sys.exit("the probe must run optimised")

@settings(max_examples=150, deadline=None, database=None, suppress_health_check=list(HealthCheck))
@given(recipes=st.lists(queue_item, max_size=8), chosen_filters=filters)
def compare(recipes, chosen_filters):
    native = flushed(vandrel, recipes, chosen_filters, False)
    reference = flushed(plain_vandrel, recipes, chosen_filters, False)
    if native != reference:
        raise RuntimeError(f"native {native!r} != plain {reference!r}")

compare()
print("compared")
"""


def test_flush_with_checks_off_does_what_the_plain_code_does():
    done = subprocess.run([sys.executable, "-O", "-c", OPTIMISED_PROBE], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr[-3000:]
    assert done.stdout.split() == ["compared"]


# --- matched_xy_pairs ----------------------------------------------------------------


class Named:
    """A column name whose text comes from __format__, which may misbehave."""

    def __init__(self, text, mode):
        self.text, self.mode = text, mode

    def __format__(self, spec):
        if self.mode == "text":
            return self.text
        if self.mode == "sub":
            return Suffix(self.text)
        if self.mode == "number":
            return 1
        if self.mode == "deprecated":
            warnings.warn(f"{self.text} is deprecated", DeprecationWarning)
            return self.text
        raise ValueError(f"no text for {self.text}")


short_name = st.text(alphabet="tav1,.\t é", max_size=4)
column = st.one_of(
    short_name, short_name, short_name,
    st.builds(Named, short_name, st.sampled_from(["text", "sub", "number", "deprecated", "raise"])),
    st.sampled_from([None, 1, 2.5]),
)
# Pieces that make re warn (FutureWarning: possible set operations) or fail,
# possessive quantifiers and atomic groups, escapes of every kind.
pattern_atoms = st.sampled_from(
    ["t", "a", "v", "1", ",", ",", ",", ".", ".*", "*", "+", "?", "*+", "++", "?+", "{1,2}+", "(?>", "(?>a)",
     "[[", "[a--b]", "[&&]", "[||a]", "[~~]", "[[t]", "(", ")", "|", "[", "]", "[^,]", "\\", "\\.", "\\,",
     "\\t", "\\x2c", "\\u0074", "\\U00000061", "\\N{COMMA}", "\\101", "\\0", "\\1", "\\é", "\\q", "\\d", "\\Z",
     "é", "\t", " ", ";", ";", "(?i)", "(?x)", "(?s:.)", "(?(1)a|b)", "(?P<n>t)", "(?P=n)", "$", "^"]
)
pattern_text = st.lists(pattern_atoms, max_size=8).map("".join)


def matched(function, patterns, lst, action):
    """Result or error, and the warnings, of one call from an empty re cache."""
    re.purge()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter(action)
        try:
            outcome = function(patterns, lst)
        except Exception as e:
            outcome = (type(e), str(e))
    return outcome, [(w.category, str(w.message)) for w in caught]


@settings(max_examples=300, suppress_health_check=[HealthCheck.too_slow])
@given(patterns=pattern_text, lst=st.lists(column, max_size=6), action=st.sampled_from(["error", "always"]),
       road=st.sampled_from(["fast", "through globals"]))
def test_matching_warns_and_fails_as_the_plain_code_does(patterns, lst, action, road):
    with pytest.MonkeyPatch.context() as patched:
        if road == "through globals":
            patched.setattr(toolbar, "re", types.SimpleNamespace(match=re.match))
        native = matched(toolbar.matched_xy_pairs, patterns, lst, action)
    reference = matched(plain_matching.matched_xy_pairs, patterns, lst, action)
    assert native[0] == reference[0]
    if road == "through globals":
        assert native[1] == reference[1]
        return
    # The fast road computes each name's text once, up front, not once per
    # candidate: a __format__ that warns warns a different number of times
    # there (also for names that an invalid pattern keeps the plain code from
    # reaching). The warnings of re itself come as in the plain code.
    def of_names(issued):
        return [w for w in issued if w[1].endswith(" is deprecated")]

    def of_re(issued):
        return [w for w in issued if not w[1].endswith(" is deprecated")]

    assert of_re(native[1]) == of_re(reference[1])
    assert set(of_names(reference[1])) <= set(of_names(native[1]))
