"""Format selectors and the pattern field, driven as a user drives them.

A user change must reach the stored handler through the widget's signal; a
program change (set_idx, set_text) through one direct call.
"""

import pytest

from tarvinel.stelvane import toolbar
from tarvinel.stelvane.qt_compat import QtCore, QtWidgets

from tests.support.userinput import choose, counter, shown

Qt = QtCore.Qt


def items(combo):
    return [combo.itemText(i) for i in range(combo.count())]


def test_new_selectors_offer_their_words_in_order(qtbot):
    x, y = toolbar.XFormatCombo(), toolbar.YFormatCombo()
    qtbot.addWidget(x)
    qtbot.addWidget(y)
    assert items(x) == ["real", "imag", "mag", "phase"] and x.currentText() == "real"
    assert items(y) == ["mag", "phase", "real", "imag"] and y.currentText() == "mag"
    assert x.on_change_callable is None and y.on_change_callable is None
    # Without a handler a program change only moves the selection.
    x.set_idx(3)
    assert x.currentText() == "phase"


@pytest.mark.parametrize("cls", [toolbar.XFormatCombo, toolbar.YFormatCombo])
def test_user_choice_calls_handler_through_activated_only(qtbot, cls):
    combo = shown(qtbot, cls())
    handler = counter()
    combo.set_on_change_event_action(handler)

    choose(qtbot, combo, items(combo)[2])
    assert (combo.currentIndex(), handler.calls) == (2, 1)
    choose(qtbot, combo, items(combo)[2])  # the item already shown
    assert (combo.currentIndex(), handler.calls) == (2, 2)

    # A program change calls the handler directly, once, and the signal stays quiet.
    combo.set_idx(1)
    qtbot.wait(20)
    assert (combo.currentIndex(), handler.calls) == (1, 3)
    combo.set_idx(1)
    assert handler.calls == 4


def test_set_idx_hands_any_int_to_the_toolkit(qtbot):
    combo, plain = toolbar.XFormatCombo(), QtWidgets.QComboBox()
    qtbot.addWidget(combo)
    qtbot.addWidget(plain)
    plain.addItems(items(combo))
    handler = counter()
    combo.set_on_change_event_action(handler)
    for idx in (7, -1, 2):
        combo.set_idx(idx)
        plain.setCurrentIndex(idx)
        assert combo.currentIndex() == plain.currentIndex()
    assert handler.calls == 3


class Int(int):
    pass


@pytest.mark.parametrize("bad", [True, None, "1", 1.0, Int(1)])
def test_set_idx_rejects_anything_but_an_int_before_acting(qtbot, bad):
    combo = toolbar.YFormatCombo()
    qtbot.addWidget(combo)
    handler = counter()
    combo.set_on_change_event_action(handler)
    combo.set_idx(2)
    with pytest.raises(TypeError, match="'idx'"):
        combo.set_idx(bad)
    assert (combo.currentIndex(), handler.calls) == (2, 1)


def test_later_handler_adds_to_earlier_connection(qtbot):
    combo = shown(qtbot, toolbar.XFormatCombo())
    first, second = counter(), counter()
    combo.set_on_change_event_action(first)
    combo.set_on_change_event_action(second)
    choose(qtbot, combo, "mag")
    assert (first.calls, second.calls) == (1, 1)
    combo.set_idx(0)
    assert (first.calls, second.calls) == (1, 2)
    assert combo.on_change_callable is second


def test_handler_errors_propagate_after_the_change(qtbot):
    combo = toolbar.XFormatCombo()
    qtbot.addWidget(combo)

    def failing():
        raise LookupError("handler")

    combo.set_on_change_event_action(failing)
    with pytest.raises(LookupError):
        combo.set_idx(3)
    assert combo.currentText() == "phase"

    # A callback the signal refuses is stored first; the refusal propagates.
    with pytest.raises(TypeError):
        combo.set_on_change_event_action(42)
    assert combo.on_change_callable == 42
    combo.set_idx(1)  # a stored non-callable is not called
    assert combo.currentText() == "imag"


def test_typing_reaches_handler_only_when_the_edit_is_finished(qtbot):
    field = shown(qtbot, toolbar.LineEdit())
    assert field.text() == "" and field.parent() is None
    assert not hasattr(field, "on_change_callable")
    handler = counter()
    field.set_on_change_event_action(handler)

    qtbot.keyClicks(field, "t,a;x")
    assert (field.text(), handler.calls) == ("t,a;x", 0)
    qtbot.keyClick(field, Qt.Key.Key_Return)
    assert handler.calls == 1


def test_set_text_shows_text_then_calls_latest_handler(qtbot):
    field = shown(qtbot, toolbar.LineEdit())
    field.set_text("time,.*")  # no handler installed yet: only the text changes
    assert field.text() == "time,.*"

    first, second = counter(), counter()
    field.set_on_change_event_action(first)
    field.set_on_change_event_action(second)
    field.set_text("time,.*")  # same text: still one call
    assert (first.calls, second.calls) == (0, 1)
    qtbot.keyClick(field, Qt.Key.Key_Return)
    assert (first.calls, second.calls) == (1, 2)

    seen = []

    def failing():
        seen.append(field.text())
        raise LookupError("handler")

    field.set_on_change_event_action(failing)
    with pytest.raises(LookupError):
        field.set_text("a,b")
    assert seen == ["a,b"] and field.text() == "a,b"
