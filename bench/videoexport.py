"""Benchmark: a replay rendered to video, beside the same replay on screen.

Recordings of 10 and 60 seconds (100 rows a second: a time and three
curves, drawn with their symbols while a curve has at most 1,000 points) are
rendered as `stelvane FILE --replay 1 --export-video out.mp4 --video-size
1280x720` does, at 30 frames/s, in this process. Printed for each: the
seconds spent per second of video (under 1: faster than real time), the
whole command's seconds (start-up and reading the file included) and where a
frame's time went, in milliseconds per frame:

    replay step   the replay's cursor moved on (MainWindow.advance_replay)
    present       the presenters handing the plots their data (setData)
    paint         the frame made (WindowFrames.next): the window paints what
                  changed and its picture is copied into the frame's image, or
                  (where its own painting cannot be read) it is painted whole
                  into it; the frame handed over is a view of that image
    hand-over     the frame given to the encoder (VideoWriter.add: waiting
                  while the encoder is behind)
    ffmpeg        ffmpeg's own processor time (it runs in its own process, on
                  the other core)

Then the replay on screen: the window at 1280x720 plays the same file at a
speed that shows it in 10 seconds (the curves pass through the same sizes as
in the video), and the live plot's paints per second are counted.

    python bench/videoexport.py [--seconds 10,60] [--screen-seconds 10]
"""
import argparse
import math
import os
import pathlib
import tempfile
import time

import numpy as np

from harness.measuring import LOAD_NOTE
from harness.qtapp import QtCore, application
from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.formats import videoencode
from tarvinel.stelvane.window import videoexport

RATE = 100     # rows a second of the recording
FPS = 30
SIZE = (1280, 720)
PARTS = ("replay step", "present", "paint", "hand-over")


def loop_until(done, seconds: float) -> bool:
    """Runs the event loop, as the application's own would run, until done()
    or `seconds` passed (a loop that polled would slow the window it measures)."""
    loop, end = QtCore.QEventLoop(), time.monotonic() + seconds
    look = QtCore.QTimer()
    look.timeout.connect(lambda: (done() or time.monotonic() > end) and loop.quit())
    look.start(20)
    if not done():
        loop.exec()
    look.stop()
    return done()


def made_recording(folder, seconds: int) -> pathlib.Path:
    """A time column and three smooth curves, RATE rows a second."""
    path = pathlib.Path(folder) / f"replay{seconds}s.csv"
    t = np.arange(seconds * RATE + 1) / RATE
    columns = np.column_stack([t, np.sin(t), np.cos(0.7 * t), 0.5 * np.sin(1.3 * t)])
    np.savetxt(path, columns, fmt=["%.2f", "%.5f", "%.5f", "%.5f"], delimiter=",",
               header="t,a,b,c", comments="")
    return path


class Parts:
    """Seconds spent in a few methods, each wrapped on its instance."""

    def __init__(self):
        self.seconds = dict.fromkeys(PARTS, 0.0)

    def wrap(self, owner, attribute: str, part: str) -> None:
        function = getattr(owner, attribute)

        def timed(*args, **kwargs):
            start = time.perf_counter()
            try:
                return function(*args, **kwargs)
            finally:
                self.seconds[part] += time.perf_counter() - start
        setattr(owner, attribute, timed)


def children_cpu() -> float:
    """Processor seconds of the ended child processes this one waited for."""
    times = os.times()
    return times.children_user + times.children_system


def timed_writer(parts: Parts, ffmpeg: dict):
    """VideoWriter as the recording makes it, its add timed, and its ffmpeg's
    processor time (the reader of the file has ended before it starts)."""
    made = videoencode.VideoWriter

    def writer(*args, **kwargs):
        before = children_cpu()
        writer = made(*args, **kwargs)
        parts.wrap(writer, "add", "hand-over")
        close = writer.close

        def closing():
            close()
            ffmpeg["cpu"] = children_cpu() - before
        writer.close = closing
        return writer
    return writer


def timed_frames(parts: Parts):
    """WindowFrames whose frames are timed."""
    made = videoexport.WindowFrames

    def frames(window, *args):
        frames = made(window, *args)
        parts.wrap(frames, "next", "paint")
        return frames
    return frames


def render(path: pathlib.Path, out: pathlib.Path) -> dict:
    """The video of `path` rendered as the command does, its figures."""
    from tarvinel.stelvane.app import create_app

    parts, ffmpeg = Parts(), {}
    start = time.perf_counter()
    made_frames = videoexport.WindowFrames
    videoexport.VideoWriter = timed_writer(parts, ffmpeg)
    videoexport.WindowFrames = timed_frames(parts)
    try:
        window = create_app([str(path), "--replay", "1", "--export-video", str(out),
                             "--video-size", "{}x{}".format(*SIZE), "--fresh"]).window
        recording = videoexport.VideoRecording(window, str(out), FPS, SIZE)
        parts.wrap(window, "advance_replay", "replay step")
        parts.wrap(window.presenter, "present", "present")
        loop_until(lambda: recording.writer is not None or recording.finished, 60)
        rendering, cpu = time.perf_counter(), time.process_time()
        loop_until(lambda: recording.finished, 600)
    finally:
        videoexport.VideoWriter = videoencode.VideoWriter
        videoexport.WindowFrames = made_frames
    end = time.perf_counter()
    assert not recording.failures, recording.failures
    frames = recording.writer.frames
    return {"frames": frames, "seconds": end - rendering, "whole": end - start,
            "cpu": time.process_time() - cpu, "ffmpeg": ffmpeg["cpu"],
            "parts": {part: 1e3 * s / frames for part, s in parts.seconds.items()}}


def on_screen(path: pathlib.Path, seconds: int, screen_seconds: float) -> float:
    """Frames per second the live plot paints while the replay plays."""
    from tarvinel.stelvane.app import create_app

    speed = seconds / screen_seconds
    window = create_app([str(path), "--replay", f"{speed:g}", "--fresh"]).window
    window.resize(*SIZE)
    replay, painted = window.replay_bar.replay, []
    window.live_plot.on_painted = lambda: painted.append(time.perf_counter())
    loop_until(lambda: replay.position > 0, 60)
    loop_until(lambda: replay.ended, 10 * screen_seconds + 60)
    window.close()
    return (len(painted) - 1) / (painted[-1] - painted[0])


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", default="10,60",
                        help="the recordings' lengths in seconds (default %(default)s)")
    parser.add_argument("--screen-seconds", type=float, default=10.0,
                        help="how long each replay plays on screen (default %(default)g)")
    options = parser.parse_args(argv)
    application()
    print(f"{qt_compat.API}, {os.cpu_count()} cores, {FPS} frames/s at {SIZE[0]}x{SIZE[1]}, "
          f"the parts in ms per frame {LOAD_NOTE}", flush=True)
    print(f"{'replay':>7} {'frames':>6} {'s/video s':>9} {'whole s':>7} {'screen fps':>10}  "
          + " ".join(f"{part:>11}" for part in PARTS) + "  cpu ms: window ffmpeg  load")
    with tempfile.TemporaryDirectory(prefix="stelvane-video-") as folder:
        for seconds in (int(s) for s in options.seconds.split(",")):
            path = made_recording(folder, seconds)
            video = render(path, pathlib.Path(folder) / f"replay{seconds}s.mp4")
            fps = on_screen(path, seconds, options.screen_seconds)
            frames = video["frames"]
            assert frames == math.ceil(seconds * FPS), frames
            print(f"{seconds:>6}s {frames:>6} {video['seconds'] / seconds:>9.2f} "
                  f"{video['whole']:>7.1f} {fps:>10.1f}  "
                  + " ".join(f"{video['parts'][part]:>11.1f}" for part in PARTS)
                  + f"  {1e3 * video['cpu'] / frames:>14.1f} {1e3 * video['ffmpeg'] / frames:>6.1f}"
                  f"  {os.getloadavg()[0]:.1f}", flush=True)


if __name__ == "__main__":
    main()
