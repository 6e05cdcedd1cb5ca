"""Frames handed to an encoder process by a writer thread (framepipe.py):
real child processes stand for the encoder, reading their standard input."""

import re
import sys
import time

import numpy as np
import pytest

from tarvinel.stelvane.formats.framepipe import FramePipe, PipeFailed

FRAME_BYTES = 256 * 1024  # several times a pipe's buffer: a write waits for the reader


def encoder(script: str) -> list[str]:
    return [sys.executable, "-c", "import sys, time\n" + script]


def copier(out) -> list[str]:
    """A reader that copies what it is given to `out`, slowly at first."""
    return encoder(f"time.sleep(0.2)\nopen({str(out)!r}, 'wb').write(sys.stdin.buffer.read())")


@pytest.mark.parametrize("buffers", [2, 4])
def test_every_frame_arrives_whole_and_in_order_from_reused_buffers(tmp_path, buffers):
    out = tmp_path / "frames.raw"
    pipe = FramePipe(copier(out), buffers)
    ring = [np.empty(FRAME_BYTES, np.uint8) for _ in range(buffers)]
    for k in range(12):
        frame = ring[k % buffers]
        frame[:] = k  # drawn into again: the frame written from it buffers - 1 frames ago
        pipe.put(frame)
    pipe.close()
    written = np.frombuffer(out.read_bytes(), np.uint8).reshape(-1, FRAME_BYTES)
    assert written.shape[0] == 12
    assert (written == np.arange(12, dtype=np.uint8)[:, None]).all()


@pytest.mark.parametrize("script, said", [
    ("sys.stdin.buffer.read(); sys.stderr.write('muxer: no space left\\n'); sys.exit(1)",
     "muxer: no space left"),
    ("sys.stdin.buffer.read(); sys.exit(3)", "the encoder failed (exit code 3)"),
])
def test_an_encoder_that_fails_at_the_end_fails_the_close(script, said):
    pipe = FramePipe(encoder(script), 2)
    pipe.put(np.zeros(FRAME_BYTES, np.uint8))
    with pytest.raises(PipeFailed, match=re.escape(said)):
        pipe.close()


def test_an_encoder_that_stops_reading_fails_the_next_frames_without_a_hang():
    pipe = FramePipe(encoder("sys.stderr.write('bad option\\n')"), 3)
    start = time.monotonic()
    with pytest.raises(PipeFailed, match="bad option"):
        for _ in range(20):
            pipe.put(np.zeros(FRAME_BYTES, np.uint8))
    assert time.monotonic() - start < 5
    pipe.kill()
    assert pipe.process.returncode is not None


def test_kill_stops_an_encoder_that_reads_nothing():
    pipe = FramePipe(encoder("time.sleep(60)"), 2)
    pipe.put(np.zeros(FRAME_BYTES, np.uint8))  # waits in the writer: the pipe is full
    start = time.monotonic()
    pipe.kill()
    assert time.monotonic() - start < 5
    assert pipe.process.returncode is not None and not pipe._thread.is_alive()


def test_a_missing_encoder_program_is_a_pipe_failure(tmp_path):
    with pytest.raises(PipeFailed):
        FramePipe([str(tmp_path / "no-such-ffmpeg")], 2)
