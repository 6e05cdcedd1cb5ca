"""Where the data comes from: the sources a producer process runs.

    -                  text rows from standard input
    PATH               a text file, read from its start, then followed as it grows
    tcp://HOST:PORT    text rows from one TCP connection at a time (listens on HOST)
    serial:DEV[@BAUD]  text rows from a serial port
    SCRIPT.py          a producer script: its produce(feed) runs in the producer
    (none)             the simulated instrument

Every source runs in the producer process and writes the queue's commands
through a Feed (the simulated instrument writes them itself). Besides the
queue, the producer tells the window on a status pipe what the queue cannot
carry: problems (bad lines, connections closed for garbage), that the source
has ended and why, and the traceback of a script that raised. Messages:

    ("info", text)             what the source is doing (listening, waiting)
    ("problem", text, count)   count problems, the last of them described
    ("traceback", text)        an exception in a producer script
    ("ended", reason)          the source has ended; every row was taken

Every wait watches the stop pipe too, so closing the window ends the producer
however it is waiting: for input, a client, a file, or room in the queue.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import errno
import os
import runpy
import selectors
import socket
import stat
import time
import traceback
import urllib.parse

from .feed import Feed, FeedClosed
from .textformat import LimitExceeded, TextReader

# Bytes read at once; with an unfinished line held over, a block of whole
# lines stays under the longest line allowed (see TextReader).
READ_SIZE = 512 << 10
# Problems passed on one by one per second; more are counted and sent as one.
PROBLEMS_PER_SECOND = 10
# How often a followed file is looked at for growth or change.
FILE_POLL_INTERVAL = 0.05
# How long a followed file may be missing before it counts as deleted (a
# file replaced by removing it and writing it anew is missing for a moment).
DELETE_GRACE = 0.5
DEFAULT_BAUD = 115_200


class SourceError(ValueError):
    """A source text that names no usable source."""


# --- the status pipe -------------------------------------------------------------------

class Status:
    """The producer's end of the status pipe. A window that no longer reads
    loses the messages, never the producer its way."""

    def __init__(self, connection=None):
        self.connection = connection
        self._window_start = 0.0
        self._sent_in_window = 0
        self._held = 0          # problems counted but not yet sent
        self._held_text = ""

    def send(self, *message) -> None:
        if self.connection is None:
            return
        try:
            self.connection.send(message)
        except (OSError, EOFError):  # the window has gone
            self.connection = None

    def info(self, text: str) -> None:
        self.send("info", text)

    def problem(self, text: str) -> None:
        now = time.monotonic()
        if now - self._window_start >= 1.0:
            self.flush()
            self._window_start, self._sent_in_window = now, 0
        if self._sent_in_window < PROBLEMS_PER_SECOND:
            self._sent_in_window += 1
            self.send("problem", text, 1)
        else:
            self._held += 1
            self._held_text = text

    def flush(self) -> None:
        """Sends the problems held back, as one message."""
        if self._held:
            count, self._held = self._held, 0
            self.send("problem", f"{count} more problem(s), the last: {self._held_text}", count)

    def tick(self) -> None:
        """Called now and then by a waiting source: held problems go out
        within about a second."""
        if self._held and time.monotonic() - self._window_start >= 1.0:
            self.flush()
            self._window_start, self._sent_in_window = time.monotonic(), 0

    def ended(self, reason: str) -> None:
        self.flush()
        self.send("ended", reason)

    def close(self) -> None:
        if self.connection is not None:
            self.connection.close()
            self.connection = None


# --- reading streams ----------------------------------------------------------------------

def _wait(selector, stop, status, timeout=0.25):
    """Ready keys, or None once the window has closed."""
    while True:
        events = selector.select(timeout)
        status.tick()
        if stop is not None and stop.poll():
            return None
        if events:
            return events


def read_stream(fd: int, reader: TextReader, stop, status, read=None) -> str | None:
    """Feeds what `fd` delivers to `reader` until the end of the stream:
    returns "end", or None once the window has closed. `read(size)` reads
    (os.read on `fd` by default)."""
    read = read or (lambda size: os.read(fd, size))
    if stat.S_ISREG(os.fstat(fd).st_mode):
        return _read_regular_file(read, reader, stop)
    with selectors.DefaultSelector() as selector:
        selector.register(fd, selectors.EVENT_READ)
        if stop is not None:
            selector.register(stop.fileno(), selectors.EVENT_READ)
        while True:
            if _wait(selector, stop, status) is None:
                return None
            try:
                data = read(READ_SIZE)
            except (BlockingIOError, InterruptedError):
                continue
            if not data:
                return "end"
            # Whatever else is waiting already joins this block: fewer,
            # larger blocks for numpy's parser and the queue.
            while len(data) < READ_SIZE and selector.select(0) and not _stop_ready(stop):
                try:
                    more = read(READ_SIZE - len(data))
                except (BlockingIOError, InterruptedError):
                    break
                except OSError:  # a reset, a port gone: what came before it stays
                    reader.feed(data)
                    raise
                if not more:
                    reader.feed(data)
                    return "end"
                data += more
            reader.feed(data)


def _read_regular_file(read, reader: TextReader, stop) -> str | None:
    """read_stream for a regular file (`stelvane - < rows.csv`): it is always
    ready, and epoll refuses to watch it."""
    while not _stop_ready(stop):
        data = read(READ_SIZE)
        if not data:
            return "end"
        reader.feed(data)
    return None


def _stop_ready(stop) -> bool:
    return stop is not None and stop.poll()


def _enlarge_pipe(fd: int) -> None:
    """A pipe that holds 1 MiB instead of 64 KiB: fewer, larger reads and
    fewer waits for the writer. Only where the system allows it."""
    try:
        if stat.S_ISFIFO(os.fstat(fd).st_mode):
            import fcntl
            fcntl.fcntl(fd, getattr(fcntl, "F_SETPIPE_SZ", 1031), 1 << 20)
    except (OSError, ImportError):
        pass


# --- the sources ----------------------------------------------------------------------------

@dataclass
class StdinSource:
    """Text rows from standard input. `stdin` is a Connection around a
    duplicate of the window's standard input: a spawned process closes its
    own, and only descriptors handed over this way reach it."""
    stdin: object = None
    describe: str = "standard input"

    def run(self, feed, status, stop) -> str | None:
        fd = self.stdin.fileno() if self.stdin is not None else 0
        _enlarge_pipe(fd)
        reader = TextReader(feed, status.problem, name="stdin")
        if read_stream(fd, reader, stop, status) is None:
            return None
        # A writer killed in the middle of a line and a last line without a
        # line end look alike here: the line is taken, and the user told.
        cut = reader.finish()
        return "end of standard input" + (
            f" (its last line, {cut}, had no line end)" if cut else "")


@dataclass
class FileSource:
    """A text file from its start; followed as it grows unless `follow` is
    false. A file that does not exist yet is waited for; a file truncated or
    replaced begins a new run; a deleted one ends the source, and so does a
    path that comes to hold something that is no file (a directory, a FIFO,
    a socket). A FIFO or a device named from the start is read as a stream."""
    path: str
    follow: bool = True

    @property
    def describe(self) -> str:
        return self.path

    def run(self, feed, status, stop) -> str | None:
        try:
            file = self._open(status, stop, streams=True)
        except OSError as error:
            return self._unreadable(status, "cannot be read", error)
        if file is None:
            return "the file does not exist" if not self.follow else None
        reader = TextReader(feed, status.problem, name=os.path.basename(self.path))
        try:
            if stat.S_ISREG(os.fstat(file.fileno()).st_mode):
                return self._read(file, reader, status, stop)
            if read_stream(file.fileno(), reader, stop, status) is None:
                return None
            reader.finish()
            return f"end of {self.path}"
        finally:
            file.close()

    def _unreadable(self, status, how: str, error: OSError, cut: int | None = None) -> str:
        reason = f"{self.path} {how}: {error.strerror or error}"
        if cut:
            reason += f"; its unfinished line {cut} was dropped"
        status.problem(reason)
        return reason

    def _open(self, status, stop, streams: bool = False):
        """The file at the path, once there is one; None once the window has
        closed. Raises OSError for what is no file to read (a FIFO or a
        device is one where `streams`). Opened without waiting: a FIFO would
        wait for a writer, deaf to the window's stop."""
        told = False
        while True:
            try:
                fd = os.open(self.path, os.O_RDONLY | os.O_NONBLOCK)
            except FileNotFoundError:
                if not self.follow:
                    status.problem(f"{self.path}: no such file")
                    return None
            else:
                mode = os.fstat(fd).st_mode
                if stat.S_ISREG(mode) or streams and (stat.S_ISFIFO(mode) or stat.S_ISCHR(mode)):
                    return open(fd, "rb", buffering=0)
                os.close(fd)
                raise OSError(errno.EINVAL, f"it is {_kind_of(mode)}")
            if not told:
                status.info(f"waiting for {self.path}")
                told = True
            if stop.poll(0.1):
                return None

    def _read(self, file, reader, status, stop) -> str | None:
        position, head = 0, b""  # head: the first bytes, to see a rewrite
        missing_since = None
        while True:
            try:
                data = file.read(READ_SIZE)
            except OSError as error:  # a failing disk or network file system
                cut = reader.finish(broken=True)
                return self._unreadable(status, "can no longer be read", error, cut)
            if data:
                if len(head) < 64:
                    head = (head + data)[:64]
                position += len(data)
                reader.feed(data)
                if stop.poll():
                    return None
                continue
            if not self.follow:
                reader.finish()
                return "end of file"
            if stop.poll(FILE_POLL_INTERVAL):
                return None
            status.tick()
            change = self._change(file, position, head)
            if change == "missing":
                missing_since = missing_since or time.monotonic()
                if time.monotonic() - missing_since >= DELETE_GRACE:
                    reader.finish()
                    return "the file was deleted"
                continue
            missing_since = None
            if change is None:
                continue
            reader.finish()
            if change == "replaced":
                try:
                    replacement = self._open(status, stop)
                except OSError as error:
                    return self._unreadable(status, "can no longer be read", error)
                if replacement is None:
                    return None
                file.close()
                file = replacement
            reader.restart()
            status.info(f"{self.path} was {change}: a new run")
            file.seek(0)
            position, head = 0, b""

    def _change(self, file, position: int, head: bytes) -> str | None:
        try:
            on_disk = os.stat(self.path)
        except FileNotFoundError:
            return "missing"
        mine = os.fstat(file.fileno())
        if (on_disk.st_dev, on_disk.st_ino) != (mine.st_dev, mine.st_ino):
            return "replaced"
        if mine.st_size < position:
            return "truncated"
        if head and os.pread(file.fileno(), len(head), 0) != head:
            return "rewritten"
        return None


def _kind_of(mode: int) -> str:
    """What a file that is no regular file is, for a message."""
    for test, kind in ((stat.S_ISDIR, "a directory"), (stat.S_ISFIFO, "a FIFO"),
                       (stat.S_ISSOCK, "a socket"), (stat.S_ISCHR, "a device"),
                       (stat.S_ISBLK, "a device")):
        if test(mode):
            return kind
    return "no regular file"


@dataclass
class TcpSource:
    """Listens on HOST:PORT; text rows from one connection at a time. A
    connection that closes ends its run; the next one may bring new column
    names. A line over the limits closes its connection."""
    host: str
    port: int

    @property
    def describe(self) -> str:
        return f"tcp://{_host_text(self.host)}:{self.port}"

    def run(self, feed, status, stop) -> str | None:
        family = socket.AF_INET6 if ":" in self.host else socket.AF_INET
        with socket.create_server((self.host, self.port), family=family, backlog=1) as listener:
            port = listener.getsockname()[1]
            status.info(f"listening on tcp://{_host_text(self.host)}:{port}")
            with selectors.DefaultSelector() as selector:
                selector.register(listener, selectors.EVENT_READ)
                selector.register(stop.fileno(), selectors.EVENT_READ)
                while True:
                    if _wait(selector, stop, status) is None:
                        return None
                    try:
                        connection, peer = listener.accept()
                    except OSError:
                        continue
                    with connection:
                        if self._serve(connection, peer, feed, status, stop) is None:
                            return None

    def _serve(self, connection, peer, feed, status, stop) -> str | None:
        who = f"{_host_text(peer[0])}:{peer[1]}"
        status.info(f"connection from {who}")
        reader = TextReader(feed, status.problem, name=who, strict=True)
        connection.setblocking(False)
        try:
            if read_stream(connection.fileno(), reader, stop, status,
                           read=connection.recv) is None:
                return None
            reader.finish()
            outcome = f"connection from {who} closed"
        except LimitExceeded as error:
            status.problem(f"{error}; connection closed")
            outcome = f"connection from {who} closed for a line over the limits"
        except ConnectionError as error:
            # A reset cuts a line anywhere: "3.1" of "3.14159" is no value
            # to store. (A clean close ends the client's data: see above.)
            cut = reader.finish(broken=True)
            if cut:
                status.problem(f"{who}: connection lost in the middle of line {cut}; "
                               "the unfinished line was dropped")
            outcome = f"connection from {who} lost: {error.strerror or error}"
        reader.restart()  # the run ends with its connection
        status.info(outcome)
        return outcome


def _host_text(host: str) -> str:
    return f"[{host}]" if ":" in host else host


@dataclass
class SerialSource:
    """Text rows from a serial port (pyserial). A port that does not exist
    yet is waited for; the source ends when the port goes away."""
    device: str
    baud: int = DEFAULT_BAUD

    @property
    def describe(self) -> str:
        return f"serial:{self.device}@{self.baud}"

    def run(self, feed, status, stop) -> str | None:
        import serial  # pyserial: only this source needs it

        told = False
        while not os.path.exists(self.device):
            if not told:
                status.info(f"waiting for {self.device}")
                told = True
            if stop.poll(0.1):
                return None
        port = serial.Serial(self.device, self.baud, timeout=0)
        status.info(f"reading {self.describe}")
        reader = TextReader(feed, status.problem, name=os.path.basename(self.device))
        try:
            if read_stream(port.fileno(), reader, stop, status) is None:
                return None
            outcome = "the serial port closed"
        except OSError as error:
            if error.errno != errno.EIO:  # EIO: the device went away
                raise
            outcome = f"the serial port went away ({error.strerror})"
        finally:
            port.close()
        reader.finish()
        return outcome


@dataclass
class ScriptSource:
    """A producer script: the file runs (not as __main__, so a guarded
    `show(produce)` in it does not start a window), then its produce(feed)."""
    path: str

    @property
    def describe(self) -> str:
        return self.path

    def run(self, feed, status, stop) -> str | None:
        namespace = runpy.run_path(self.path, run_name="__stelvane_producer__")
        produce = namespace.get("produce")
        if not callable(produce):
            raise SourceError(f"{self.path} defines no produce(feed) function")
        produce(feed)
        return "produce() returned"


@dataclass
class FunctionSource:
    """A produce(feed) function of the caller's (it must be importable in a
    new process: defined at the top level of a module)."""
    produce: object

    @property
    def describe(self) -> str:
        return f"{getattr(self.produce, '__qualname__', 'produce')}()"

    def run(self, feed, status, stop) -> str | None:
        self.produce(feed)
        return f"{self.describe} returned"


@dataclass
class InstrumentSource:
    """The simulated instrument (see producer.py). It runs until the window
    closes or its `options.seconds` have passed, and ends as it always has:
    at once, with no word on the status pipe."""
    options: object
    epoch: float
    describe: str = "the simulated instrument"

    def run(self, feed, status, stop) -> str | None:
        from .producer import produce

        produce(feed.queue, stop, self.options, self.epoch)
        return None


def source_from_text(text: str, *, follow: bool = True, stdin=None):
    """The source a SOURCE argument names; raises SourceError for one it cannot be."""
    if text == "-":
        return StdinSource(stdin)
    if text.startswith("tcp://"):
        return _tcp_source(text)
    if text.startswith("serial:"):
        device, _, baud = text[len("serial:"):].partition("@")
        if not device:
            raise SourceError(f"{text}: a serial port is serial:DEVICE or serial:DEVICE@BAUD")
        try:
            rate = int(baud) if baud else DEFAULT_BAUD
        except ValueError:
            rate = 0
        if rate <= 0:
            raise SourceError(f"{text}: the baud rate {baud!r} is no positive number")
        return SerialSource(device, rate)
    if not text:
        raise SourceError("an empty source")
    if text.endswith(".py"):
        if not os.path.isfile(text):
            raise SourceError(f"{text}: no such producer script")
        return ScriptSource(os.path.abspath(text))
    return FileSource(os.path.abspath(text), follow)


def _tcp_source(text: str) -> TcpSource:
    parts = urllib.parse.urlsplit(text)
    try:
        port = parts.port
    except ValueError:
        port = None
    if not parts.hostname:
        raise SourceError(f"{text}: the host is required (tcp://127.0.0.1:PORT listens on "
                          "this machine only, tcp://0.0.0.0:PORT on every network)")
    if port is None or parts.path not in ("", "/"):
        raise SourceError(f"{text}: write tcp://HOST:PORT")
    return TcpSource(parts.hostname, port)


# --- the producer process ----------------------------------------------------------------

def run_source(source, queue, stop, status_connection, pattern=None, trace_pattern=None) -> None:
    """Body of the producer process: runs `source` until it ends or the window
    closes, then tells the window why it ended (after every row was taken)."""
    # Whatever the window has not read when it closes is thrown away; a source
    # that ends by itself waits below until the window has taken everything.
    queue.cancel_join_thread()
    status = Status(status_connection)
    feed = Feed(queue, stop, pattern=pattern, trace_pattern=trace_pattern)
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
            status.problem(f"{source.describe}: {error}")
            reason = f"{source.describe}: {error}"
    except Exception as error:
        status.send("traceback", _traceback_text(error))
        reason = f"{source.describe} raised {type(error).__name__}: {error}"
    if reason is not None and feed.drain():
        status.ended(reason)
    status.close()


def _traceback_text(error: BaseException) -> str:
    """The traceback from the user's code on: the frames of this module and
    of runpy are left out."""
    tb = error.__traceback__
    while tb is not None and tb.tb_frame.f_code.co_filename in (__file__, runpy.__file__):
        tb = tb.tb_next
    return "".join(traceback.format_exception(type(error), error, tb))

