"""NumPy's .npy (memory-mapped: read block by block as it is sent) and .npz
archives (each array read whole): a 1-D array is a column named after the
file (an archive's after its array), a narrow 2-D array one column per
entry of its short side, an array of records one column per field (see
arrays.py). Arrays of Python objects are not read: loading them runs the
pickled code they may hold.

This module imports no Qt: the producer process uses it.
"""

import os

import numpy as np

from .arrays import ArrayColumns
from .columnar import RecordingError, send_recording

_PICKLED = "holds Python objects (pickled), which are not read: loading them could run code"


def _check_header(path: str) -> None:
    """Raises RecordingError where the .npy's header says Python objects, or
    counts more bytes than the file holds."""
    with open(path, "rb") as file:
        version = np.lib.format.read_magic(file)
        read_header = np.lib.format.read_array_header_1_0 if version == (1, 0) else \
            np.lib.format.read_array_header_2_0
        shape, _, dtype = read_header(file)
        wanted = file.tell() + int(np.prod(shape)) * dtype.itemsize
    if dtype.hasobject:
        raise RecordingError(_PICKLED)
    held = os.path.getsize(path)
    if held < wanted:
        raise RecordingError(f"cut short: it holds {held:,} of the {wanted:,} bytes its header "
                             "counts")


def _add_member(found: ArrayColumns, stored, name: str) -> None:
    try:
        found.add(name, stored[name])
    except ValueError as error:
        if "allow_pickle" not in str(error):
            raise
        found.skipped.add(name, "Python objects (pickled), not loaded")


def read(recording, archive: bool = False) -> str | None:
    found = ArrayColumns()
    try:
        if archive:
            with np.load(recording.path, allow_pickle=False) as stored:
                for name in stored.files:
                    _add_member(found, stored, name)
        else:
            _check_header(recording.path)
            stem = os.path.splitext(recording.name)[0] or "values"
            found.add(stem, np.load(recording.path, mmap_mode="r", allow_pickle=False))
    except ValueError as error:
        if "allow_pickle" in str(error):
            raise RecordingError(_PICKLED) from None
        raise
    return send_recording(recording, found.table(), found.skipped)
