"""--export-video: a replay rendered to a video file, frame by frame in step
with the replay's clock, as fast as the machine draws and encodes, not in
real time.

The file is read whole first (the replay's cursor waits at its start, its
clock stopped). Then the window's own frame timer stops and each frame moves
the replay's clock on by 1/fps seconds, draws the window as a frame does,
and hands the window's picture (both plots, legends, axes, the replay bar)
to the encoder. Frame k shows the replay k/fps seconds in (k from 1): a
replay that lasts D seconds of its clock makes ceil(D × fps) frames, the last
of them its end, and the window closes.
"""

import sys

from ..formats.atomic import ExportError
from ..formats.videoencode import VideoWriter, fitting_size
from ..qt_compat import QtCore, QtGui, backing_image, image_array

RGB32 = QtGui.QImage.Format.Format_RGB32  # what the window paints fastest into
# Images laid out as RGB32 is (an opaque window's alpha is 0xff, which ffmpeg ignores).
RGB32_BYTES = {RGB32, QtGui.QImage.Format.Format_ARGB32,
               QtGui.QImage.Format.Format_ARGB32_Premultiplied}
UPDATE_REQUEST = QtCore.QEvent.Type.UpdateRequest
SMOOTH = QtGui.QPainter.RenderHint.SmoothPixmapTransform
# How often it is looked whether the file has been read whole.
LOADING_CHECK_MS = 20


class FrameClock:
    """The replay's clock while a video is made: the time of the frame drawn."""

    def __init__(self):
        self.now = 0.0

    def __call__(self) -> float:
        return self.now


class WindowFrames:
    """The window's picture (both plots, legends, axes, the replay bar) as
    frames of `size` (width, height) in `buffers` images used in turn. A
    frame is a view on its image, unchanged until `buffers` - 1 more frames
    are made. A window a pixel larger than `size`, as an MP4's even size
    leaves it, loses its last column or row; one that could not take the
    size is grabbed and scaled.

    Where the window's own painting can be read (`own_painting`), the
    window paints what changed since the last frame, as on screen, and the
    frame is a copy of what it painted; else each frame is painted whole."""

    def __init__(self, window, size: tuple[int, int], buffers: int):
        self.window, self.size = window, size
        self.images = [QtGui.QImage(size[0], size[1], RGB32) for _ in range(buffers)]
        self.made = 0
        self.own_painting = self._own_painting() is not None
        if self.own_painting:
            window.repaint()  # all of it once; from here on, what changed

    def _fits(self) -> bool:
        window = self.window
        return (0 <= window.width() - self.size[0] <= 1
                and 0 <= window.height() - self.size[1] <= 1)

    def _own_painting(self) -> "QtGui.QImage | None":
        """The image the window paints itself into, where a frame can be cut from it."""
        painted = backing_image(self.window) if self._fits() else None
        if (painted is None or painted.format() not in RGB32_BYTES
                or painted.devicePixelRatio() != 1 or painted.width() < self.size[0]
                or painted.height() < self.size[1]):
            return None
        return painted

    def next(self):
        window, image = self.window, self.images[self.made % len(self.images)]
        self.made += 1
        painted = self._own_painting() if self.own_painting else None
        if painted is not None:
            # The window paints what changed now, not at its next update.
            QtCore.QCoreApplication.sendEvent(window, QtCore.QEvent(UPDATE_REQUEST))
            width, height = self.size
            image_array(image, writable=True)[:] = image_array(painted)[:height, :width]
        elif self._fits():
            window.render(image)
        else:
            painter = QtGui.QPainter(image)
            painter.setRenderHint(SMOOTH)
            painter.drawImage(QtCore.QRect(0, 0, *self.size), window.grab().toImage())
            painter.end()
        return image_array(image)


class OwnPaintingStopped(QtCore.QObject):
    """Keeps the window from painting itself while it is recorded with each
    frame painted whole into the video's image: the window, off screen, would
    paint everything that changed a second time into its own backing store
    at the next turn of the event loop. Its requests for that are dropped."""

    def eventFilter(self, watched, event) -> bool:
        return event.type() == UPDATE_REQUEST

    def install(self, window) -> None:
        # Qt 5 sends the request to the window's widget, Qt 6 to its QWindow.
        for target in (window, window.windowHandle()):
            if target is not None:
                target.installEventFilter(self)


NOT_READ = "the file could not be read to its end (the problems say why)"


def when_read_whole(window, then) -> QtCore.QTimer:
    """Calls `then(failure)` once the producer's process has gone and nothing
    waits in the queue: every row it read is in the data set. `failure` is
    None when the source ended at the end of the file, else NOT_READ (the
    producer stopped before it: nothing more will come)."""
    timer = QtCore.QTimer(window)
    watch, queue = window.watch, window.intake.queue

    def look():
        if watch.gone and queue.empty():
            timer.stop()
            then(None if watch.source_ended is not None else NOT_READ)

    timer.timeout.connect(look)
    timer.start(LOADING_CHECK_MS)
    return timer


def show_instant(window, at, then) -> None:
    """--at: once the file is read, the replay paused at the instant `at`
    (an options.At) and drawn; then `then(failure)`, failure None or a text."""
    replay = window.replay_bar.replay

    def show(failure):
        if failure:
            then(failure)
            return
        window.tick()  # the pace column is the X the plot shows
        if not replay.seek_x(at.value, at.after_start):
            then(f"--at {at.text}: the replay has no X column that rises to seek by")
            return
        replay.set_paused(True)
        window.tick()
        then(None)

    when_read_whole(window, show)


class VideoRecording:
    """Renders `window`'s replay into `path` at `fps` frames per second and
    `size` (width, height; None: the window's), then closes the window.
    `failures` gets the ExportError text if the video could not be written."""

    def __init__(self, window, path: str, fps: float, size=None):
        self.window, self.path, self.fps = window, path, fps
        self.replay = window.replay_bar.replay
        self.clock = FrameClock()
        self.replay.clock = self.clock
        if size is not None:
            window.resize(*size)
        self.size = size or fitting_size(path, (window.width(), window.height()))
        self.frames: WindowFrames | None = None
        self.writer: VideoWriter | None = None
        self.own_painting = OwnPaintingStopped(window)
        self.finished = False
        self.failures: list[str] = []
        self.timer = QtCore.QTimer(window)  # a frame at each turn of the event loop
        self.timer.timeout.connect(self._frame)
        when_read_whole(window, self._start)

    def _start(self, failure: str | None) -> None:
        if failure:
            self._finish(failure)
            return
        self.window.timer.stop()  # from here on the recording draws the frames
        try:
            self.writer = VideoWriter(self.path, self.size, self.fps)
        except ExportError as error:
            self._finish(str(error))
            return
        self.frames = WindowFrames(self.window, self.size, self.writer.buffers)
        if not self.frames.own_painting:
            self.own_painting.install(self.window)
        self.timer.start(0)

    def _frame(self) -> None:
        """One frame of the video: the replay one frame's time further on. A
        fault of the program's own stops the recording (its clock would
        stand still, each frame failing again) and goes on to be reported."""
        self.clock.now = (self.writer.frames + 1) / self.fps
        try:
            self.window.tick()
            self.writer.add(self.frames.next())
        except ExportError as error:
            self._finish(str(error))
            return
        except Exception as error:
            self._finish(f"a frame could not be made: {error!r}")
            raise
        if self.replay.ended:
            self._finish(None)

    def _finish(self, failure: str | None) -> None:
        self.timer.stop()
        self.finished = True
        if self.writer is not None and failure:
            self.writer.abort()  # no video under its name: it would end early
        elif self.writer is not None:
            try:
                self.writer.close()
            except ExportError as error:
                failure = str(error)
        if failure:
            self.failures.append(failure)
        self.window.close()

    def report(self) -> list[str]:
        """Says on the terminal what was written; returns the failures. A
        recording the window's closing cut short (Ctrl+C) leaves no file."""
        if not self.finished:
            if self.writer is not None:
                self.writer.abort()
            self.failures.append(f"{self.path}: stopped before the replay's end")
        if self.failures:
            print(f"video failed: {self.failures[0]}", file=sys.stderr)
        else:
            frames = self.writer.frames
            print(f"video: {self.path} ({frames} frames, {frames / self.fps:g} s, "
                  f"{self.size[0]}x{self.size[1]})")
        return self.failures
