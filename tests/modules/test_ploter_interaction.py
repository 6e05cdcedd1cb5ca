"""The plot's letter keys and middle-button clipboard tool, driven by real Qt
events on a shown widget; the clipboard is the X server's, through xclip."""
import subprocess
import time

import pyperclip
import pyqtgraph as pg
import pytest

from tarvinel.stelvane import ploter, qt_compat

QtCore, QtGui = qt_compat.QtCore, qt_compat.QtGui
Qt = QtCore.Qt
# Scoped enum names: the only form PyQt6 and PySide6 know, and PyQt5 knows too.
Button, Key, Modifier, Event = Qt.MouseButton, Qt.Key, Qt.KeyboardModifier, QtCore.QEvent.Type

SENTINEL = "clipboard before the test"


def pasted(unlike=None, timeout=5.0):
    """What a user pasting from the clipboard would get.

    xclip takes the selection over in a child process after pyperclip's copy
    has returned, so a paste right after a copy may still give the text
    before it: with `unlike`, wait (boundedly) for the text to change from it.
    """
    deadline = time.monotonic() + timeout
    while True:
        text = subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True, text=True,
                              timeout=10).stdout
        if unlike is None or text != unlike or time.monotonic() > deadline:
            return text
        time.sleep(0.02)


@pytest.fixture
def clipboard():
    pyperclip.set_clipboard("xclip")
    pyperclip.copy(SENTINEL)
    deadline = time.monotonic() + 5
    while pasted() != SENTINEL and time.monotonic() < deadline:
        time.sleep(0.02)
    assert pasted() == SENTINEL


@pytest.fixture
def base_events(monkeypatch):
    """Records every event that reaches the base class's handlers."""
    seen = []
    for name in ("keyPressEvent", "keyReleaseEvent", "mousePressEvent", "mouseReleaseEvent"):
        def spy(self, ev, name=name):
            seen.append((name, ev.type(), ev.text() if hasattr(ev, "text") else ev.button()))
            getattr(super(pg.PlotWidget, self), name)(ev)

        monkeypatch.setattr(pg.PlotWidget, name, spy, raising=False)
    return seen


@pytest.fixture
def widget(qtbot):
    widget = ploter.PlotWidget()
    qtbot.addWidget(widget)
    widget.resize(600, 400)
    with qtbot.waitExposed(widget):
        widget.show()
    widget.setXRange(0, 100, padding=0)
    widget.setYRange(0, 100, padding=0)
    return widget


def point_at(widget, x):
    """The pixel of the data x coordinate (mid height) and the x the view box maps it back to."""
    vb = widget.plotItem.vb
    pixel = vb.mapViewToScene(QtCore.QPointF(x, 50)).toPoint()
    return pixel, vb.mapSceneToView(QtCore.QPointF(pixel)).x()


def send_key(widget, kind, key, modifier, text):
    """A key event as the window system delivers it, with the text it produced."""
    qt_compat.QtWidgets.QApplication.sendEvent(widget, QtGui.QKeyEvent(kind, key, modifier, text))


def middle(qtbot, widget, action, pixel):
    getattr(qtbot, action)(widget.viewport(), Button.MiddleButton, pos=pixel)


class TestKeys:
    @pytest.mark.parametrize("modifier, text", [(Modifier.NoModifier, "f"), (Modifier.ShiftModifier, "F")])
    def test_f_fits_the_view_on_press_and_again_on_release(self, qtbot, widget, base_events, modifier, text):
        widget.set_data(0, [200.0, 300.0], [1.0, 2.0])
        send_key(widget, Event.KeyPress, Key.Key_F, modifier, text)
        x0, x1 = widget.viewRange()[0]
        assert 180 < x0 <= 200 and 300 <= x1 < 320
        widget.setXRange(0, 100, padding=0)
        send_key(widget, Event.KeyRelease, Key.Key_F, modifier, text)
        assert widget.viewRange()[0][1] >= 300
        assert [(name, seen) for name, _, seen in base_events] == [
            ("keyPressEvent", text), ("keyReleaseEvent", text)]

    def test_a_calls_auto_pan_and_r_holds_range_mode(self, qtbot, widget, monkeypatch, base_events):
        calls = []
        monkeypatch.setattr(widget.plotItem.vb, "setAutoPan", lambda *a, **k: calls.append((a, k)))
        qtbot.keyPress(widget, Key.Key_A)
        qtbot.keyRelease(widget, Key.Key_A)
        assert calls == [((), {}), ((), {})]
        qtbot.keyPress(widget, Key.Key_R)
        assert widget.range_select is True
        qtbot.keyRelease(widget, Key.Key_R)
        assert widget.range_select is False
        assert [name for name, _, _ in base_events] == ["keyPressEvent", "keyReleaseEvent"] * 2

    def test_keys_without_a_command_only_reach_the_base(self, qtbot, widget, base_events):
        widget.set_data(0, [200.0, 300.0], [1.0, 2.0])
        before = widget.viewRange()
        send_key(widget, Event.KeyPress, Key.Key_F, Modifier.ControlModifier, "\x06")
        qtbot.keyClick(widget, Key.Key_Left)
        qtbot.keyClick(widget, Key.Key_F1)
        assert widget.viewRange() == before and widget.range_select is False
        assert len(base_events) == 5


class TestMiddleButton:
    def test_click_copies_the_release_position(self, qtbot, widget, clipboard, base_events):
        press, x_press = point_at(widget, 20)
        release, x_release = point_at(widget, 60)
        middle(qtbot, widget, "mousePress", press)
        assert widget.clippos1 == x_press and pasted() == SENTINEL
        middle(qtbot, widget, "mouseRelease", release)
        assert (widget.clippos1, widget.clippos2) == (x_press, x_release)
        text = pasted(unlike=SENTINEL)
        assert text == str(x_release)
        # The view box's mapping is the truth; one pixel is about 100/600 of a unit.
        assert abs(float(text) - 60) < 0.5
        assert base_events == []

    def test_range_drag_with_r_held_copies_press_then_release(self, qtbot, widget, clipboard):
        press, x_press = point_at(widget, 75)
        release, x_release = point_at(widget, 12.5)
        qtbot.keyPress(widget, Key.Key_R)
        middle(qtbot, widget, "mousePress", press)
        middle(qtbot, widget, "mouseRelease", release)
        qtbot.keyRelease(widget, Key.Key_R)
        assert pasted(unlike=SENTINEL) == f"{x_press!r},{x_release!r}"
        assert x_press > x_release

    def test_range_mode_is_read_at_release(self, qtbot, widget, clipboard):
        press, x_press = point_at(widget, 30)
        release, x_release = point_at(widget, 40)
        middle(qtbot, widget, "mousePress", press)
        qtbot.keyPress(widget, Key.Key_R)
        middle(qtbot, widget, "mouseRelease", release)
        assert pasted(unlike=SENTINEL) == f"{x_press},{x_release}"

    def test_release_in_range_mode_without_press_starts_from_zero(self, qtbot, widget, clipboard):
        release, x_release = point_at(widget, 50)
        qtbot.keyPress(widget, Key.Key_R)
        middle(qtbot, widget, "mouseRelease", release)
        assert pasted(unlike=SENTINEL) == f"0,{x_release}"

    def test_clipboard_failure_propagates_after_the_position_is_stored(self, qtbot, widget, monkeypatch):
        class NoClipboard:
            @staticmethod
            def copy(value):
                raise pyperclip.PyperclipException("no clipboard mechanism")

        monkeypatch.setattr(ploter, "pc", NoClipboard)
        release, x_release = point_at(widget, 80)
        # PyQt hands the error to the excepthook; PySide raises it again in
        # the Python code that sent the event. Either way it reaches the host.
        try:
            with qtbot.capture_exceptions() as captured:
                middle(qtbot, widget, "mouseRelease", release)
            raised = [kind for kind, _, _ in captured]
        except pyperclip.PyperclipException:
            raised = [pyperclip.PyperclipException]
        assert raised == [pyperclip.PyperclipException]
        assert widget.clippos2 == x_release


class TestOtherButtons:
    def test_left_drag_still_pans_and_right_click_reaches_the_base(self, qtbot, widget, base_events):
        start, _ = point_at(widget, 50)
        end, _ = point_at(widget, 25)
        viewport = widget.viewport()
        qtbot.mousePress(viewport, Button.LeftButton, pos=start)
        for step in (start + QtCore.QPoint(-5, 0), end):
            qtbot.wait(40)  # the scene ignores moves closer together than its rate limit
            point = QtCore.QPointF(step)  # (the form with every position is current on each binding)
            move = QtGui.QMouseEvent(Event.MouseMove, point, point, point, Button.LeftButton,
                                     Button.LeftButton, Modifier.NoModifier)
            qt_compat.QtWidgets.QApplication.sendEvent(viewport, move)
        qtbot.mouseRelease(viewport, Button.LeftButton, pos=end)
        x0, x1 = widget.viewRange()[0]
        assert x0 > 20 and x1 > 120  # dragged a quarter of the width to the left
        qtbot.mouseClick(viewport, Button.RightButton, pos=start)
        buttons = [button for _, _, button in base_events]
        assert buttons == [Button.LeftButton, Button.LeftButton, Button.RightButton, Button.RightButton]
        assert (widget.clippos1, widget.clippos2) == (0, 0)
