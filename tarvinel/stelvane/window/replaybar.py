"""The replay bar under the plots (only with --replay): a slider that shows
where the replay's cursor is in the file and seeks when dragged, a label with
the row, the X value there and the speed, and the replay's keys as window
actions (see controls.KEYS). The cursor itself is replay.py's.
"""

from ..model.replay import MAX
from ..qt_compat import QAction, QtCore, QtGui, QtWidgets, enum_int

HORIZONTAL = QtCore.Qt.Orientation.Horizontal
NO_FOCUS = QtCore.Qt.FocusPolicy.NoFocus

# The replay's keys: (text, key, tip, what it does to the bar).
ACTIONS = (
    ("Back", "Left", "Step the replay back by 1% of the rows (Left)",
     lambda bar: bar.replay.step(-1)),
    ("Forwards", "Right", "Step the replay forwards by 1% of the rows (Right)",
     lambda bar: bar.replay.step(1)),
    ("Slower", "[", "Halve the replay's speed ([)", lambda bar: bar.replay.faster(False)),
    ("Faster", "]", "Double the replay's speed (])", lambda bar: bar.replay.faster(True)),
    ("Start", "Home", "The replay to the first row (Home)", lambda bar: bar.replay.seek(0)),
    ("End", "End", "The replay to the newest row read (End)",
     lambda bar: bar.replay.seek(bar.replay.rows)),
)


class JumpingSliderStyle(QtWidgets.QProxyStyle):
    """The application's style, but the left button puts the handle where
    it is pressed on the track (and drags it on from there) instead of
    stepping a page: the handle of a playing replay moves, and a press
    aimed at it may land beside it."""

    def styleHint(self, hint, option=None, widget=None, returnData=None):
        if hint == QtWidgets.QStyle.StyleHint.SH_Slider_AbsoluteSetButtons:
            return enum_int(QtCore.Qt.MouseButton.LeftButton)
        return super().styleHint(hint, option, widget, returnData)


def speed_text(speed: float) -> str:
    return "max" if speed == MAX else f"{speed:g}×"


class ReplayBar(QtWidgets.QWidget):
    """The bar of `replay` (a replay.Replay) in `window`, which gets its
    actions. `on_seek()` is called after the cursor was moved by hand, for
    the window to draw the new position at once."""

    def __init__(self, window: QtWidgets.QWidget, replay, on_seek):
        super().__init__(window)
        self.setObjectName("replay")
        self.replay, self.on_seek = replay, on_seek
        self.slider = QtWidgets.QSlider(HORIZONTAL, self)
        self.slider.setFocusPolicy(NO_FOCUS)  # the keys stay with the window's actions
        self.slider.setRange(0, 0)
        self._slider_style = JumpingSliderStyle()  # over the application's style
        self.slider.setStyle(self._slider_style)
        self.label = QtWidgets.QLabel(self)
        layout = QtWidgets.QHBoxLayout(self)
        layout.setContentsMargins(0, 2, 0, 2)
        layout.addWidget(self.slider, 1)
        layout.addWidget(self.label)
        self.slider.valueChanged.connect(self._slid)
        self.slider.sliderPressed.connect(lambda: replay.hold(True))
        self.slider.sliderReleased.connect(self._released)
        self.key_actions = {text: self._action(window, text, key, tip, act)
                        for text, key, tip, act in ACTIONS}
        self._ended_told = False

    def _action(self, window, text, key, tip, act) -> QAction:
        action = QAction(text, window)
        action.setShortcut(QtGui.QKeySequence(key))
        action.setToolTip(tip)
        action.triggered.connect(lambda: self._moved(act))
        window.addAction(action)
        return action

    def _moved(self, act) -> None:
        act(self)
        self.refresh()
        self.on_seek()

    def _slid(self, value: int) -> None:
        """The slider moved by the user (dragged, clicked beside the handle)."""
        if value != self.replay.position:
            self.replay.seek(value)
            self.refresh()
            self.on_seek()

    def _released(self) -> None:
        self.replay.hold(False)
        self.refresh()

    def refresh(self) -> None:
        """Shows the cursor on the slider and in the label (each frame)."""
        replay, slider = self.replay, self.slider
        if not slider.isSliderDown():
            slider.blockSignals(True)  # not the user's seek
            rows = replay.rows
            slider.setRange(0, rows)
            slider.setValue(replay.position)
            slider.blockSignals(False)
            slider.setPageStep(max(1, rows // 100))
        label = self.label
        label.setText(self.text())
        # It keeps the widest room it needed: the slider beside it does not
        # change its length with every digit.
        label.setMinimumWidth(max(label.minimumWidth(), label.sizeHint().width()))

    def text(self) -> str:
        replay = self.replay
        parts = [f"run {replay.run} · row {replay.position:,} of {replay.rows:,}"]
        _, x_text = replay.x_at_cursor()
        if x_text:
            parts.append(f"{replay.pace_column} {x_text}")
        parts.append(speed_text(replay.speed))
        if replay.paced_by is None and replay.speed != MAX:
            parts.append(f"{replay.rate:g} rows/s")
        if replay.paused:
            parts.append("paused")
        if replay.ended:
            parts.append("ended")
        return " · ".join(parts)

    def end_news(self) -> str | None:
        """"replay ended: ..." the first frame the replay has ended (again), else None."""
        if self.replay.ended == self._ended_told:
            return None
        self._ended_told = self.replay.ended
        return f"replay ended: row {self.replay.position:,} of {self.replay.rows:,}" \
            if self.replay.ended else None
