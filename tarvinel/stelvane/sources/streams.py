"""Reading a stream (a pipe, a socket, a serial port, a FIFO) into a reader,
so that every wait watches the stop pipe too: closing the window ends the
producer however it is waiting.

A reader is what formats.make_reader makes: take(bytes), finish(), restart().

This module imports no Qt: it runs in the producer process.
"""

import os
import selectors
import stat

# Bytes read at once; with an unfinished line held over, a block of whole
# lines stays under the longest line allowed (see formats/text/reader.py).
READ_SIZE = 512 << 10


def wait_ready(selector, stop, status, timeout=0.25):
    """Ready keys, or None once the window has closed."""
    while True:
        events = selector.select(timeout)
        status.tick()
        if stop is not None and stop.poll():
            return None
        if events:
            return events


def read_stream(fd: int, reader, stop, status, read=None) -> str | None:
    """Hands what `fd` delivers to `reader` until the end of the stream:
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
            if wait_ready(selector, stop, status) is None:
                return None
            try:
                data = read(READ_SIZE)
            except (BlockingIOError, InterruptedError):
                continue
            if not data:
                return "end"
            # Whatever else is waiting already joins this block: fewer,
            # larger blocks for numpy's parser and the queue.
            while len(data) < READ_SIZE and selector.select(0) and not stop_ready(stop):
                try:
                    more = read(READ_SIZE - len(data))
                except (BlockingIOError, InterruptedError):
                    break
                except OSError:  # a reset, a port gone: what came before it stays
                    reader.take(data)
                    raise
                if not more:
                    reader.take(data)
                    return "end"
                data += more
            reader.take(data)


def _read_regular_file(read, reader, stop) -> str | None:
    """read_stream for a regular file (`stelvane - < rows.csv`): it is always
    ready, and epoll refuses to watch it."""
    while not stop_ready(stop):
        data = read(READ_SIZE)
        if not data:
            return "end"
        reader.take(data)
    return None


def stop_ready(stop) -> bool:
    return stop is not None and stop.poll()


def enlarge_pipe(fd: int) -> None:
    """A pipe that holds 1 MiB instead of 64 KiB: fewer, larger reads and
    fewer waits for the writer. Only where the system allows it."""
    try:
        if stat.S_ISFIFO(os.fstat(fd).st_mode):
            import fcntl
            fcntl.fcntl(fd, getattr(fcntl, "F_SETPIPE_SZ", 1031), 1 << 20)
    except (OSError, ImportError):
        pass
