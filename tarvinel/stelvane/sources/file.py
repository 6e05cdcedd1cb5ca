"""A text file: SOURCE PATH (any text no other source claims), read from
its start and followed as it grows: its reader wakes when the file changes
(see file_watch.py), so that new rows are shown as soon as they are written,
and sleeps while it does not.

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import errno
import os
import stat
import time

from ..formats import AUTO, ReadOptions, make_reader
from ..formats import recordings
from ..formats.addedx import ARRIVAL, ROW
from .base import NamedByPath
from .file_watch import FileWatch
from .filecache import LargeFiles, cached_recording
from .streams import READ_SIZE, read_stream

# How long a followed file may be missing before it counts as deleted (a
# file replaced by removing it and writing it anew is missing for a moment).
DELETE_GRACE = 0.5


@dataclass
class FileSource(NamedByPath):
    """A text file from its start; followed as it grows unless `follow` is
    false. A recording in a format of its own (Parquet, HDF5, Touchstone,
    compressed text, ...: formats/recordings.py, told by its first bytes)
    is read whole, once. A file that does not exist yet is waited for; a file truncated or
    replaced begins a new run; a deleted one ends the source, and so does a
    path that comes to hold something that is no file (a directory, a FIFO,
    a socket). A FIFO or a device named from the start is read as a stream."""
    path: str
    follow: bool = True
    reading: ReadOptions = ReadOptions()
    large: LargeFiles = LargeFiles()

    @classmethod
    def from_text(cls, text: str, options) -> "FileSource":
        return cls(os.path.abspath(text), options.follow, options.reading, options.large)

    def run(self, feed, status, stop) -> str | None:
        try:
            file = self._open(status, stop, streams=True)
        except OSError as error:
            return self._unreadable(status, "cannot be read", error)
        if file is None:
            return "the file does not exist" if not self.follow else None
        regular = stat.S_ISREG(os.fstat(file.fileno()).st_mode)
        reader = make_reader(feed, status.problem, name=os.path.basename(self.path),
                             options=self.reading, added_x=ROW if regular else ARRIVAL)
        try:
            if regular:
                first = FirstRead(self.path, feed, status)
                found = self._recognise(file)
                if found != recordings.BINARY_FILE and os.fstat(file.fileno()).st_size:
                    mapped = cached_recording(self.path, found, self.reading, self.large, status,
                                              stop, feed if self.follow else None, first)
                    if mapped is not None:
                        return self._mapped(mapped, file, first, stop)
                if found is not None:
                    return self._read_recording(found, first, stop, reader)
                watch = FileWatch(stop)
                first.begin()
                try:
                    return self._read(file, reader, first, watch)
                finally:
                    watch.close()
            if read_stream(file.fileno(), reader, stop, status) is None:
                return None
            reader.finish()
            return f"end of {self.path}"
        finally:
            file.close()

    def _recognise(self, file):
        """The recording format the file's first bytes (or its name) say, or
        recordings.BINARY_FILE; None for text (and for a file still empty)."""
        head = os.pread(file.fileno(), recordings.HEAD_BYTES, 0)
        if not head:
            return None
        return recordings.recognise(head, self.path, texts=self.reading.format == AUTO)

    def _read_recording(self, found, first, stop, reader) -> str | None:
        """A recording is read whole, once: it is not followed."""
        status = first.status
        if found == recordings.BINARY_FILE:
            message = f"{os.path.basename(self.path)}: {found}"
            status.problem(message)
            return message
        recording = recordings.Recording(self.path, first.feed, status.problem, status.info, stop,
                                         text_reader=lambda: reader,
                                         texts=self.reading.format == AUTO)
        first.begin()
        reason = recordings.read(found, recording)
        if reason is None or not first.reached_end():
            return None
        return reason

    def _mapped(self, mapped, file, first, stop) -> str | None:
        """A file read into the cache (sources/filecache.py): its names go
        by the queue, its rows by the cache entry, which the window maps;
        a followed text file is followed on from the entry's end."""
        entry = mapped.entry  # None: the cache gave up, the rows went to the feed
        if not first.previewing:  # found in the cache: nothing shown yet
            first.begin(started=first.started)  # the conversion's time counts
            first.feed.columns(entry.names, entry.kinds, entry.units)
        if entry is not None and entry.pattern:
            first.feed.pattern(entry.pattern)
        if not first.reached_end(mapped=entry):
            return None
        if mapped.reader is None:
            if entry is None:
                return mapped.ended or "end of file"
            return f"end of file: {entry.rows:,} rows of {len(entry.names)} columns, from the cache"
        file.seek(mapped.position)
        watch = FileWatch(stop)
        try:
            return self._read(file, mapped.reader, first, watch, mapped.position)
        finally:
            watch.close()

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

    def _read(self, file, reader, first, watch, position: int = 0) -> str | None:
        """Reads the file on from `position` (0, or where its cache entry ends), then follows it."""
        status, stop, missing_since = first.status, watch.stop, None
        head = os.pread(file.fileno(), 64, 0) if position else b""  # to see a rewrite
        # Watched before the first read: a write after it wakes the wait below.
        watch.watch(file, self.path)
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
                reader.take(data)
                if stop.poll():
                    return None
                continue
            if not self.follow:
                reader.finish()
                return "end of file" if first.reached_end() else None
            if not first.reached_end() or not watch.wait(missing=missing_since is not None):
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
            file, ended = self._anew(file, change, reader, first, watch)
            if file is None:
                return ended
            position, head = 0, b""

    def _anew(self, file, change: str, reader, first, watch):
        """The file truncated, rewritten or replaced: a new run from its
        start. (the file to read on, None); (None, why the source ends: None
        where the window closed)."""
        reader.finish()
        if change == "replaced":
            try:
                replacement = self._open(first.status, watch.stop)
            except OSError as error:
                return None, self._unreadable(first.status, "can no longer be read", error)
            if replacement is None:
                return None, None
            file.close()
            file = replacement
            watch.watch(file, self.path)
        reader.restart()
        first.status.info(f"{self.path} was {change}: a new run")
        file.seek(0)
        first.begin()
        return file, None

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


class FirstRead:
    """The rows a file holds when it is opened (or begins anew): read
    whole, then followed. The window is told when their reading begins and
    once it has taken every one of them (status.py's "reading" and "read"):
    it shows them whole, and follows only the rows written after them."""

    def __init__(self, path: str, feed, status):
        self.path, self.feed, self.status = path, feed, status
        self.started, self.rows_before, self.done = time.monotonic(), 0, False
        self.previewing = False

    def begin(self, started: float | None = None, previewing: bool = False) -> None:
        """`started`: when the reading began, where not now. `previewing`:
        the file is converted into the cache, its first rows shown meanwhile
        (sources/filecache.py)."""
        self.previewing = previewing
        self.rows_before, self.done = self.feed.rows_sent, False
        self.started = time.monotonic() if started is None else started
        if self.status.listening:
            self.status.send("reading", self.path, previewing)

    def reached_end(self, mapped=None) -> bool:
        """Says the first read done, once the window has taken its rows;
        False where the window closed meanwhile. `mapped`: the cache entry
        that holds the rows (formats/recordings/cache.py), for the window to map."""
        if self.done or not self.status.listening:  # no window: nobody to wait for
            return True
        self.done, self.previewing = True, False
        if not self.feed.drain():
            return False
        feed = self.feed
        columns = feed.point_columns or feed.trace_column_names or []
        rows = feed.rows_sent - self.rows_before if mapped is None else mapped.rows
        self.status.send("read", {"rows": rows, "columns": len(columns),
                                  "read_seconds": round(time.monotonic() - self.started, 3),
                                  **({"mapped": mapped.folder} if mapped is not None else {})})
        return True


def _kind_of(mode: int) -> str:
    """What a file that is no regular file is, for a message."""
    for test, kind in ((stat.S_ISDIR, "a directory"), (stat.S_ISFIFO, "a FIFO"),
                       (stat.S_ISSOCK, "a socket"), (stat.S_ISCHR, "a device"),
                       (stat.S_ISBLK, "a device")):
        if test(mode):
            return kind
    return "no regular file"
