"""A file too long for --max-rows, read through the columnar cache
(formats/recordings/cache.py): converted once into memory-mapped columns
with their min/max index, or found there unchanged, and handed to the
window as the cache entry's folder instead of as rows, so that every row is
kept in bounded memory.

Which files: text (plain or compressed), Parquet and Arrow IPC files whose
rows (estimated from the first lines of text, told by the others' footers)
exceed --max-rows. The rest, and a file whose rows make no single table
(several runs, traces), are read as before. A conversion is streamed (a
block of rows at a time) and says its progress on the status bar; one that
would pass the cache's cap is said, and the file is read as before (its
newest --max-rows rows kept, the status bar says the rest were dropped).

A followed text file is followed on from where the cache entry ends: the
rows written later go to memory as any run's (the entry's rows then count
as dropped beyond --max-rows, and the status bar says so); the next opening
converts the file as it is then (another key).

This module imports no Qt: it runs in the producer process.
"""

from dataclasses import dataclass
import os
import time

import numpy as np

from ..formats import make_reader
from ..formats import recordings
from ..formats.addedx import ROW
from ..formats.recordings.cache import (DEFAULT_CAP, CacheFull, ColumnarCache, NotCacheable,
                                        cache_root)
from .filerows import SAMPLE_BYTES, estimated_rows, sized_shape, told_rows
from .streams import READ_SIZE

# How often the conversion's progress is said.
PROGRESS_SECONDS = 0.5
# The first rows of a file being converted, shown meanwhile (at most --max-rows).
PREVIEW_ROWS = 100_000
# Formats whose rows are converted (besides text), a block of rows at a
# time, their index made on the way. (An Arrow IPC file holds a column in
# many batches, a .npy of rows keeps a column's values a row apart: neither
# is one array numpy could map as the column, and the index needs a pass
# over the rows anyway; the copy costs less than pyarrow's own read.)
_CONVERTED = ("parquet", "arrowipc", "compressed", "npy", "hdf5", "wav")


@dataclass(frozen=True)
class LargeFiles:
    """What the command line says about files longer than memory keeps:
    --max-rows, the cache's cap in bytes (--cache-size) and its folder
    (None: cache_root())."""
    max_rows: int = 1_000_000
    cache_cap: int = DEFAULT_CAP
    cache_dir: str | None = None


def worth_caching(path: str, found, max_rows: int) -> bool:
    if found is not None and getattr(found, "module", None) not in _CONVERTED:
        return False
    rows = estimated_rows(path, found)
    return rows is not None and rows > max_rows


class Progress:
    """Says how far a conversion is, at most every PROGRESS_SECONDS: the
    share of the file's bytes read, or of its rows where the file tells
    them (`rows`) and its bytes are not counted."""

    def __init__(self, status, name: str, size: int, rows: int | None = None):
        self.status, self.name, self.size, self.rows = status, name, size, rows
        self.said = time.monotonic()
        self.done_bytes = None  # the latest count of bytes read, kept between calls

    def __call__(self, done_bytes: int | None, rows: int) -> None:
        if done_bytes is not None:
            self.done_bytes = done_bytes
        now = time.monotonic()
        if now - self.said < PROGRESS_SECONDS:
            return
        self.said = now
        share = self.share(rows)
        share = f" {share}%," if share is not None else ""
        self.status.info(f"{self.name}: into the cache,{share} {rows:,} rows")

    def share(self, rows: int) -> int | None:
        if self.done_bytes is not None:
            return min(100, 100 * self.done_bytes // max(self.size, 1))
        if self.rows:
            return min(100, 100 * rows // self.rows)
        return None


@dataclass
class Mapped:
    """A file's rows in the cache; for a followed text file also its
    `reader` (its sink now the feed), which reads on from byte `position`."""
    entry: object  # cache.CachedRecording; None where the rows went to the feed instead
    reader: object = None
    position: int = 0
    ended: str | None = None  # the problem a recording's reading ended with


def cached_recording(path: str, found, reading, large: LargeFiles, status, stop,
                     follow_feed=None, preview=None) -> Mapped | None:
    """The file's rows in the cache (converted now, or found there); None
    where it is read as before. `reading`: the ReadOptions of text;
    `follow_feed`: the feed the rows written later go to (a followed text
    file); `preview`: the file's FirstRead (sources/file.py), whose feed is
    given the first rows while they are converted, and every row where the
    cache gives up on the way (the Mapped then has no entry)."""
    if not worth_caching(path, found, large.max_rows):
        return None
    cache = ColumnarCache(large.cache_dir or cache_root(), large.cache_cap)
    name = os.path.basename(path)
    variant = repr(reading)  # the same file read with another --sep, ... is another entry
    entry = cache.lookup(path, variant)
    if entry is not None:
        status.info(f"{name}: {entry.rows:,} rows from the cache")
        reader = primed_reader(path, reading, follow_feed) if follow_feed and found is None else None
        return Mapped(entry, reader, entry.source_bytes)
    switch = Switch(cache.writer(path, variant))
    shape = sized_shape(path, found)
    if preview is not None:
        _make_room(shape, cache, switch.target.temporary)
        preview.begin(previewing=True)
    told = told_rows(path, found, shape)
    watched = _Watched(switch, Progress(status, name, os.path.getsize(path), told),
                       preview.feed if preview is not None else None,
                       min(PREVIEW_ROWS, large.max_rows))
    converted = _converted(path, found, watched, reading, status, stop, follow_feed)
    if converted is None or converted.entry is None:
        return converted
    status.info(f"{name}: {converted.entry.rows:,} rows in the cache")
    watched.preview = None  # shown whole from now on
    if converted.reader is not None:
        switch.target = follow_feed
    return converted


def _converted(path: str, found, watched, reading, status, stop, follow_feed) -> Mapped | None:
    """The conversion of the file into the cache writer behind `watched`:
    the entry made, the rows handed over to the feed (no entry), or None
    where the file is read as before."""
    writer, failed = watched.switch.target, None
    try:
        converted = _convert(path, found, watched, reading, status, stop, follow_feed)
        if converted is not None and watched.handed_over is None:
            converted.entry = writer.finish()
            return converted
    except (NotCacheable, CacheFull) as failure:
        converted, failed = None, failure
    except BaseException:
        writer.abandon()
        raise
    writer.abandon()
    if isinstance(failed or watched.handed_over, CacheFull):
        status.problem(f"{os.path.basename(path)}: not cached: {failed or watched.handed_over}; "
                       "read into memory instead")
    return converted


def _make_room(shape, cache, keep: str) -> None:
    """Makes the room a file whose footer tells its rows and columns
    (`shape`) takes in the cache (with the index, a 16th more) before its
    rows are shown."""
    if shape is not None:
        needed = shape[0] * shape[1] * 8
        try:
            cache.make_room(needed + needed // 16, keep=keep)
        except CacheFull:
            pass  # the conversion says it where it reaches the cap


def _convert(path: str, found, watched, reading, status, stop, follow_feed) -> Mapped | None:
    """Reads the file into the cache writer behind `watched`; None where the
    window closed meanwhile. A followed text file's reader is kept, unfinished."""
    if found is None:
        return _convert_text(path, watched, reading, status, stop, follow_feed is not None)
    recording = recordings.Recording(path, watched, status.problem, status.info, stop,
                                     text_reader=lambda: _text_reader(watched, reading, status, path))
    if recordings.read(found, recording) is None:
        return None
    if recording.failed is not None:  # said: the rows before the damage are kept, not cached
        watched.give_up(NotCacheable(recording.failed))
    return Mapped(None, ended=recording.failed)


def _text_reader(sink, reading, status, path: str):
    return make_reader(sink, status.problem, name=os.path.basename(path), options=reading,
                       added_x=ROW)


def _convert_text(path, watched, reading, status, stop, follow: bool) -> Mapped | None:
    reader = _text_reader(watched, reading, status, path)
    done = 0
    with open(path, "rb") as file:
        while data := file.read(READ_SIZE):
            reader.take(data)
            done += len(data)
            watched.progress(done)
            if stop is not None and stop.poll():
                return None
    watched.switch.target.source_bytes = done
    if follow:  # an unfinished last line waits for the rest, as when followed
        return Mapped(None, reader, done)
    reader.finish()
    return Mapped(None)


def primed_reader(path: str, reading, feed):
    """A text reader that has read the file's first lines (its names, its
    layout) and says nothing of them: it reads on from where the cache
    entry ends, into `feed`."""
    switch = Switch(_Nothing())
    reader = make_reader(switch, lambda _text: None, name=os.path.basename(path), options=reading,
                         added_x=ROW)
    with open(path, "rb") as file:
        sample = file.read(SAMPLE_BYTES)
    reader.take(sample[:sample.rfind(b"\n") + 1])
    switch.target = feed
    return reader


class Switch:
    """A sink that hands every command to its `target`, which may change
    (the cache's writer, then the feed)."""

    def __init__(self, target):
        self.target = target

    def __getattr__(self, name):
        return getattr(self.target, name)


class _Nothing:
    """A sink that keeps nothing."""

    def __getattr__(self, name):
        return lambda *args, **kwargs: None


class _Watched:
    """The sink while the cache is written, with the progress said as rows
    arrive. With a `preview` (the file's FirstRead), the names and the first
    `preview_rows` rows also go to its feed, for the window to show until
    the whole is mapped; where the cache gives up on the way (a second run,
    its cap), the rows it has that the feed has not go there, and from then
    on every command: the file is read on, not again. `handed_over` is then
    why the cache gave up."""

    def __init__(self, switch, progress, preview=None, preview_rows: int = 0):
        self.switch, self._progress = switch, progress
        self.preview, self.preview_rows = preview, preview_rows
        self.shown, self.words_shown = 0, {}  # the rows, and per column the words, it was given
        self.handed_over = None

    def columns(self, *args, **kwargs) -> None:
        self._command("columns", args, kwargs)
        if self.preview is not None and self.handed_over is None:
            self.preview.columns(*args, **kwargs)

    def rows(self, block, words=None) -> None:
        self._command("rows", (block, words), {})
        if self.handed_over is None:
            self._show(block, words)
        self.progress(None)

    def progress(self, done_bytes: int | None) -> None:
        written = getattr(self.switch.target, "written", None)  # None: it reads on into the feed
        if written is not None:
            self._progress(done_bytes, written)

    def __getattr__(self, name):
        command = getattr(self.switch, name)
        if not callable(command):
            return command
        return lambda *args, **kwargs: self._command(name, args, kwargs)

    def _command(self, name: str, args, kwargs):
        """Gives the command to the cache writer, or to the feed once handed over."""
        if self.handed_over is None:
            try:
                return getattr(self.switch.target, name)(*args, **kwargs)
            except (NotCacheable, CacheFull) as failed:
                self.give_up(failed)
        return getattr(self.switch.target, name)(*args, **kwargs)

    def _show(self, block, words) -> None:
        room = self.preview_rows - self.shown if self.preview is not None else 0
        if room > 0:
            shown = np.asarray(block)[:room]
            self.preview.rows(shown, words)
            self.shown += len(shown)
            for column, new in (words or {}).items():
                self.words_shown[column] = self.words_shown.get(column, 0) + len(new)

    def give_up(self, failed: Exception) -> None:
        """The cache is given up on: handed over, or `failed` raised without a preview."""
        if self.preview is None:
            raise failed
        self._hand_over(failed)

    def _hand_over(self, failed: Exception) -> None:
        for block, words in self.switch.target.rows_from(self.shown, self.words_shown):
            self.preview.rows(block, words)
        self.switch.target, self.handed_over = self.preview, failed
