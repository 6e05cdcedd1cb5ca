"""Recordings: files in a format of their own (columnar, scientific,
instrument files, compressed text), told by their first bytes, then by
their name's suffix, and read whole by the format's reader.

    Parquet                PAR1                        parquet.py (pyarrow)
    Arrow IPC / Feather    ARROW1, FEA1                arrowipc.py (pyarrow)
    HDF5, netCDF-4,        \\x89HDF (at 0, 512, ...)     hdf5.py (h5py)
    MATLAB v7.3
    netCDF-3               CDF\\x01, CDF\\x02            scipyio.py (scipy)
    MATLAB v4/v5           MATLAB 5.0, .mat            scipyio.py (scipy)
    NumPy .npy / .npz      \\x93NUMPY, a ZIP of .npy     npy.py
    WAV                    RIFF....WAVE                wav.py (the standard library)
    FITS binary tables     SIMPLE  =                   fits.py (numpy alone)
    JSON arrays            [ {                         jsonarray.py
    Touchstone             .sNp, [Version], # GHz S    touchstone.py
    gzip, bz2, xz, zstd    their magic numbers         compressed.py: the text reader

A binary file none of them knows is said to be one, with no garbage read as
names. The library a reader needs comes with the [recordings] extra; where
it is missing, the problem names it.

A reader module has `read(recording)`: it sends the recording to
`recording.sink` and returns what it read ("1,000 rows of 3 columns"), or
raises RecordingError (one problem) or MissingLibrary.

This module imports no Qt: the producer process uses it.
"""

from dataclasses import dataclass, field
import importlib
import os
import re
from typing import Callable

from ...protocol import FeedClosed
from .columnar import RecordingError

# The bytes looked at to recognise a file.
HEAD_BYTES = 4096
EXTRA = "recordings"
BINARY_FILE = "binary file: no reader for it"
# Control bytes that no text holds (tab, line ends, form feed, backspace and
# escape are text's); past this share of the first bytes a file is binary.
_TEXT_CONTROLS = frozenset(b"\t\n\r\f\v\b\x1b")
_BINARY_SHARE = 0.05
_TEXT_BOMS = (b"\xff\xfe", b"\xfe\xff", b"\x00\x00\xfe\xff")
_HDF5 = b"\x89HDF\r\n\x1a\n"
_JSON_ARRAY = re.compile(rb"^(?:\xef\xbb\xbf)?\s*\[\s*\{")
_TOUCHSTONE_SUFFIX = re.compile(r"\.(s\d+p|ts)$", re.IGNORECASE)


class MissingLibrary(Exception):
    """The library a reader needs is not installed: its name."""


@dataclass(frozen=True)
class RecordingFormat:
    """`recognise(head, path)`: whether the first bytes (and the name) say
    the file is in this format; `suffixes`: names that say so where the
    bytes do not (binary files only, unless `text`); `module`: the reader's
    module in this package; `options`: keywords for its read()."""
    name: str
    module: str
    recognise: Callable[[bytes, str], bool]
    suffixes: tuple[str, ...] = ()
    text: bool = False
    options: tuple = ()


@dataclass
class Recording:
    """What a reader works with: the file, where it sends the rows
    (`sink`, a Feed), how it says a problem or news, when to stop (a
    pipe's reading end, or None), and the text reader for text it finds
    (compressed text)."""
    path: str
    sink: object
    problem: Callable[[str], None]
    info: Callable[[str], None]
    stop: object = None
    text_reader: Callable[[], object] | None = None
    texts: bool = True  # whether text formats are recognised (see recognise)
    rows_sent: list = field(default_factory=lambda: [0])  # [rows handed to the sink so far]
    # Contents handed over whole (a compressed file's), and the name they go by.
    contents: bytes | None = None
    contents_name: str | None = None
    failed: str | None = None  # the problem its reading ended with

    @property
    def name(self) -> str:
        return os.path.basename(self.path)

    def whole(self) -> bytes:
        """The recording's bytes, all of them."""
        if self.contents is not None:
            return self.contents
        with open(self.path, "rb") as file:
            return file.read()

    def stopped(self) -> bool:
        return self.stop is not None and self.stop.poll()


def _at(offset: int, magic: bytes) -> Callable[[bytes, str], bool]:
    return lambda head, path: head[offset:offset + len(magic)] == magic


def _any(*tests) -> Callable[[bytes, str], bool]:
    return lambda head, path: any(test(head, path) for test in tests)


def _hdf5(head: bytes, path: str) -> bool:
    # HDF5 may follow a user block of 512, 1024, 2048 ... bytes (MATLAB v7.3's is 512).
    return any(head[at:at + 8] == _HDF5 for at in (0, 512, 1024, 2048))


def _matlab5(head: bytes, path: str) -> bool:
    return head.startswith(b"MATLAB") and head[126:128] in (b"IM", b"MI") and \
        head[124:126] in (b"\x00\x01", b"\x01\x00")


def _arrow_stream(head: bytes, path: str) -> bool:
    # A stream has no magic: its first message's continuation marker and a
    # length of metadata that fits in the file's start.
    length = int.from_bytes(head[4:8], "little")
    return head[:4] == b"\xff\xff\xff\xff" and 0 < length < HEAD_BYTES and length % 8 == 0


def _zip_of_arrays(head: bytes, path: str) -> bool:
    return head.startswith(b"PK\x03\x04") and (path.lower().endswith(".npz") or b".npy" in head)


def _touchstone(head: bytes, path: str) -> bool:
    if _TOUCHSTONE_SUFFIX.search(path):
        return True
    from .touchstone import looks_like_touchstone
    return looks_like_touchstone(head)


FORMATS = (
    RecordingFormat("Parquet", "parquet", _at(0, b"PAR1"), (".parquet", ".pq")),
    RecordingFormat("Arrow IPC", "arrowipc", _any(_at(0, b"ARROW1"), _arrow_stream),
                    (".arrow", ".feather", ".ipc", ".arrows")),
    RecordingFormat("Feather v1", "arrowipc", _at(0, b"FEA1")),
    RecordingFormat("HDF5", "hdf5", _hdf5, (".h5", ".hdf5", ".hdf", ".he5", ".nc", ".nc4")),
    RecordingFormat("netCDF-3", "scipyio", _any(_at(0, b"CDF\x01"), _at(0, b"CDF\x02")),
                    (".nc", ".cdf"), options=(("kind", "netcdf"),)),
    RecordingFormat("MATLAB", "scipyio", _matlab5, (".mat",), options=(("kind", "matlab"),)),
    RecordingFormat("NumPy", "npy", _at(0, b"\x93NUMPY"), (".npy",)),
    RecordingFormat("NumPy archive", "npy", _zip_of_arrays, (".npz",),
                    options=(("archive", True),)),
    RecordingFormat("WAV", "wav", lambda head, path: head[:4] == b"RIFF" and head[8:12] == b"WAVE",
                    (".wav",)),
    RecordingFormat("FITS", "fits", _at(0, b"SIMPLE  ="), (".fits", ".fit", ".fts")),
    RecordingFormat("gzip", "compressed", _at(0, b"\x1f\x8b"), (".gz",),
                    options=(("codec", "gzip"),)),
    RecordingFormat("bzip2", "compressed", _at(0, b"BZh"), (".bz2",), options=(("codec", "bz2"),)),
    RecordingFormat("xz", "compressed", _at(0, b"\xfd7zXZ\x00"), (".xz",),
                    options=(("codec", "xz"),)),
    RecordingFormat("zstd", "compressed", _at(0, b"\x28\xb5\x2f\xfd"), (".zst",),
                    options=(("codec", "zstd"),)),
    RecordingFormat("JSON array", "jsonarray", lambda head, path: bool(_JSON_ARRAY.match(head)),
                    text=True),
    RecordingFormat("Touchstone", "touchstone", _touchstone, text=True),
)


def looks_binary(head: bytes) -> bool:
    """Whether the first bytes are no text: control bytes that text does not
    hold make more than a few per cent of them (text in UTF-16 or UTF-32
    with a byte-order mark is text)."""
    if not head or head.startswith(_TEXT_BOMS):
        return False
    controls = sum(1 for byte in head if (byte < 32 and byte not in _TEXT_CONTROLS) or byte == 127)
    return controls > _BINARY_SHARE * len(head)


def recognise(head: bytes, path: str, texts: bool = True) -> RecordingFormat | str | None:
    """The recording format of a file that starts with `head`; BINARY_FILE
    for a binary file none knows; None for text (the text reader's).
    `texts`: whether the text formats (Touchstone, JSON arrays) are
    recognised too (not where the command line gave the format)."""
    binary = looks_binary(head)
    formats = [f for f in FORMATS if not f.text or texts and not binary]
    for fmt in formats:
        if fmt.recognise(head, path):
            return fmt
    lower = path.lower()
    for fmt in formats:
        if (binary or fmt.text) and any(lower.endswith(suffix) for suffix in fmt.suffixes):
            return fmt
    return BINARY_FILE if binary else None


def read(fmt: RecordingFormat, recording: Recording) -> str | None:
    """Reads a recognised file whole; why it ended, or None where the window
    closed. Whatever goes wrong is one problem, never a traceback."""
    recording.info(f"reading {recording.name}: {fmt.name}")
    try:
        reader = importlib.import_module(f".{fmt.module}", __package__)
        done = reader.read(recording, **dict(fmt.options))
    except MissingLibrary as missing:
        return _said(recording, f"reading {fmt.name} needs {missing}: "
                                f"pip install 'tarvinel-stelvane[{EXTRA}]'")
    except RecordingError as error:
        return _said(recording, str(error))
    except MemoryError:
        return _said(recording, f"too large to read into memory as {fmt.name}")
    except FeedClosed:
        raise
    except Exception as error:  # noqa: BLE001 - a library's own error for a bad file
        text = str(error).strip().splitlines()[0] if str(error).strip() else type(error).__name__
        text = "".join(c if c.isprintable() else "?" for c in text)
        kept = recording.rows_sent[0]
        return _said(recording, f"cannot be read as {fmt.name}, damaged or cut short: {text}"
                     + (f" (the {kept:,} rows before it are kept)" if kept else ""))
    if done is None:
        return None
    return f"end of file: {done} ({fmt.name})"


def _said(recording: Recording, text: str) -> str:
    message = f"{recording.name}: {text}"
    recording.problem(message)
    recording.failed = message
    return message


def need(module: str, library: str | None = None):
    """Imports `module`, or raises MissingLibrary naming the package to install."""
    try:
        return importlib.import_module(module)
    except ImportError:
        raise MissingLibrary(library or module) from None
