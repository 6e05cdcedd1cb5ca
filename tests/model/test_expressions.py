"""Derived series' expressions: the values against numpy on the same rows,
the row functions across every split of a stream into blocks, and the
refusals with the character they point at."""

import math
import warnings

from hypothesis import given, settings, strategies as st
import numpy as np
import pytest

from tarvinel.stelvane.model import rowfunctions
from tarvinel.stelvane.model.expressions import (EvaluationError, ExpressionError,
                                           compile_expression, parse_definition)

RNG = np.random.default_rng(7)
A = RNG.normal(size=40) * 3
B = RNG.normal(size=40)
B[[3, 11]] = 0.0
C = RNG.normal(size=40)
X = np.cumsum(RNG.uniform(0.001, 0.02, size=40)) + 1.7e9  # seconds since the epoch
COLUMNS = {"a": A, "b": B, "c": C}


def values(text, columns=COLUMNS, x=X):
    return compile_expression("d", text).start().values(columns, x)


def in_blocks(text, cuts, columns=COLUMNS, x=X):
    """The values of `text` fed block by block, cut before each row of `cuts`;
    a block without an imaginary part comes as real numbers, as a data set
    hands it on."""
    series = compile_expression("d", text).start()
    edges = [0, *cuts, len(x)]
    blocks = ({k: v[i:j] if np.any(np.imag(v[i:j])) else np.real(v[i:j]).copy()
               for k, v in columns.items()} for i, j in zip(edges, edges[1:]))
    return np.concatenate([series.values(block, x[i:j])
                           for block, (i, j) in zip(blocks, zip(edges, edges[1:]))])


def trapezoids(y, x):
    with np.errstate(invalid="ignore"):
        areas = (y[1:] + y[:-1]) / 2 * np.diff(x)
        return np.concatenate(([0.0], np.cumsum(np.where(np.isnan(areas), 0, areas))))


def trailing_means(y, n):
    return np.array([np.mean(y[max(0, i - n + 1):i + 1]) for i in range(len(y))])


def lowpass_rows(y, x, f):
    """The filter row by row, as its definition reads."""
    out, value, last_x = [], None, None
    for yi, xi in zip(y, x):
        if not (math.isfinite(yi) and math.isfinite(xi)):
            out.append(math.nan)
            continue
        if value is None:
            value = yi
        else:
            keep = math.exp(-2 * math.pi * f * max(xi - last_x, 0.0))
            value = keep * value + (1 - keep) * yi
        last_x = xi
        out.append(value)
    return np.array(out)


def backward(y, x):
    return np.concatenate(([math.nan], np.diff(y) / np.diff(x)))


ELEMENTWISE = [
    ("a * b + c", lambda: A * B + C),
    ("20*log10(abs(a))", lambda: 20 * np.log10(np.abs(A))),
    ("sqrt(a) + exp(b) - log(abs(c))", lambda: np.sqrt(A) + np.exp(B) - np.log(np.abs(C))),
    ("sin(a) * cos(b) / tan(c)", lambda: np.sin(A) * np.cos(B) / np.tan(C)),
    ("arctan2(a, b) + hypot(a, c)", lambda: np.arctan2(A, B) + np.hypot(A, C)),
    ("minimum(a, b) - maximum(b, c)", lambda: np.minimum(A, B) - np.maximum(B, C)),
    ("where(a > b, a, -b)", lambda: np.where(A > B, A, -B)),
    ("clip(a, -1, 2.5)", lambda: np.clip(A, -1, 2.5)),
    ("a // b + a % b - a ** 2 + +c", lambda: A // B + A % B - A ** 2 + C),
    ("b < a <= c", lambda: ((B < A) & (A <= C)).astype(float)),
    ("a > 0 and not b > 0 or c == c", lambda: ((A > 0) & ~(B > 0) | (C == C)).astype(float)),
    ("a != b", lambda: (A != B).astype(float)),
    ("pi * e + 0 * a", lambda: np.full(40, math.pi * math.e)),
    ("1j * a", lambda: 1j * A),
]


@pytest.mark.parametrize("text, expected", ELEMENTWISE, ids=[t for t, _ in ELEMENTWISE])
def test_elementwise_expressions_give_numpys_values(text, expected):
    with np.errstate(all="ignore"):
        np.testing.assert_array_equal(values(text), expected())


def test_a_constant_expression_fills_every_row():
    assert values("2 * pi").tolist() == [2 * math.pi] * 40


def test_division_by_zero_and_log_of_negatives_give_inf_and_nan_without_a_warning():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        quotient = values("a / b")
        logs = values("log(a) + sqrt(a) * 0")
        zero = values("0 / b")
    assert math.isinf(quotient[3]) and math.isinf(quotient[11])
    assert np.isnan(zero[[3, 11]]).all()
    assert (np.isnan(logs) == (A < 0)).all()


def test_values_numpy_cannot_make_raise_an_evaluation_error():
    with pytest.raises(EvaluationError, match="d: "):
        values("a // b", {"a": A * 1j, "b": B})


ROW_FUNCTIONS = [
    ("derivative(a)", lambda: backward(A, X)),
    ("delta(a)", lambda: np.concatenate(([math.nan], np.diff(A)))),
    ("integral(a)", lambda: trapezoids(A, X)),
    ("moving_average(a, 5)", lambda: trailing_means(A, 5)),
    ("moving_average(a, 1)", lambda: A),
    ("lowpass(a, 3.5)", lambda: lowpass_rows(A, X, 3.5)),
    ("integral(derivative(a * b))", lambda: trapezoids(backward(A * B, X), X)),
]


@pytest.mark.parametrize("text, expected", ROW_FUNCTIONS, ids=[t for t, _ in ROW_FUNCTIONS])
def test_row_functions_against_numpy_whole_and_split_at_every_place(text, expected):
    whole = values(text)
    np.testing.assert_allclose(whole, expected(), rtol=1e-11, atol=1e-9)
    for cut in range(len(X) + 1):
        np.testing.assert_allclose(in_blocks(text, [cut]), whole, rtol=1e-11, atol=1e-9)
    np.testing.assert_allclose(in_blocks(text, range(1, len(X))), whole, rtol=1e-11, atol=1e-9)


@pytest.mark.parametrize("text, expected", ROW_FUNCTIONS, ids=[t for t, _ in ROW_FUNCTIONS])
def test_long_blocks_taken_in_pieces_give_the_same_values(text, expected, monkeypatch):
    monkeypatch.setattr(rowfunctions, "PIECE", 6)
    np.testing.assert_allclose(values(text), expected(), rtol=1e-11, atol=1e-9)


def test_row_functions_over_missing_values():
    y = A.copy()
    y[[0, 5, 6, 20]] = math.nan
    y[9], y[30] = math.inf, -math.inf
    columns = {"a": y}
    assert np.isnan(values("derivative(a)", columns)[[0, 1, 5, 6, 7, 20, 21]]).all()
    integral = values("integral(a)", columns)
    np.testing.assert_allclose(integral, trapezoids(y, X))
    np.testing.assert_allclose(values("moving_average(a, 3)", columns), trailing_means(y, 3))
    low = values("lowpass(a, 2)", columns)
    np.testing.assert_allclose(low, lowpass_rows(y, X, 2))
    assert np.isnan(low[[0, 5, 9, 30]]).all() and np.isfinite(low[[1, 10, 31]]).all()


@settings(max_examples=60, deadline=None)
@given(st.lists(st.one_of(st.floats(-1e3, 1e3), st.just(math.nan)), min_size=1, max_size=30),
       st.lists(st.integers(0, 30), max_size=6), st.integers(1, 8),
       st.sampled_from(["derivative", "delta", "integral", "moving_average", "lowpass"]))
def test_a_stream_cut_anywhere_gives_the_whole_columns_values(y, cuts, n, name):
    y = np.array(y)
    x = np.arange(len(y)) * 0.01 + 100.0
    text = {"moving_average": f"moving_average(a, {n})", "lowpass": f"lowpass(a, {n})"}.get(
        name, f"{name}(a)")
    cuts = sorted(c for c in cuts if c <= len(y))
    whole = values(text, {"a": y}, x)
    np.testing.assert_allclose(in_blocks(text, cuts, {"a": y}, x), whole, rtol=1e-9, atol=1e-9)


@pytest.mark.parametrize("name", ["derivative", "delta", "integral", "moving_average", "lowpass"])
def test_complex_blocks_and_real_blocks_follow_each_other(name):
    text = {"moving_average": "moving_average(a, 3)", "lowpass": "lowpass(a, 2)"}.get(
        name, f"{name}(a)")
    y = A + 1j * np.where(np.arange(40) < 10, B, 0)  # real from row 10 on
    whole = values(text, {"a": y})
    parts = in_blocks(text, [10, 25], {"a": y})
    np.testing.assert_allclose(parts, whole, rtol=1e-12, atol=1e-12)


def test_lowpass_passes_slow_sines_and_halves_the_power_at_its_frequency():
    t = np.arange(200_000) * 1e-4  # 20 s at 10 kHz
    columns = {"slow": np.sin(2 * math.pi * 0.5 * t), "at": np.sin(2 * math.pi * 10 * t)}
    slow = compile_expression("s", "lowpass(slow, 10)").start().values(columns, t)
    at = compile_expression("s", "lowpass(at, 10)").start().values(columns, t)
    assert np.abs(slow[-20_000:]).max() == pytest.approx(1, abs=0.01)
    assert np.abs(at[-20_000:]).max() == pytest.approx(1 / math.sqrt(2), abs=0.01)


def test_backquoted_names_are_columns_of_any_spelling():
    expression = parse_definition("`P [W]` = `U [V]` * `lambda` + `e` - e")
    assert expression.name == "P [W]" and expression.columns == ("U [V]", "lambda", "e")
    got = expression.start().values({"U [V]": A, "lambda": B, "e": C}, X)
    np.testing.assert_allclose(got, A * B + C - math.e)
    assert expression.definition == "`P [W]`=`U [V]` * `lambda` + `e` - e"


def test_names_of_other_scripts_read_as_written():
    expression = compile_expression("d", "ᚠ * `x y` + µs - `ﬁ`")
    assert expression.columns == ("ᚠ", "x y", "µs", "ﬁ")
    got = expression.start().values({"ᚠ": A, "x y": B, "µs": C, "ﬁ": A}, X)
    np.testing.assert_allclose(got, A * B + C - A)


def test_a_missing_column_is_pointed_at():
    expression = parse_definition("p = volts * `amps [A]`")
    assert expression.missing(["volts", "amps [A]"]) is None
    error = expression.missing(["volts", "amps"])
    assert str(error) == "p: no column 'amps [A]'\n  volts * `amps [A]`\n          ^"
    assert error.one_line == "p: no column 'amps [A]' in 'volts * »`amps [A]`'"


REFUSED = [
    ("volts.real", "an attribute is not allowed here", "     ^"),
    ("__import__('os')", "names with double underscores are not allowed", "^"),
    ("a + __class__", "names with double underscores", "    ^"),
    ("a[0]", "a subscript is not allowed here", " ^"),
    ("lambda: 1", "a lambda is not allowed here", "^"),
    ("[v for v in a]", "a comprehension is not allowed here", "^"),
    ("a if b else c", "a conditional expression (write where(condition, a, b))", "^"),
    ("system(a)", "unknown function 'system'", "^"),
    ("a + eval('1')", "unknown function 'eval'", "    ^"),
    ("sqrt(a, b)", "sqrt takes 1 argument: sqrt(a)", "        ^"),
    ("where(a, b)", "where takes 3 arguments: where(a, b, c)", "^"),
    ("moving_average(a, 0)", "the window N must be a whole number", "                  ^"),
    ("moving_average(a, n)", "moving_average's N must be a number written out", " " * 18 + "^"),
    ("lowpass(a, -2)", "the frequency f must be a number greater than 0", "           ^"),
    ("derivative(a, 2)", "derivative takes 1 argument: derivative(y)", "              ^"),
    ("abs(a, *b)", "only plain arguments", "       ^"),
    ("abs(x=a)", "only plain arguments", "    ^"),
    ("a.b(c)", "an attribute is not allowed here", " ^"),
    ("(a + b)(c)", "only the functions of the list can be called", " ^"),
    ("a & b", "the bit operator & is not allowed here", "  ^"),
    ("a is b", "the operator is is not allowed here", "  ^"),
    ("'text' + a", "text is not allowed here: only numbers", "^"),
    ("a +", "invalid syntax", "   ^"),
    ("import os", "invalid syntax", "^"),
    ("`volts", "a backquote that is not closed", "^"),
    ("a * ``", "an empty name in backquotes", "    ^"),
    ("`a`b", "a name in backquotes must stand apart", "^"),
    ("Δt + a.imag", "an attribute is not allowed here", "      ^"),
    ("a +\nb", "an expression is one line of text", "   ^"),
    ("   ", "the expression is empty", "^"),
]


@pytest.mark.parametrize("text, reason, caret", REFUSED, ids=[t for t, _, _ in REFUSED])
def test_anything_but_the_language_is_refused_with_a_pointed_message(text, reason, caret):
    with pytest.raises(ExpressionError) as refused:
        compile_expression("d", text)
    head, pointed = str(refused.value).split("\n", 1)
    assert head.startswith(f"d: {reason}")
    assert pointed == f"  {text}\n  {caret}"


@pytest.mark.parametrize("text, reason, position", [
    ("no equals sign", "expected NAME=EXPRESSION", 14), ("= a * 2", "the series needs a name", 0),
    ("p =", "p: the expression is empty", 0), ("`a` b = 1", "expected '=' after the name", 3),
    ("a`b = 1", "a name holds no backquote", 1), ("`ab = 1", "a backquote that is not", 0)])
def test_a_definition_needs_a_name_and_an_expression(text, reason, position):
    with pytest.raises(ExpressionError, match=reason) as refused:
        parse_definition(text)
    assert refused.value.position == position


def test_a_definition_reads_back_from_its_text():
    for text in ("p = volts*amps", "`a=b [V]` = `x y` - 1", "  q=  delta(a)  "):
        expression = parse_definition(text)
        again = parse_definition(expression.definition)
        assert (again.name, again.text) == (expression.name, expression.text)
