"""The native layer's calls leave nothing behind: not on success, not on
binding errors, not on errors raised by a body (with their traceback entry)."""
import pytest

import _native_probe as probe
from tests.support.leakcheck import assert_no_growth, raising


@pytest.fixture(scope="module")
def child():
    return probe.Child()


def test_calls(child):
    text, items = "t", ["a"]
    assert_no_growth(lambda: probe.typed(text, items, 3), text, items)
    assert_no_growth(lambda: probe.with_defaults(1, c=text), text)
    assert_no_growth(lambda: child.greet(), child)
    assert_no_growth(lambda: child.kind, child)


def test_errors(child):
    text = "x"
    assert_no_growth(raising(lambda: probe.add(1, 2, 3), TypeError))
    assert_no_growth(raising(lambda: probe.add(1, a=text), TypeError), text)
    assert_no_growth(raising(lambda: probe.add(1, z=text), TypeError), text)
    assert_no_growth(raising(lambda: probe.typed(text, [], True), TypeError), text)
    assert_no_growth(raising(lambda: probe.fail(text), ValueError), text)
    assert_no_growth(raising(lambda: probe.read_global(), NameError))


def test_binding_and_class_creation(child):
    base = type("Root", (), {"keyPressEvent": lambda self, ev: None})
    assert_no_growth(lambda: child.greet, child)
    # The interpreter's code-object caches take a few hundred rounds to settle.
    assert_no_growth(lambda: probe.make_recorder(base)(), base, repeat=1000, warmup=1000)
