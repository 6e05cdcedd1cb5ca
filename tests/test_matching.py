"""matched_xy_pairs: the selection that a pattern text picks from the column names."""

import inspect
import itertools
import re
import types
import warnings

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from tarvinel.stelvane import toolbar
from tests.plain import matching as plain

matched_xy_pairs = toolbar.matched_xy_pairs
TAB = ["t", "a", "b"]


# --- behaviour ----------------------------------------------------------------


@pytest.mark.parametrize(
    "patterns, lst, expected",
    [
        # one pattern, one or several candidates
        ("t,a", TAB, [("t", "a")]),
        ("t,.*", TAB, [("t", "t"), ("t", "a"), ("t", "b")]),
        ("t,[ab]", TAB, [("t", "a"), ("t", "b")]),
        (".*", TAB, list(itertools.product(TAB, repeat=2))),
        # blanks (U+0020 only) go anywhere; the result follows column order
        (" t , a ; t,b ", TAB, [("t", "a"), ("t", "b")]),
        ("t,b;t,a", TAB, [("t", "a"), ("t", "b")]),
        ("t,a;.*,a", TAB, [("t", "a"), ("a", "a"), ("b", "a")]),
        # nothing covers a candidate
        ("", TAB, []),
        (";", TAB, []),
        ("t", TAB, []),
        ("T,A", TAB, []),
        ("t,a\t", TAB, []),
        # duplicates pair by position
        ("a,a", ["a", "a"], [("a", "a")] * 4),
        # the match re.match finds must cover the text; another way of matching does not count
        ("a,b|a,ab", ["a", "ab", "b"], [("a", "ab"), ("a", "b")]),
        ("a,a|a,ab", ["a", "ab", "b"], [("a", "a")]),
        ("a,.*?", ["a", "b"], []),
        # a blank in a name needs an escape or '.'
        ("a b,c", ["a b", "c"], []),
        (r"a\sb,c;a.b,a.b", ["a b", "c"], [("a b", "a b"), ("a b", "c")]),
        # commas in names; '.' crosses the separating comma
        ("a,b,c", ["a", "b,c", "a,b", "c"], [("a", "b,c"), ("a,b", "c")]),
        # names with regex metacharacters are text, patterns are regular expressions
        (r"x\.1,y\(2\)", ["x.1", "y(2)", "xa1"], [("x.1", "y(2)")]),
        ("x.1,y", ["x.1", "xa1", "y"], [("x.1", "y"), ("xa1", "y")]),
    ],
)
def test_selection(patterns, lst, expected):
    assert matched_xy_pairs(patterns, lst) == expected
    assert matched_xy_pairs(lst=lst, patterns=patterns) == expected


class Tagged(str):
    def __format__(self, spec):
        return f"<{str.__str__(self)}>"


def test_elements_take_part_through_their_text():
    tagged = Tagged("x")
    lst = [1, 2.5, None, True, tagged]
    pairs = matched_xy_pairs(r"1,.*;<x>,None", lst)
    assert pairs == [(1, 1), (1, 2.5), (1, None), (1, True), (1, tagged), (tagged, None)]
    # the tuples hold the elements themselves, not their texts
    assert type(pairs[-1][0]) is Tagged
    assert matched_xy_pairs("x,.*", [tagged]) == []


def test_result_is_a_new_list_and_lst_is_untouched():
    lst = ["t", "a"]
    first = matched_xy_pairs("t,a", lst)
    second = matched_xy_pairs("t,a", lst)
    assert first == second and first is not second
    assert lst == ["t", "a"]


# --- interface ----------------------------------------------------------------


def test_interface():
    sig = inspect.signature(matched_xy_pairs)
    assert list(sig.parameters) == ["patterns", "lst"]
    assert matched_xy_pairs.__annotations__ == {
        "patterns": "str",
        "lst": "list[str]",
        "return": "list[tuple[str, str]]",
    }
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'lst'"):
        matched_xy_pairs("t,a")


class StrSub(str):
    pass


class ListSub(list):
    pass


@pytest.mark.parametrize(
    "patterns, lst, name",
    [
        (None, TAB, "patterns"),
        (b"t,a", TAB, "patterns"),
        (StrSub("t,a"), TAB, "patterns"),
        (1, TAB, "patterns"),
        ("t,a", None, "lst"),
        ("t,a", tuple(TAB), "lst"),
        ("t,a", ListSub(TAB), "lst"),
        ("t,a", True, "lst"),
        ("t,a", "tab", "lst"),
    ],
)
def test_exact_types(patterns, lst, name):
    with pytest.raises(TypeError, match=name):
        matched_xy_pairs(patterns, lst)


# --- invalid patterns -----------------------------------------------------------


@pytest.mark.parametrize(
    "patterns, lst",
    [
        ("t,(a", TAB),
        ("t,a;t,(a", TAB),  # reached by the first candidate, t,t
        ("[", TAB),
        ("t,a;x{2,1}", TAB),
        ("t,t;(", ["t", "a"]),  # t,t accepted, the next candidate reaches '('
    ],
)
def test_invalid_pattern_raises_when_reached(patterns, lst):
    with pytest.raises(re.error):
        matched_xy_pairs(patterns, lst)


@pytest.mark.parametrize(
    "patterns, lst, expected",
    [
        ("t,(a", [], []),
        (".*;(", ["t"], [("t", "t")]),  # every candidate accepted before '(' is tried
        (".*,.*;t,(a;[", TAB, list(itertools.product(TAB, repeat=2))),
    ],
)
def test_invalid_pattern_never_reached(patterns, lst, expected):
    assert matched_xy_pairs(patterns, lst) == expected


def test_error_of_a_text_form_propagates():
    class Unformattable:
        def __format__(self, spec):
            raise ValueError("no text")

    with pytest.raises(ValueError, match="no text"):
        matched_xy_pairs("t,a", ["t", Unformattable()])
    # the invalid pattern is reached by t,t before the element's text is needed
    with pytest.raises(re.error):
        matched_xy_pairs("(", ["t", Unformattable()])


# --- re and itertools are the module's globals at call time -------------------------


STANDARD_MATCH = re.match
STANDARD_PRODUCT = itertools.product


class Recorder:
    """Stand-ins for re and itertools that log every use and pass it on."""

    def __init__(self):
        self.log = []
        self.re = types.SimpleNamespace(match=self.match)
        self.itertools = types.SimpleNamespace(product=self.product)

    def match(self, pattern, text):
        self.log.append(("match", pattern, text))
        return STANDARD_MATCH(pattern, text)

    def product(self, *args, **kwargs):
        self.log.append(("product", args, kwargs))
        return STANDARD_PRODUCT(*args, **kwargs)


@pytest.mark.parametrize(
    "patterns, lst",
    [
        ("t,a;.*,a", TAB),
        ("t,b; t,a ;;x", TAB),
        ("a,a", ["a", "a"]),
        ("", []),
        ("t,a;(", ["t", "a"]),
    ],
)
def test_replaced_re_and_itertools_are_used_as_the_plain_code_uses_them(monkeypatch, patterns, lst):
    def run(module, function):
        recorder = Recorder()
        monkeypatch.setattr(module, "re", recorder.re)
        monkeypatch.setattr(module, "itertools", recorder.itertools)
        try:
            outcome = function(patterns, lst)
        except re.error as error:
            outcome = ("raised", str(error))
        return outcome, recorder.log

    native = run(toolbar, matched_xy_pairs)
    reference = run(plain, plain.matched_xy_pairs)
    assert native == reference
    assert native[1][0] == ("product", (lst,), {"repeat": 2})


def test_each_global_is_observed_on_its_own(monkeypatch):
    recorder = Recorder()
    monkeypatch.setattr(re, "match", recorder.match)
    assert matched_xy_pairs("t,t", ["t", "a"]) == [("t", "t")]
    assert [entry[2] for entry in recorder.log] == ["t,t", "t,a", "a,t", "a,a"]
    monkeypatch.undo()

    recorder = Recorder()
    monkeypatch.setattr(itertools, "product", recorder.product)
    assert matched_xy_pairs("t,t", ["t", "a"]) == [("t", "t")]
    assert recorder.log == [("product", (["t", "a"],), {"repeat": 2})]
    monkeypatch.undo()

    monkeypatch.setattr(toolbar, "itertools", types.SimpleNamespace(product=lambda lst, repeat: [("a", "b")]))
    assert matched_xy_pairs(".*", ["t"]) == [("a", "b")]


def test_missing_re_fails_only_when_a_pattern_is_tried(monkeypatch):
    monkeypatch.delattr(toolbar, "re")
    assert matched_xy_pairs("t,a", []) == []
    with pytest.raises(NameError, match="'re'"):
        matched_xy_pairs("t,a", ["t"])


def test_candidates_come_from_product_items(monkeypatch):
    fake = types.SimpleNamespace(product=lambda lst, repeat: iter([("a", "b", "c")]))
    monkeypatch.setattr(toolbar, "itertools", fake)
    with pytest.raises(ValueError, match="too many values to unpack"):
        matched_xy_pairs(".*", ["a"])
    fake.product = lambda lst, repeat: [iter(["a", "b"]), "xy"]
    assert matched_xy_pairs(".*", ["a"]) == [("a", "b"), ("x", "y")]
    fake.product = lambda lst, repeat: [1]
    with pytest.raises(TypeError, match="cannot unpack non-iterable int object"):
        matched_xy_pairs(".*", ["a"])


# --- the same as the plain algorithm ------------------------------------------------


class Shouty(str):
    def __format__(self, spec):
        return str.__str__(self).upper()


name_text = st.text(alphabet="tavb01,. *|()[]?+{}\\\t^$é", max_size=5)
element = st.one_of(
    name_text,
    name_text,
    name_text.map(Shouty),
    st.integers(-3, 20),
    st.sampled_from([None, 1.5, True]),
)
pattern_atoms = st.sampled_from(
    ["t", "a", "v", "b", "0", "1", ",", ".", "*", ".*", "+", "?", "|", "(", ")", "[ab]", "[", "]",
     "{2}", "{", "\\.", "\\d", "\\", "^", "$", " ", ";", "é", "T", "\t", "(?:", "(?=", "\\,"]
)
pattern_text = st.lists(pattern_atoms, max_size=10).map("".join)


def outcome(function, patterns, lst):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            return function(patterns, lst)
        except Exception as error:  # compared by type and text
            return type(error), str(error)


@settings(max_examples=400, suppress_health_check=[HealthCheck.too_slow])
@given(patterns=pattern_text, lst=st.lists(element, max_size=7))
def test_same_as_plain_algorithm(patterns, lst):
    assert outcome(matched_xy_pairs, patterns, lst) == outcome(plain.matched_xy_pairs, patterns, lst)


@settings(max_examples=200)
@given(lst=st.lists(name_text, max_size=7), data=st.data())
def test_same_as_plain_algorithm_for_patterns_made_of_names(lst, data):
    # Patterns built from the names themselves accept something far more often.
    pieces = st.sampled_from(lst + [".*", "[^,]*", ",", "|", ";"]) if lst else st.just(".*")
    patterns = "".join(data.draw(st.lists(pieces, max_size=6)))
    assert outcome(matched_xy_pairs, patterns, lst) == outcome(plain.matched_xy_pairs, patterns, lst)
