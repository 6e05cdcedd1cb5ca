"""The producer process: the process that runs a source (see sources/) and
writes its commands into the queue, and the window's handle on it.

    ProducerProcess   starts the process, reads its status messages, stops it
    run_source        the body of the process: a source, its Feed and Status

This module imports no Qt: the producer process runs it.
"""

import contextlib
import os
import runpy
import signal
import sys
import traceback

from .. import sources
from ..formats.markers import MOST_MARKERS
from .feed import Feed, FeedClosed
from . import SourceError
from .instrument import InstrumentSource, ProducerOptions
from .mistakes import explained
from .status import Status

# The folder of the sources: their frames in a producer script's traceback
# are ours, left out so that it begins at the user's code.
_SOURCES_FOLDER = os.path.dirname(sources.__file__)


def run_source(source, queue, stop, status_connection, pattern=None, trace_pattern=None) -> None:
    """Body of the producer process: runs `source` until it ends or the window
    closes, then tells the window why it ended (after every row was taken)."""
    # Whatever the window has not read when it closes is thrown away; a source
    # that ends by itself waits below until the window has taken everything.
    queue.cancel_join_thread()
    status = Status(status_connection)
    feed = Feed(queue, stop, pattern=pattern, trace_pattern=trace_pattern)
    feed.tell_marker = marker_teller(status)
    try:
        reason = source.run(feed, status, stop)
    except FeedClosed:
        reason = None
    except SystemExit as error:  # sys.exit() in a script: an end like returning
        reason = f"{source.describe} exited ({error.code})"
    except (OSError, SourceError) as error:
        if stop.poll():
            reason = None
        else:
            text = explained(error) if isinstance(error, OSError) else str(error)
            status.problem(f"{source.describe}: {text}")
            reason = f"{source.describe}: {text}"
    except Exception as error:
        status.send("traceback", _traceback_text(error))
        reason = f"{source.describe} raised {type(error).__name__}: {error}"
    if reason is not None and feed.drain():
        status.ended(reason)
    status.close()


def marker_teller(status):
    """What tells the window a source's markers: the first MOST_MARKERS of
    them, then once that the rest are passed over (a file of nothing but
    markers would otherwise keep the status pipe busy)."""
    told = 0

    def tell(marker) -> None:
        nonlocal told
        told += 1
        if told <= MOST_MARKERS:
            status.send("marker", marker)
        elif told == MOST_MARKERS + 1:
            status.problem(f"more than {MOST_MARKERS:,} markers: the rest are passed over")
    return tell


def _traceback_text(error: BaseException) -> str:
    """The traceback from the user's code on: the frames of this module, of
    the sources and of runpy are left out."""
    tb = error.__traceback__
    while tb is not None and _is_ours(tb.tb_frame.f_code.co_filename):
        tb = tb.tb_next
    return "".join(traceback.format_exception(type(error), error, tb))


def _is_ours(filename: str) -> bool:
    return (filename in (__file__, runpy.__file__)
            or os.path.dirname(filename) == _SOURCES_FOLDER)


def run(queue, stop, status, source, pattern, trace_pattern) -> None:
    """Body of the producer process for any source."""
    # Ctrl+C in a terminal reaches every process of the job: the window
    # handles it, and stops this one through the stop pipe.
    signal.signal(signal.SIGINT, signal.SIG_IGN)

    run_source(source, queue, stop, status, pattern, trace_pattern)


@contextlib.contextmanager
def _main_script_left_out(source):
    """A spawned interpreter runs the main script again (as __mp_main__),
    unless it is a package's __main__: the `stelvane` command's script (or a
    benchmark's) would load Qt and the window's code into the producer, a
    third of a second and tens of MB before its first row. It is left out
    while the process starts, unless the source's function lives there
    (show() called from a script)."""
    main = sys.modules.get("__main__")
    path = getattr(main, "__file__", None)
    produce = getattr(source, "produce", None)
    if path is None or getattr(main, "__spec__", None) is not None \
            or getattr(produce, "__module__", None) == "__main__":
        yield
        return
    del main.__file__
    try:
        yield
    finally:
        main.__file__ = path


class ProducerProcess:
    """The producer process and its stop signal, for the window that reads
    the queue. The process is started with "spawn": a fresh interpreter, not a
    copy of one that runs Qt threads.

    It runs `source` (see sources/), by default the simulated instrument
    with `options`. `pattern` and `trace_pattern`, when given, are sent before
    anything of the source's. Beside the queue, the producer writes status
    messages into a pipe whose reading end is `status` (see sources/status.py).

    The stop signal is a pipe that the window closes: the producer sees the
    end of the pipe. (A multiprocessing Event would do the same until the
    producer dies while waiting on it: its set() then waits forever for the
    dead waiter.)"""

    def __init__(self, context, queue, options: ProducerOptions | None = None,
                 epoch: float = 0.0, *, source=None, pattern: str | None = None,
                 trace_pattern: str | None = None):
        if source is None:
            source = InstrumentSource(options or ProducerOptions(), epoch)
        self.source = source
        self._stop_reader, self._stop_writer = context.Pipe(duplex=False)
        self.status, self._status_writer = context.Pipe(duplex=False)
        self.process = context.Process(
            target=run, args=(queue, self._stop_reader, self._status_writer, source,
                              pattern, trace_pattern),
            name="stelvane-producer", daemon=True)

    def start(self) -> None:
        try:
            with _main_script_left_out(self.source):
                self.process.start()
        finally:
            # The producer has its own copies; a descriptor handed to it (the
            # standard input) is its alone from now on.
            self._stop_reader.close()
            self._status_writer.close()
            stdin = getattr(self.source, "stdin", None)
            if stdin is not None:
                stdin.close()

    def is_alive(self) -> bool:
        return self.process.is_alive()

    def messages(self) -> list:
        """The status messages that have arrived (see sources/status.py)."""
        received = []
        try:
            while not self.status.closed and self.status.poll():
                received.append(self.status.recv())
        except (EOFError, OSError):  # the producer has ended
            self.status.close()
        return received

    def stop(self, timeout: float = 3.0) -> int | None:
        """Asks the process to end, waits up to `timeout`, then terminates it;
        returns its exit code."""
        self._stop_writer.close()
        # A producer blocked writing a status message gets an error at once.
        self.status.close()
        if self.process.pid is None:  # never started
            self._stop_reader.close()
            self._status_writer.close()
            return None
        if not _stopped(self.process.pid):  # a stopped process cannot end by itself
            self.process.join(timeout)
        if self.process.is_alive():
            self.process.terminate()
            # A stopped process (SIGSTOP, Ctrl+Z, a debugger) keeps SIGTERM
            # pending until it runs again (Windows has no such state).
            if hasattr(signal, "SIGCONT"):
                with contextlib.suppress(ProcessLookupError):
                    os.kill(self.process.pid, signal.SIGCONT)
            self.process.join(timeout)
        if self.process.is_alive():
            self.process.kill()
            self.process.join()
        return self.process.exitcode


def _stopped(pid: int) -> bool:
    """Whether the process is stopped (SIGSTOP, Ctrl+Z, a debugger): its
    state in /proc, where there is one."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as stat:
            state = stat.read().rsplit(b")", 1)[1].split()[0]
    except (OSError, IndexError):
        return False
    return state in (b"T", b"t")
