"""How many rows a file holds, told without reading them: a text file's
estimated from its first lines, the others' from their footer or header.

This module imports no Qt: it runs in the producer process.
"""

import os

from ..formats.recordings.arrowipc import file_rows

# The first bytes of text whose lines estimate the file's rows.
SAMPLE_BYTES = 1 << 16
# Formats whose footer tells their rows and columns: the room they take in
# the cache is made before the conversion starts.
SIZED = ("parquet", "arrowipc")


def estimated_rows(path: str, found) -> int | None:
    """About how many rows the file holds; None where it is not told cheaply."""
    if found is None:
        with open(path, "rb") as file:
            sample = file.read(SAMPLE_BYTES)
        lines = sample.count(b"\n")
        return os.path.getsize(path) * max(lines, 1) // max(len(sample), 1)
    module = getattr(found, "module", None)
    if module in SIZED:
        shape = footer_shape(path, module)
        return shape and shape[0]
    if module == "compressed":
        return 8 * os.path.getsize(path) // 40  # compressed text: ~8:1, 40 bytes a line
    if module == "npy" and not dict(found.options).get("archive"):
        return _npy_rows(path)
    if module in _COUNTED:
        try:
            return _COUNTED[module](path)
        except Exception:  # noqa: BLE001 - the library's own errors: its reader says them
            return None
    return None


def _hdf5_rows(path: str) -> int:
    """The length of the longest dataset (a table of records, or a column)."""
    import h5py

    lengths = [0]
    with h5py.File(path, "r") as stored:
        stored.visititems(lambda name, item: lengths.append(max(item.shape, default=0))
                          if isinstance(item, h5py.Dataset) else None)
    return max(lengths)


def _wav_rows(path: str) -> int:
    """The frames its header counts; where the standard library cannot read
    the header (floating-point samples), the most its size could hold."""
    frames = _wav_frames(path)
    return os.path.getsize(path) if frames is None else frames


def _wav_frames(path: str) -> int | None:
    """The frames its header counts, None where the standard library cannot read it."""
    import wave

    try:
        with wave.open(path, "rb") as stored:
            return stored.getnframes()
    except (wave.Error, EOFError):
        return None


# Readers that stream their rows, and how a file's rows are counted without reading them.
_COUNTED = {"hdf5": _hdf5_rows, "wav": _wav_rows}


def _npy_rows(path: str) -> int | None:
    """The rows of a .npy as its header says (its longest side)."""
    import numpy as np

    try:
        with open(path, "rb") as file:
            version = np.lib.format.read_magic(file)
            shape, _, _ = (np.lib.format.read_array_header_1_0 if version == (1, 0)
                           else np.lib.format.read_array_header_2_0)(file)
    except (ValueError, OSError):
        return None  # its reader says what is wrong
    return max(shape) if shape else None


def footer_shape(path: str, module: str) -> tuple[int, int] | None:
    """(rows, columns) as the footer of a file in a SIZED format tells
    them; None for a damaged one (its reader says what is wrong)."""
    try:
        if module == "parquet":
            import pyarrow.parquet as parquet
            footer = parquet.ParquetFile(path).metadata
            return footer.num_rows, footer.num_columns
        return file_rows(path)
    except Exception:  # noqa: BLE001 - pyarrow's own errors for a bad footer
        return None


def sized_shape(path: str, found) -> tuple[int, int] | None:
    """(rows, columns) where the file's footer tells them, else None."""
    module = getattr(found, "module", None)
    return footer_shape(path, module) if module in SIZED else None


def told_rows(path: str, found, shape) -> int | None:
    """The rows the file itself tells (its footer, or the header of a .npy,
    an HDF5 or a WAV file), whose conversion counts no bytes read: the
    share of its progress messages."""
    if shape is not None:
        return shape[0]
    module = getattr(found, "module", None)
    if module == "wav":
        return _wav_frames(path)
    return estimated_rows(path, found) if module in ("npy", "hdf5") else None
