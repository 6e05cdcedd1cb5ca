"""The pace of the window's frame timer: the screen's frame rate while
something is new, a few ticks a second while nothing is.

A frame with nothing new (no item from the queue, no curve updated, no curve
under way over several frames) costs little, but sixty of them a second
still add up to a noticeable share of a core for a window nobody looks at.
After IDLE_FRAMES such frames in a row the timer ticks every IDLE_INTERVAL
only: enough for the status bar (the rates falling to zero, a producer that
stopped, a summary a thread finished). It goes back to the frame rate at
once when the queue's pipe has bytes to read (a socket notifier on it), when
the user does anything in the application (a key, the pointer, the wheel, a
click, a resize: watched by an event filter only while slowed down), when a
view action is toggled, or when a plot's view range changes.

New data alone is no reason to keep the frame rate: rows that change no
pixel draw nothing (presenters/stillness.py). Woken by the pipe, the timer
ticks once a frame later, and slows down again at once when that frame
drew nothing: a slow source's rows cost a tick each, not a quarter of a
second of ticks at the frame rate.
"""

import math

from ..qt_compat import QtCore, QtWidgets

# Frames in a row with nothing new after which the timer slows down.
IDLE_FRAMES = 15
# Seconds between two ticks while nothing is new.
IDLE_INTERVAL = 0.25

_Type = QtCore.QEvent.Type
# Events that wake a slowed-down timer, whichever widget of the application gets them.
WAKING_EVENTS = frozenset((
    _Type.MouseMove, _Type.MouseButtonPress, _Type.MouseButtonRelease,
    _Type.MouseButtonDblClick, _Type.Wheel, _Type.KeyPress, _Type.KeyRelease,
    _Type.ShortcutOverride, _Type.Enter, _Type.Leave, _Type.DragMove, _Type.Drop,
    _Type.TouchBegin, _Type.TouchUpdate,
))
# ... and these when a window gets them (a label that grows with its text
# resizes too, and must not wake a still window).
WINDOW_EVENTS = frozenset((_Type.Resize, _Type.Show, _Type.WindowStateChange))
READ = QtCore.QSocketNotifier.Type.Read


class FramePacer(QtCore.QObject):
    """Sets the pace of `timer` (a QTimer) from what each frame did
    (`frame_done`). `frame_interval` is the frame rate's interval in
    seconds. `data_fd` (optional) gives a file descriptor that is readable
    when new data waits, or None: asked each time the timer slows down, it
    wakes the timer through a socket notifier."""

    def __init__(self, timer: QtCore.QTimer, frame_interval: float, parent=None, data_fd=None):
        super().__init__(parent)
        self.timer = timer
        self.frame_ms = max(1, round(1000 * frame_interval))
        self.data_fd = data_fd
        self.idle = False      # ticking every IDLE_INTERVAL
        self.still_frames = 0  # frames in a row with nothing new
        self.wakes = 0         # times the timer went back to the frame rate
        self._notifier = None
        self._fd = None        # what the notifier watches
        self._filtering = False  # the event filter is installed (while idle, or awake for data)
        timer.setInterval(self.frame_ms)

    def frame_done(self, busy: bool) -> None:
        """After each tick: `busy` if the frame had anything new."""
        if busy:
            self.still_frames = 0
            self.wake()
            return
        self.still_frames += 1
        if not self.idle and self.still_frames >= IDLE_FRAMES:
            self._slow_down()

    def _slow_down(self) -> None:
        self.idle = True
        self.timer.setInterval(round(1000 * IDLE_INTERVAL))
        self._filter_events(True)
        self._watch(self.data_fd() if self.data_fd is not None else None)
        if self._notifier is not None:
            self._notifier.setEnabled(True)

    def _filter_events(self, on: bool) -> None:
        if on != self._filtering:
            self._filtering = on
            app = QtWidgets.QApplication.instance()
            (app.installEventFilter if on else app.removeEventFilter)(self)

    def _watch(self, fd) -> None:
        """A notifier on `fd` (None: none); the one on another descriptor goes."""
        if fd == self._fd:
            return
        if self._notifier is not None:
            self._notifier.setEnabled(False)
            self._notifier.activated.disconnect(self.wake_for_data)
            self._notifier.deleteLater()
            self._notifier = None
        self._fd = fd
        if fd is not None:
            self._notifier = QtCore.QSocketNotifier(fd, READ, self)
            self._notifier.setEnabled(False)
            self._notifier.activated.connect(self.wake_for_data)

    def wake(self, *_) -> None:
        """Back to the frame rate, the next tick one frame from now."""
        if not self._filtering:
            return  # awake, and not for one frame of data only
        self._filter_events(False)
        self.still_frames = 0
        self._to_frame_rate()

    def wake_for_data(self, *_) -> None:
        """Back to the frame rate for one frame: if it draws nothing, the
        timer slows down again after it. The user's events are still
        watched meanwhile: one of them wakes the timer for good."""
        if self.idle:
            self._to_frame_rate()
            self.still_frames = IDLE_FRAMES - 1

    def _to_frame_rate(self) -> None:
        if not self.idle:
            return
        self.idle = False
        self.wakes += 1
        if self._notifier is not None:
            self._notifier.setEnabled(False)
        if self.timer.isActive():
            self.timer.start(self.frame_ms)
        else:
            self.timer.setInterval(self.frame_ms)

    def stop(self) -> None:
        """For a window that closes: nothing watched any more."""
        self.wake()
        self._watch(None)

    def eventFilter(self, watched, event):
        kind = event.type()
        if kind in WAKING_EVENTS or (kind in WINDOW_EVENTS and watched.isWidgetType()
                                     and watched.isWindow()):
            self.wake()
        return False


def frame_interval(widget) -> float:
    """Seconds per frame of the screen the widget is on (30 to 144 Hz)."""
    screen = widget.screen() or QtWidgets.QApplication.primaryScreen()
    rate = screen.refreshRate() if screen is not None else 60.0
    if not rate or not math.isfinite(rate):
        rate = 60.0
    return 1.0 / min(144.0, max(30.0, rate))
