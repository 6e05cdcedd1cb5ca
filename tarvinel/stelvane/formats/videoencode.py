"""Writing a video file frame by frame: MP4 (H.264) or GIF, through the
ffmpeg that imageio-ffmpeg ships in its wheel (the [video] extra). A frame is
a numpy array of height × width × 4 bytes (FRAME_PIXELS). ffmpeg runs in a
process of its own and takes the frames through a pipe, written by a thread
(framepipe.py): it encodes on the other core while the window draws the next
frame.

This module imports no Qt.
"""

import argparse
from dataclasses import dataclass
import os
import sys

import numpy as np

from .atomic import ExportError
from .framepipe import FramePipe, PipeFailed

# A frame's bytes: Qt's RGB32, one 32-bit word 0xffRRGGBB a pixel, in the
# machine's byte order; ffmpeg turns it into the video's pixel format.
FRAME_PIXELS = "bgr0" if sys.byteorder == "little" else "0rgb"
EXTRA_HINT = "--export-video needs the [video] extra: pip install 'tarvinel-stelvane[video]'"
# Frames the window may have handed over and not yet seen written, plus the
# one it draws into: enough for the pipe to stay full while the window draws.
FRAME_BUFFERS = 4


@dataclass(frozen=True)
class VideoFormat:
    """How ffmpeg writes one kind of file: codec, pixel format, options."""
    codec: str
    pixels: str
    options: tuple[str, ...] = ()
    even_size: bool = False  # 4:2:0 chroma: the width and height must be even


VIDEO_FORMATS = {
    # x264's fastest preset costs under half the processor time of
    # "veryfast" on the window's frames (flat colours, thin lines); at CRF 26
    # it keeps them as well as "veryfast" at CRF 20 did (PSNR 45.5 dB against
    # 44.2 dB), for a file about two and a half times as large.
    ".mp4": VideoFormat("libx264", "yuv420p",
                        ("-preset", "ultrafast", "-crf", "26", "-movflags", "+faststart"),
                        even_size=True),
    # A palette of its own for each frame, made as the frame passes: nothing
    # waits for the whole video.
    ".gif": VideoFormat("gif", "pal8", (
        "-vf", "split[a][b];[a]palettegen=stats_mode=single[p];[b][p]paletteuse=new=1")),
}


def video_format(path: str) -> VideoFormat:
    """The format by the file name's suffix; ExportError for any other."""
    suffix = os.path.splitext(path)[1].lower()
    if suffix not in VIDEO_FORMATS:
        raise ExportError(f"could not save {path}: name it {' or '.join(VIDEO_FORMATS)}")
    return VIDEO_FORMATS[suffix]


def check_size(path: str, size: tuple[int, int]) -> None:
    """ExportError for a size the file's format cannot take."""
    if video_format(path).even_size and (size[0] % 2 or size[1] % 2):
        raise ExportError(f"{path}: an MP4 video's width and height are even, "
                          f"not {size[0]}x{size[1]}")


def fitting_size(path: str, size: tuple[int, int]) -> tuple[int, int]:
    """`size` made even where the file's format needs it (one pixel less)."""
    if video_format(path).even_size:
        return size[0] - size[0] % 2, size[1] - size[1] % 2
    return size


def encoder_library():
    """imageio_ffmpeg, or ExportError naming the extra that brings it."""
    try:
        import imageio_ffmpeg
    except ImportError:
        raise ExportError(EXTRA_HINT) from None
    return imageio_ffmpeg


def ffmpeg_command(library, path: str, size: tuple[int, int], fps: float) -> list[str]:
    """ffmpeg reading raw frames on its standard input and writing `path`."""
    kind = video_format(path)
    try:
        program = library.get_ffmpeg_exe()
    except RuntimeError as error:
        raise ExportError(f"could not write {path}: {error}") from None
    return [program, "-y", "-v", "error", "-f", "rawvideo", "-pix_fmt", FRAME_PIXELS,
            "-s", f"{size[0]}x{size[1]}", "-r", repr(float(fps)), "-i", "-", "-an",
            "-c:v", kind.codec, "-pix_fmt", kind.pixels, *kind.options, path]


class VideoWriter:
    """An open video file at `path`, `size` (width, height) pixels and `fps`
    frames per second; `add(frame)` for each frame, then `close()`.

    A frame is not copied: it must stay unchanged until FRAME_BUFFERS - 1
    more frames have been added (the caller draws into FRAME_BUFFERS
    buffers in turn)."""

    def __init__(self, path: str, size: tuple[int, int], fps: float):
        check_size(path, size)
        library = encoder_library()
        directory, name = os.path.split(path)
        try:
            if directory:
                os.makedirs(directory, exist_ok=True)
        except OSError as error:
            raise ExportError(f"could not write {path}: {error.strerror}") from None
        self.path, self.size, self.fps, self.frames = path, size, fps, 0
        self.buffers = FRAME_BUFFERS
        # Written under another name (the suffix tells ffmpeg the format) and
        # renamed when whole: a failed video leaves no partial file as `path`.
        self.partial = os.path.join(directory, f".{name}.partial{os.path.splitext(name)[1]}")
        try:
            self._pipe = FramePipe(ffmpeg_command(library, self.partial, size, fps), self.buffers)
        except PipeFailed as error:
            raise ExportError(f"could not write {path}: {error}") from None
        self.process = self._pipe.process

    def add(self, frame) -> None:
        if frame.shape != (self.size[1], self.size[0], 4):
            raise ExportError(f"a frame of {frame.shape[1]}x{frame.shape[0]} pixels "
                              f"in a video of {self.size[0]}x{self.size[1]}")
        try:
            self._pipe.put(np.ascontiguousarray(frame))  # a view of padded lines is copied
        except PipeFailed as error:
            self.abort()
            raise ExportError(f"could not write {self.path}: {error}") from None
        self.frames += 1

    def finish_writing(self) -> None:
        """Waits until every frame added is in ffmpeg's hands."""
        self._pipe.finish_writing()

    def close(self) -> None:
        """Finishes the file (ffmpeg writes its index) and gives it its name."""
        try:
            self._pipe.close()
            os.replace(self.partial, self.path)
        except (OSError, PipeFailed) as error:
            self.abort()
            raise ExportError(f"could not write {self.path}: {error}") from None

    def abort(self) -> None:
        """Stops ffmpeg and removes what it wrote."""
        self._pipe.kill()
        try:
            os.remove(self.partial)
        except OSError:
            pass


# The largest side of a video: 8K's width (a frame is painted in memory whole).
LARGEST_VIDEO_SIDE = 7680


def video_size(text: str) -> tuple[int, int]:
    """--video-size's WIDTHxHEIGHT."""
    width, x, height = text.lower().partition("x")
    if not (x and width.strip().isdigit() and height.strip().isdigit()
            and 0 < int(width) <= LARGEST_VIDEO_SIDE and 0 < int(height) <= LARGEST_VIDEO_SIDE):
        raise argparse.ArgumentTypeError(
            f"WIDTHxHEIGHT in pixels, each from 1 to {LARGEST_VIDEO_SIDE} (e.g. 1280x720), "
            f"not {text!r}")
    return int(width), int(height)
