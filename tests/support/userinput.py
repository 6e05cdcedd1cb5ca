"""What a user does, as real Qt events: typing a pattern, choosing from a
popup, Ctrl with a key over a plot, dragging, a key with its text; and what
a user pasting from the clipboard gets."""

import subprocess
import time

from tarvinel.stelvane import qt_compat

QtCore, QtGui, QtWidgets = qt_compat.QtCore, qt_compat.QtGui, qt_compat.QtWidgets
Qt = QtCore.Qt
CTRL = Qt.KeyboardModifier.ControlModifier


def type_pattern(qtbot, field, text):
    field.setFocus()
    qtbot.keyClick(field, Qt.Key.Key_A, CTRL)
    qtbot.keyClicks(field, text)
    qtbot.keyClick(field, Qt.Key.Key_Return)


def choose(qtbot, combo, text):
    """Opens the popup with the keyboard, walks to `text` and takes it with Return."""
    qtbot.keyClick(combo, Qt.Key.Key_Space)
    view = combo.view()
    qtbot.waitUntil(view.isVisible)
    steps = combo.findText(text) - view.currentIndex().row()
    for _ in range(abs(steps)):
        qtbot.keyClick(view, Qt.Key.Key_Down if steps > 0 else Qt.Key.Key_Up)
    qtbot.keyClick(view, Qt.Key.Key_Return)
    qtbot.waitUntil(lambda: not view.isVisible())


def press(qtbot, win, key, over, focus=None):
    """The key with Ctrl, the pointer resting on the plot `over`, the focus
    in `focus` (the plot if not given)."""
    focus = focus or over
    qtbot.mouseMove(over)
    focus.setFocus()
    qtbot.waitUntil(focus.hasFocus, timeout=2000)
    qtbot.keyClick(focus, key, CTRL)


def send_key(widget, kind, key, text):
    QtWidgets.QApplication.sendEvent(
        widget, QtGui.QKeyEvent(kind, key, Qt.KeyboardModifier.NoModifier, text))


def on_widget(plot, x, y) -> QtCore.QPoint:
    """Where the data point (x, y) is in the plot widget's coordinates."""
    scene = plot.plotItem.vb.mapViewToScene(QtCore.QPointF(x, y))
    return plot.mapFromScene(scene) + plot.viewport().pos()


def drag_to(widget, pos: QtCore.QPoint) -> None:
    """A move with the left button held (QTest's own move warps the X pointer,
    which arrives later and without the button)."""
    local = QtCore.QPointF(pos)
    QtWidgets.QApplication.sendEvent(widget, QtGui.QMouseEvent(
        QtCore.QEvent.Type.MouseMove, local, QtCore.QPointF(widget.mapToGlobal(pos)),
        Qt.MouseButton.NoButton, Qt.MouseButton.LeftButton, Qt.KeyboardModifier.NoModifier))


def pasted(expected, timeout=5.0):
    """What a user pasting from the clipboard gets, once it is `expected` or
    `timeout` has passed: xclip takes the selection over in a child process
    after pyperclip's copy has returned, so a paste right after a copy may
    find no owner yet, or the text before."""
    deadline = time.monotonic() + timeout
    while True:
        done = subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                              text=True, timeout=10)
        if done.stdout == expected or time.monotonic() > deadline:
            return done.stdout
        time.sleep(0.02)


def counter():
    """A change handler that takes no arguments, as the toolbar's own do, and
    counts its calls. (A plain function: the bindings fit signal arguments to
    a function's parameters, not always to a callable object's.)"""

    def handler():
        handler.calls += 1

    handler.calls = 0
    return handler


def shown(qtbot, widget):
    qtbot.addWidget(widget)
    with qtbot.waitExposed(widget):
        widget.show()
    return widget


def slider_point(slider, value) -> QtCore.QPoint:
    """Where the handle's middle is when the slider shows `value` (None: now)."""
    option = QtWidgets.QStyleOptionSlider()
    slider.initStyleOption(option)
    style = slider.style()
    groove = style.subControlRect(QtWidgets.QStyle.ComplexControl.CC_Slider, option,
                                  QtWidgets.QStyle.SubControl.SC_SliderGroove, slider)
    handle = style.subControlRect(QtWidgets.QStyle.ComplexControl.CC_Slider, option,
                                  QtWidgets.QStyle.SubControl.SC_SliderHandle, slider)
    if value is None:
        return handle.center()
    offset = QtWidgets.QStyle.sliderPositionFromValue(slider.minimum(), slider.maximum(), value,
                                            groove.width() - handle.width())
    return QtCore.QPoint(groove.x() + offset + handle.width() // 2, handle.center().y())


def hover(plot, pos: QtCore.QPoint) -> None:
    """The pointer moved over `plot` to `pos` (the plot widget's
    coordinates), as a move event to its viewport: the X pointer stays where
    it is, so no later test finds it somewhere it did not put it."""
    local = QtCore.QPointF(pos - plot.viewport().pos())
    viewport = plot.viewport()
    QtWidgets.QApplication.sendEvent(viewport, QtGui.QMouseEvent(
        QtCore.QEvent.Type.MouseMove, local, QtCore.QPointF(viewport.mapToGlobal(local.toPoint())),
        Qt.MouseButton.NoButton, Qt.MouseButton.NoButton, Qt.KeyboardModifier.NoModifier))
