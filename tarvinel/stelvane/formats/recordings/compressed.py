"""Compressed text (gzip, bzip2, xz, zstd): read through and handed to the
text reader as it comes, so that it reads as the same text uncompressed
would, every line accounted for. Concatenated members or frames read as
one text. A compressed recording is read once, not followed. A text
recording inside (a Touchstone file, a JSON array: `sweep.s2p.gz`) goes
to its own reader, whole.

This module imports no Qt: the producer process uses it.
"""

import bz2
import gzip
import importlib
import lzma
import os
import zlib

from .columnar import RecordingError
from . import BINARY_FILE, HEAD_BYTES, RecordingFormat, need, recognise

CHUNK = 1 << 20


def _zstd(file):
    zstandard = need("zstandard")
    return zstandard.ZstdDecompressor().stream_reader(file, read_across_frames=True)


OPENERS = {
    "gzip": lambda file: gzip.GzipFile(fileobj=file, mode="rb"),
    "bz2": lambda file: bz2.BZ2File(file, "rb"),
    "xz": lambda file: lzma.LZMAFile(file, "rb"),
    "zstd": _zstd,
}
# What a codec raises for bytes it cannot take (EOFError: the data ends early).
_BROKEN = (OSError, EOFError, zlib.error, lzma.LZMAError, ValueError)


def read(recording, codec: str) -> str | None:
    with open(recording.path, "rb") as file:
        stream = OPENERS[codec](file)
        reader, read_bytes = None, 0
        try:
            while True:
                data = stream.read(CHUNK)
                if not data:
                    break
                if reader is None:
                    inside = _inside(recording, data[:HEAD_BYTES], codec)
                    if inside is not None:
                        return _read_inside(recording, inside, data, stream)
                    reader = recording.text_reader()
                read_bytes += len(data)
                reader.take(data)
                if recording.stopped():
                    return None
        except RecordingError:
            raise
        except _BROKEN as error:
            cut = reader.finish(broken=True) if reader is not None else None
            dropped = f"; its unfinished line {cut} was dropped" if cut else ""
            raise RecordingError(f"the {codec} data is damaged or cut short after "
                                 f"{read_bytes:,} bytes of text ({_first_line(error)}){dropped}") \
                from None
        finally:
            stream.close()
    if reader is not None:
        reader.finish()
    return f"{read_bytes:,} bytes of text"


def _contents_name(recording) -> str:
    return os.path.splitext(recording.name)[0]


def _inside(recording, head: bytes, codec: str) -> RecordingFormat | None:
    """The text recording format of the decompressed bytes, or None for
    text; RecordingError for a binary file inside."""
    found = recognise(head, _contents_name(recording), texts=recording.texts)
    if found is None or isinstance(found, RecordingFormat) and found.text:
        return found
    what = BINARY_FILE if isinstance(found, str) else f"a {found.name} file inside: decompress it first"
    raise RecordingError(f"{what} ({codec}-compressed)")


def _read_inside(recording, inside: RecordingFormat, first: bytes, stream) -> str | None:
    """Reads a text recording inside, all its bytes decompressed."""
    parts = [first]
    while data := stream.read(CHUNK):
        parts.append(data)
        if recording.stopped():
            return None
    recording.contents, recording.contents_name = b"".join(parts), _contents_name(recording)
    reader = importlib.import_module(f".{inside.module}", __package__)
    done = reader.read(recording, **dict(inside.options))
    return None if done is None else f"{done}, {inside.name}"


def _first_line(error: Exception) -> str:
    text = str(error).strip()
    return text.splitlines()[0] if text else type(error).__name__
