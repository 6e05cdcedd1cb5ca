"""matched_xy_pairs: the selection that a pattern text picks from the column names."""

import contextlib
import inspect
import itertools
import re
import types
import warnings

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from tarvinel.stelvane import toolbar
from twins import matching as plain

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


@pytest.mark.parametrize(
    "patterns, error",
    [
        ("t,a", ValueError),
        ("(", re.error),  # reached by t,t before the second element's text is needed
        ("t,t;(", ValueError),  # t,t accepted; t,<second> needs the text first
        ("t,x;(", re.error),  # t,t reaches '('
    ],
)
def test_error_of_a_text_form_propagates_in_candidate_order(patterns, error):
    with pytest.raises(error):
        matched_xy_pairs(patterns, ["t", Unformattable(), "a"])
    with pytest.raises(ValueError):
        matched_xy_pairs("(", [Unformattable(), "t"])


def test_candidates_are_those_of_the_list_at_call_time():
    class Growing:
        def __init__(self, lst):
            self.lst = lst

        def __format__(self, spec):
            self.lst.append("late")
            return "g"

    def run(function):
        lst = ["t"]
        lst.append(Growing(lst))
        pairs = function(".*", lst)
        return [(type(x).__name__, type(y).__name__) for x, y in pairs], len(lst) > 2

    native, grown = run(matched_xy_pairs)
    assert grown
    assert native == run(plain.matched_xy_pairs)[0]
    assert len(native) == 4


# Patterns whose literal parts are easy to misread: quantifiers and escapes
# that change the character before or after, alternation, inline flags.
@pytest.mark.parametrize(
    "patterns, lst",
    [
        ("t{2},a", ["tt", "t", "a"]),
        ("t,a{0}", ["t", "", "a"]),
        ("t?,a;ab*,c", ["", "t", "a", "c"]),
        ("t,a|b,a;b|t,a", TAB),
        ("a,t{1}|.*;a\\x2ct|.*", TAB),  # '|' after what ends the reading of literal parts
        ("(t|a),a;(?:t),b", TAB),
        (r"\x74,a;t\N{COMMA}b;t\x2cb", TAB),
        (r"(t),\1;(?P<n>a),(?P=n)", TAB),
        ("(?i)T,A", TAB),
        ("(?x)t,a#comment", TAB),
        ("t,a$;t,b\\Z;^a,b", TAB),
        (r"t\,a;b\.,a", ["t", "a", "b.", "b"]),
        ("t,[]a];t,[^a]", ["t", "a", "]", "b"]),
        ("t,a*?;t,.+?", ["t", "a", "aa"]),
        ("t,(?=a)a;(?<=t),a", TAB),
        ("t,a{,};t,a{1,2}b", ["t", "", "aa", "ab", "aab"]),
        ("t,{;t,a}", ["t", "{", "a}"]),
        (".*,a;t,.*;.*", TAB),
        ("time,v1.*;.*,v1[0-9];v.*,time", ["time", "v1", "v12", "v2", "a"]),
    ],
)
def test_literal_parts_read_safely(patterns, lst):
    assert matched_xy_pairs(patterns, lst) == plain.matched_xy_pairs(patterns, lst)


def test_patterns_are_compiled_when_first_reached():
    # '[[' compiles with a FutureWarning: only a pattern that is tried warns.
    def warned(function, patterns, lst):
        re.purge()
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            result = function(patterns, lst)
        return result, [str(w.message) for w in caught]

    for patterns, lst, warns in [
        (".*;[[a],a", TAB, False),
        ("t,t;[[a],a", ["t"], False),
        ("t,t;[[a],a", ["t", "a"], True),
        ("x,y;[[t],a", TAB, True),
        ("[[t],a", [], False),
    ]:
        native = warned(matched_xy_pairs, patterns, lst)
        assert native == warned(plain.matched_xy_pairs, patterns, lst)
        assert bool(native[1]) == warns


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


class Counted:
    calls = 0

    def __init__(self, text):
        self.text = text

    def __format__(self, spec):
        Counted.calls += 1
        return self.text


def format_calls(function, lst):
    Counted.calls = 0
    pairs = function("a,.*", lst)
    return pairs, Counted.calls


def test_text_of_each_element_computed_once_with_the_standard_modules(monkeypatch):
    lst = [Counted("a"), Counted("b"), Counted("c")]
    pairs, calls = format_calls(matched_xy_pairs, lst)
    assert pairs == plain.matched_xy_pairs("a,.*", lst)
    assert calls == len(lst)
    # through a replaced re.match every candidate builds its text, as the plain code does
    monkeypatch.setattr(toolbar, "re", Recorder().re)
    assert format_calls(matched_xy_pairs, lst) == format_calls(plain.matched_xy_pairs, lst)
    assert Counted.calls == 2 * len(lst) ** 2


def test_missing_re_fails_only_when_a_pattern_is_tried(monkeypatch):
    monkeypatch.delattr(toolbar, "re")
    assert matched_xy_pairs("t,a", []) == []
    with pytest.raises(NameError, match="'re'"):
        matched_xy_pairs("t,a", ["t"])


class CollidingKey:
    """A key of a module's globals with the hash of the global `name`, put
    where a lookup of that name meets it first; once armed, the first
    comparison raises."""

    def __init__(self, name):
        self.name = name
        self.armed = False

    def __hash__(self):
        return hash(self.name)

    def __eq__(self, other):
        if self.armed:
            self.armed = False
            raise LookupError(f"compared with {other!r}")
        return False


@contextlib.contextmanager
def colliding_global(module, name):
    namespace = vars(module)
    value = namespace.pop(name)
    key = CollidingKey(name)
    namespace[key] = None  # first in the probe order of `name`, ahead of the re-inserted entry
    namespace[name] = value
    key.armed = True
    try:
        yield
    finally:
        key.armed = False
        del namespace[key]


@pytest.mark.parametrize("name", ["re", "itertools"])
@pytest.mark.parametrize("lst", [[], TAB])
def test_an_error_looking_up_a_global_is_raised_where_the_plain_code_meets_it(name, lst):
    def run(module, function):
        with colliding_global(module, name):
            try:
                return function("t,a", lst)
            except LookupError as error:
                return ("raised", str(error))

    outcome = run(toolbar, matched_xy_pairs)
    assert outcome == run(plain, plain.matched_xy_pairs)
    # itertools.product is read first; re.match only once a candidate is tried
    assert (outcome == []) == (name == "re" and not lst)


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


class Unformattable:
    def __format__(self, spec):
        raise ValueError("no text")


name_text = st.text(alphabet="tavb01,. *|()[]?+{}\\\t^$é", max_size=5)
element = st.one_of(
    name_text,
    name_text,
    name_text.map(Shouty),
    st.integers(-3, 20),
    st.sampled_from([None, 1.5, True]),
)
pattern_atoms = st.sampled_from(
    ["t", "a", "v", "b", "0", "1", ",", ",", ".", "*", ".*", "+", "?", "*?", "|", "(", ")", "[ab]", "[]a]",
     "[^,]", "[", "]", "{2}", "{,}", "{", "}", "\\.", "\\,", "\\d", "\\b", "\\x2c", "\\1", "\\N{COMMA}",
     "\\", "^", "$", " ", ";", "é", "T", "\t", "(?:", "(?=", "(?i)", "(?x)", "#", "(?#", "(?P<n>", "(?P=n)"]
)
pattern_text = st.lists(pattern_atoms, max_size=10).map("".join)


def outcome(function, patterns, lst):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            return function(patterns, lst)
        except Exception as error:  # compared by type and text
            return type(error), str(error)


@settings(max_examples=300, suppress_health_check=[HealthCheck.too_slow])
@given(patterns=pattern_text, lst=st.lists(element | st.builds(Unformattable), max_size=7))
def test_same_as_plain_algorithm(patterns, lst):
    assert outcome(matched_xy_pairs, patterns, lst) == outcome(plain.matched_xy_pairs, patterns, lst)


# Names over a small alphabet share pieces; patterns made of those pieces and a
# few regular-expression constructs accept candidates far more often.
short_name = st.text(alphabet="tav1,. ", max_size=4)
constructs = st.sampled_from(
    [".*", ".", "[^,]*", "[a-v]", "?", "*", "+", "*?", "{1,2}", "{", "|", "(", ")", "(?:", ",", ",", "\\.",
     "\\d", "\\s", "$", "^", "(?i)", "\\x2c", "\\1", ";"]
)


@st.composite
def names_and_patterns(draw):
    lst = draw(st.lists(st.one_of(short_name, short_name, short_name, element), max_size=7))
    fragments = [text[i:j] for text in lst if isinstance(text, str) for i in range(len(text) + 1)
                 for j in range(i + 1, len(text) + 1)]
    piece = st.one_of(st.sampled_from(fragments), st.sampled_from(fragments), constructs) if fragments else constructs
    side = st.lists(piece, max_size=3).map("".join)
    part = st.one_of(st.tuples(side, side).map(",".join), side)
    return ";".join(draw(st.lists(part, min_size=1, max_size=3))), lst


@settings(max_examples=600, suppress_health_check=[HealthCheck.too_slow])
@given(case=names_and_patterns())
def test_same_as_plain_algorithm_for_patterns_made_of_names(case):
    patterns, lst = case
    assert outcome(matched_xy_pairs, patterns, lst) == outcome(plain.matched_xy_pairs, patterns, lst)
