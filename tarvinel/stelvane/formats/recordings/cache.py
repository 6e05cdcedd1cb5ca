"""The columnar cache: recordings too large for memory, converted once into
columns on disk that are memory-mapped, with their min/max index.

Measured first (bench/outofcore_candidates.py, 20,000,000 rows x 9 float64
columns, 2 cores; 100,000,000 rows scale linearly):

                        min/max in 2,000 bins   the same over   the rows of a
                        over all the rows       a tenth         narrow range
    pyarrow memory map  0.25 s                  0.031 s         0.16 ms
      + numpy
    DuckDB (its own     1.85 s                  0.091 s         3.4 ms
      storage, 1 GB)

(DuckDB also took 28 s to load the 1.4 GB it then held as 1.1 GB.) numpy
over a memory map is 3-7x faster than DuckDB's SQL for both questions and
needs no engine of its own; but a full pass grows with the rows (1.2 s at
100,000,000), so zoomed-out views come from a min/max index made while the
recording is converted (extremesindex.py) and only the rows of a narrow
view are read from the map. Each column is one contiguous file of float64
(a memory-mapped Arrow IPC file holds a column in many batches, which numpy
cannot view as one array).

Layout, under cache_root() (`$XDG_CACHE_HOME/tarvinel-stelvane`, by default
`~/.cache/tarvinel-stelvane`): a folder per recording, named by a hash of
its path, size and modification time (a changed file is a new key, and the
old entry ages out), holding `manifest.json` (names, kinds, units, words,
rows, index levels), `c<j>.f64` per column and its index `c<j>.level<L>`.
A folder is written under a temporary name and renamed when complete, so a
conversion cut short leaves no entry. The cache's size is capped: the
entries used least recently make room, and a recording larger than the cap
is not cached (CacheFull, which the caller says).

This module imports no Qt: the producer process converts.
"""

import dataclasses
from dataclasses import dataclass
import hashlib
import json
import mmap
import os
import shutil
import tempfile
import weakref

import numpy as np

from ...protocol import FeedClosed
from .extremesindex import IndexWriter, read_level

CACHE_NAME = "tarvinel-stelvane"
DEFAULT_CAP = 20 << 30
MANIFEST = "manifest.json"
_TEMPORARY = "partial-"
# The maps of columns whose values never decrease from row to row (as the
# conversion found), so that no one looks at all their rows again to know.
_RISING_MAPS: weakref.WeakKeyDictionary = weakref.WeakKeyDictionary()


class CacheFull(FeedClosed):
    """The recording does not fit under the cache's cap: the message says so.
    (A FeedClosed: the writer takes nothing more, and every reader lets that through.)"""


class NotCacheable(FeedClosed):
    """The rows are no single table of numbers (runs, traces): read as before."""


def cache_root() -> str:
    base = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(base, CACHE_NAME)


def recording_key(path: str, variant: str = "") -> str:
    """The key of a file as it is now: its real path, size and modification
    time, and `variant`, how it was read (a separator given, ...)."""
    info = os.stat(path)
    text = f"{os.path.realpath(path)}\0{info.st_size}\0{info.st_mtime_ns}\0{variant}"
    return hashlib.sha256(text.encode()).hexdigest()[:32]


def mapped_rising(values: np.ndarray) -> bool:
    """Whether `values` are known to never decrease: rows of a cached column
    that rises, in row order (any stretch of rising values rises)."""
    the_map = getattr(values, "_mmap", None)
    return bool(the_map is not None and values.ndim == 1 and values.strides[0] > 0
                and _RISING_MAPS.get(the_map, False))


def release_pages(values: np.ndarray) -> None:
    """Gives back the pages of a mapped column's rows `values` (a stretch
    just looked at), so that a pass over a long column does not leave all
    of it counted as the window's memory; read again, they come back from
    the system's file cache. Anything else is left alone."""
    the_map = getattr(values, "_mmap", None)
    if the_map is None or not len(values) or not hasattr(the_map, "madvise"):
        return
    start = values.ctypes.data - _map_address(the_map)
    first = start // mmap.PAGESIZE * mmap.PAGESIZE
    end = start + values.nbytes
    whole = (end - first) // mmap.PAGESIZE * mmap.PAGESIZE  # whole pages only
    if whole > 0:
        the_map.madvise(mmap.MADV_DONTNEED, first, whole)


# Rows compared at a time: a long column is looked at in stretches, never
# with a mask as long as itself.
STRETCH = 1 << 22


def grows(x: np.ndarray) -> bool:
    """Whether `x` never decreases from row to row (a NaN breaks it)."""
    if len(x) < 2 or mapped_rising(x):
        return True
    for start in range(0, len(x) - 1, STRETCH):
        end = min(start + STRETCH, len(x) - 1)
        rising = np.all(x[start + 1:end + 1] >= x[start:end])
        release_pages(x[start:end])
        if not rising:
            return False
    return True


def _map_address(the_map) -> int:
    return np.frombuffer(the_map, np.uint8).ctypes.data


def folder_bytes(folder: str) -> int:
    total = 0
    for entry in os.scandir(folder):
        if entry.is_file(follow_symlinks=False):
            total += entry.stat(follow_symlinks=False).st_size
    return total


@dataclass
class ColumnarCache:
    """The cache at `root` with its cap in bytes."""
    root: str
    cap: int = DEFAULT_CAP

    def lookup(self, path: str, variant: str = "") -> "CachedRecording | None":
        """The entry of the file as it is now (read as `variant` says),
        marked as used; None if there is none."""
        folder = os.path.join(self.root, recording_key(path, variant))
        manifest = os.path.join(folder, MANIFEST)
        if not os.path.isfile(manifest):
            return None
        os.utime(manifest)  # the least recently used leave first
        return CachedRecording.open(folder)

    def writer(self, path: str, variant: str = "") -> "CacheWriter":
        os.makedirs(self.root, exist_ok=True)
        key = recording_key(path, variant)
        temporary = tempfile.mkdtemp(prefix=f"{_TEMPORARY}{key}-", dir=self.root)
        return CacheWriter(self, temporary, os.path.join(self.root, key))

    def entries(self) -> list[tuple[float, int, str]]:
        """(last used, bytes, folder) of each complete entry, least recently used first."""
        found = []
        for entry in os.scandir(self.root) if os.path.isdir(self.root) else ():
            manifest = os.path.join(entry.path, MANIFEST)
            if entry.is_dir() and os.path.isfile(manifest):
                found.append((os.stat(manifest).st_mtime, folder_bytes(entry.path), entry.path))
        return sorted(found)

    def make_room(self, needed: int, keep: str) -> None:
        """Removes the least recently used entries until `needed` more bytes
        fit under the cap (never `keep`); CacheFull where they cannot."""
        entries = [e for e in self.entries() if e[2] != keep]
        used = sum(size for _, size, _ in entries)
        while entries and used + needed > self.cap:
            _, size, folder = entries.pop(0)
            shutil.rmtree(folder, ignore_errors=True)
            used -= size
        if used + needed > self.cap:
            raise CacheFull(f"the cache's cap of {self.cap / (1 << 30):.3g} GB is reached "
                            f"({self.root})")


class CacheWriter:
    """A recording's columns written into the cache as a feed's commands
    arrive (`columns`, `rows`; the text and recording readers' sink), and
    their index with them. `finish` makes the entry; `abandon` removes what
    was written. Raises CacheFull past the cap and NotCacheable for rows
    that make no single table (a roll, traces)."""

    # How often (in bytes written) the cap is looked at again.
    ROOM_STEP = 256 << 20

    def __init__(self, cache: ColumnarCache, temporary: str, final: str):
        self.cache, self.temporary, self.final = cache, temporary, final
        self.names: list[str] = []
        self.kinds, self.units, self.words = [], [], {}
        self.written, self.rows_sent, self._room = 0, 0, 0
        self.source_bytes = 0  # the bytes of a text file the rows were read from
        self._files, self._index = [], None
        self._rising, self._last = [], []  # per column: rising so far, the last value

    # --- the feed's commands -------------------------------------------------------

    def columns(self, names, kinds=None, units=None, **_) -> None:
        if self.names:
            raise NotCacheable("the columns change within the recording")
        self.names = list(names)
        self.kinds = list(kinds or ["number"] * len(self.names))
        self.units = list(units or [""] * len(self.names))
        self._files = [open(self._column_path(j), "wb") for j in range(len(self.names))]
        self._rising, self._last = [True] * len(self.names), [-np.inf] * len(self.names)
        self._index = IndexWriter(self.temporary, len(self.names))

    def rows(self, block, words=None) -> None:
        block = np.asarray(block)
        if block.dtype.kind == "c" or not self.names:
            raise NotCacheable("complex values" if self.names else "rows before any names")
        block = block.astype(np.float64, copy=False).reshape(-1, len(self.names))
        for column, new in (words or {}).items():
            self.words.setdefault(str(column), []).extend(new)
        self._keep_room(block.nbytes)
        columns = [np.ascontiguousarray(block[:, j]) for j in range(block.shape[1])]
        for j, (file, values) in enumerate(zip(self._files, columns)):
            file.write(values.tobytes())
            self._rising[j] = self._rising[j] and grows(np.concatenate(([self._last[j]], values)))
            self._last[j] = values[-1] if len(values) else self._last[j]
        self._index.add(columns)
        self.written += len(block)
        self.rows_sent = self.written

    def row(self, values) -> None:
        self.rows([values])

    def roll(self) -> None:
        raise NotCacheable("the recording holds several runs")

    def trace_columns(self, *_, **__) -> None:
        raise NotCacheable("the recording holds traces")

    trace = trace_columns

    def pattern(self, text) -> None:
        self.pattern_text = text

    def trace_pattern(self, text) -> None:
        raise NotCacheable("the recording holds traces")

    def drain(self) -> bool:
        return True

    # --- the entry ---------------------------------------------------------------

    def rows_from(self, start: int, words_known: dict, step: int = 1 << 20):
        """The rows written from row `start` on, `step` rows a block, the first
        with the words beyond `words_known` (column -> how many of its words
        the receiver has): for a feed that takes over from here."""
        for file in self._files:
            file.flush()
        words = {int(c): new[words_known.get(int(c), 0):] for c, new in self.words.items()}
        words = {c: new for c, new in words.items() if new} or None
        if self.written <= start:
            return
        columns = [np.memmap(self._column_path(j), np.float64, "r", shape=(self.written,))
                   for j in range(len(self.names))]
        for first in range(start, self.written, step):
            yield np.column_stack([c[first:first + step] for c in columns]), words
            words = None

    def finish(self) -> "CachedRecording":
        for file in self._files:
            file.close()
        levels = self._index.finish() if self._index else 0
        manifest = {"names": self.names, "kinds": self.kinds, "units": self.units,
                    "words": self.words, "rows": self.written, "levels": levels,
                    "pattern": getattr(self, "pattern_text", None),
                    "source_bytes": self.source_bytes, "rising": self._rising}
        with open(os.path.join(self.temporary, MANIFEST), "w", encoding="utf-8") as file:
            json.dump(manifest, file)
        self.cache.make_room(folder_bytes(self.temporary), keep=self.temporary)
        shutil.rmtree(self.final, ignore_errors=True)  # an entry another process left
        os.rename(self.temporary, self.final)
        return CachedRecording.open(self.final)

    def abandon(self) -> None:
        for file in self._files:
            file.close()
        if self._index:
            self._index.close()
        shutil.rmtree(self.temporary, ignore_errors=True)

    def _column_path(self, column: int) -> str:
        return os.path.join(self.temporary, f"c{column}.f64")

    def _keep_room(self, nbytes: int) -> None:
        # Columns and their index (a 16th more) are reckoned as written.
        # Looked at every ROOM_STEP bytes (a 16th of the cap at most), so the
        # cap is passed by that much at most.
        self._room -= nbytes + nbytes // 16
        if self._room < 0:
            written = folder_bytes(self.temporary) + nbytes + nbytes // 16
            self.cache.make_room(written, keep=self.temporary)
            self._room = min(self.ROOM_STEP, self.cache.cap // 16)


@dataclass
class CachedRecording:
    """A complete cache entry: its columns memory-mapped, read-only."""
    folder: str
    names: list[str]
    kinds: list[str]
    units: list[str]
    words: dict
    rows: int
    levels: int
    pattern: str | None = None
    source_bytes: int = 0
    rising: list = dataclasses.field(default_factory=list)  # per column: never decreases

    @classmethod
    def open(cls, folder: str) -> "CachedRecording":
        with open(os.path.join(folder, MANIFEST), encoding="utf-8") as file:
            manifest = json.load(file)
        return cls(folder, **manifest)

    def column(self, index: int) -> np.ndarray:
        path = os.path.join(self.folder, f"c{index}.f64")
        if self.rows == 0:
            return np.empty(0)
        column = np.memmap(path, np.float64, "r", shape=(self.rows,))
        if index < len(self.rising) and self.rising[index]:
            _RISING_MAPS[column._mmap] = True
        return column

    def index(self, column: int) -> list[np.ndarray]:
        """The column's min/max index, level 0 first."""
        return [read_level(self.folder, column, level) for level in range(self.levels)]
