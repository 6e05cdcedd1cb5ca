"""Frames handed to an encoder process through its standard input, written
by a thread of their own.

The thread writes while the caller draws the next frame: drawing and
encoding overlap (the encoder runs on another core). A frame is handed over
as the caller's own buffer, not copied: the caller owns `buffers` frame
buffers and uses them in turn; `put` returns only once the buffer handed
`buffers` frames before is written, so the caller may draw into it again.
Nothing is dropped: while the encoder is behind, `put` waits.

This module imports no Qt.
"""

import os
import queue
import subprocess
import tempfile
import threading

# How long `put` waits at a time before it looks again whether the writer
# has failed (the caller's signal handlers run in between).
WAIT_STEP = 0.1
# How long a finished encoder may take to write the end of its file.
FINISH_TIMEOUT = 120.0
_DONE = object()  # what tells the writer thread that no frame follows


def detached() -> dict:
    """Popen options that keep the terminal's Ctrl+C from the encoder: the
    program stops it itself, after removing what it wrote."""
    if os.name == "posix":
        return {"start_new_session": True}
    return {"creationflags": getattr(subprocess, "CREATE_NEW_PROCESS_GROUP", 0)}


class PipeFailed(Exception):
    """The encoder stopped taking frames or failed; the message says why."""


class FramePipe:
    """The encoder process `command`, its standard input fed with the frames
    `put` hands over, in order, by a writer thread."""

    def __init__(self, command: list[str], buffers: int):
        self.buffers = buffers
        self._errors = tempfile.TemporaryFile()
        try:
            self.process = subprocess.Popen(command, stdin=subprocess.PIPE,
                                            stdout=subprocess.DEVNULL, stderr=self._errors,
                                            bufsize=0, **detached())
        except OSError as error:
            self._errors.close()
            raise PipeFailed(error.strerror or str(error)) from None
        # A free buffer for every slot but the one being drawn into.
        self._free = threading.Semaphore(buffers - 1)
        self._frames: queue.SimpleQueue = queue.SimpleQueue()
        self.failure: str | None = None
        self._thread = threading.Thread(target=self._write_frames, name="frame writer",
                                        daemon=True)
        self._thread.start()

    def put(self, frame) -> None:
        """Hands `frame` (a buffer) to the writer; PipeFailed once it failed."""
        while not self._free.acquire(timeout=WAIT_STEP):
            self._raise_failure()
        self._raise_failure()
        self._frames.put(memoryview(frame).cast("B"))

    def _raise_failure(self) -> None:
        if self.failure is not None:
            raise PipeFailed(self.failure)

    def _write_frames(self) -> None:
        """The writer thread: each frame written whole, its buffer then free.
        After a failure the frames are let go unwritten, so nobody waits."""
        stdin = self.process.stdin
        while (frame := self._frames.get()) is not _DONE:
            try:
                if self.failure is None:
                    _write_all(stdin, frame)
            except (OSError, ValueError) as error:
                self.failure = self._encoder_said() or f"the encoder stopped: {error}"
            finally:
                self._free.release()

    def finish_writing(self) -> None:
        """Waits until every frame handed over is written."""
        if self._thread.is_alive():
            self._frames.put(_DONE)
            self._thread.join()

    def close(self) -> None:
        """Writes what is left, tells the encoder the input has ended and waits
        for it to finish its file; PipeFailed if it did not."""
        self.finish_writing()
        self._raise_failure()
        try:
            self.process.stdin.close()
            code = self.process.wait(FINISH_TIMEOUT)
        except OSError as error:
            self.failure = self._encoder_said() or str(error)
        except subprocess.TimeoutExpired:
            self.failure = f"the encoder did not finish within {FINISH_TIMEOUT:g} s"
        else:
            if code != 0:
                self.failure = self._encoder_said() or f"the encoder failed (exit code {code})"
        self._errors.close()
        self._raise_failure()

    def kill(self) -> None:
        """Stops the encoder at once; the frames not written are let go."""
        if self.process.poll() is None:
            self.process.kill()
        self.finish_writing()  # the writer fails on the closed pipe, or is done
        for stream in (self.process.stdin, self._errors):
            try:
                stream.close()
            except OSError:
                pass
        self.process.wait()

    def _encoder_said(self) -> str:
        """The last line the encoder wrote on its error output, if any."""
        try:
            self._errors.seek(0)
            lines = self._errors.read().decode(errors="replace").strip().splitlines()
        except (OSError, ValueError):
            return ""
        return lines[-1].strip() if lines else ""


def _write_all(stream, frame: memoryview) -> None:
    """Writes all of `frame` (a write into a pipe may take only part of it)."""
    while len(frame):
        frame = frame[stream.write(frame):]
