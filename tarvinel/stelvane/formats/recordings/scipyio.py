"""netCDF-3 files and MATLAB v4/v5 files (scipy.io): their variables as one
table (see arrays.py). netCDF's coordinate variables (`time` along the
dimension `time`) come first, so that one is the X; its fill values are
NaN, its scale and offset applied, "days since ..." times read as times.
A MATLAB struct's fields are columns named `struct.field`.

Both formats are read into memory whole (scipy reads them so). scipy's
MATLAB reader can crash the process on a damaged file (a segmentation
fault in its compiled part), so a MATLAB file is loaded in a child
interpreter of its own that hands the variables back pickled: a crash
there is one problem, and the source goes on to end as usual.

This module imports no Qt: the producer process uses it.
"""

import pickle
import signal
import subprocess
import sys

import numpy as np

from .arrays import ArrayColumns, text_of
from .columnar import RecordingError, send_recording
from . import need

# The child: loads the file, writes its variables (the header's left out) pickled.
_LOAD_MATLAB = """
import pickle, sys
from scipy.io import loadmat
found = loadmat(sys.argv[1], squeeze_me=False, struct_as_record=True)
pickle.dump({k: v for k, v in found.items() if not k.startswith("__")}, sys.stdout.buffer, 5)
"""
# Its crash on a damaged file is a problem the window reports, not a core
# file left in the user's working directory.
_NO_CORE = "import resource; resource.setrlimit(resource.RLIMIT_CORE, (0, 0))\n"
WAIT_STEP = 0.1


def read(recording, kind: str) -> str | None:
    io = need("scipy.io", "scipy")
    found = ArrayColumns()
    if kind == "netcdf":
        _netcdf(io, recording.path, found)
    else:
        variables = _load_matlab(recording)
        if variables is None:
            return None
        for name, value in variables.items():
            _add_matlab(found, name, value, depth=0)
    return send_recording(recording, found.table(), found.skipped)


def _netcdf(io, path: str, found: ArrayColumns) -> None:
    with io.netcdf_file(path, "r", mmap=False, maskandscale=True) as stored:
        variables = stored.variables
        order = sorted(variables, key=lambda name: variables[name].dimensions != (name,))
        for name in order:
            variable = variables[name]
            found.add(name, _filled(variable[:]), unit=text_of(getattr(variable, "units", b"")))


def _filled(values) -> np.ndarray:
    """Masked (missing) values as NaN; netCDF's rows of characters as words."""
    if np.ma.isMaskedArray(values):
        if values.dtype.kind in "biuf":
            return np.ma.filled(values.astype(np.float64), np.nan)
        values = np.ma.getdata(values)
    if values.dtype == np.dtype("S1") and values.ndim == 2:
        return np.ascontiguousarray(values).view(f"S{values.shape[1]}").ravel()
    return values


def _load_matlab(recording) -> dict | None:
    """The variables of a MATLAB file, loaded by a child interpreter; None
    where the window closed first."""
    child = subprocess.Popen([sys.executable, "-c", _NO_CORE + _LOAD_MATLAB, recording.path],
                             stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    try:
        while True:
            try:
                out, err = child.communicate(timeout=WAIT_STEP)
                break
            except subprocess.TimeoutExpired:
                if recording.stopped():
                    return None
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    if child.returncode < 0:
        raise RecordingError("damaged: the MATLAB reader crashed on it "
                             f"({signal.Signals(-child.returncode).name})")
    if child.returncode:
        lines = err.decode("utf-8", "replace").strip().splitlines() or ["no message"]
        raise RecordingError(f"cannot be read as MATLAB, damaged or cut short: {lines[-1]}")
    return pickle.loads(out)


def _add_matlab(found: ArrayColumns, name: str, value, depth: int) -> None:
    if not isinstance(value, np.ndarray):
        found.skipped.add(name, f"a MATLAB {type(value).__name__}")
    elif value.dtype.names and value.size == 1 and depth == 0:
        for field in value.dtype.names:
            _add_matlab(found, f"{name}.{field}", value.flat[0][field], depth + 1)
    elif value.dtype.names:
        found.skipped.add(name, "a MATLAB struct array" if depth == 0 else "a nested struct")
    elif value.dtype.kind == "U":
        found.skipped.add(name, "MATLAB text")
    elif value.dtype.kind == "O":
        found.skipped.add(name, "a MATLAB cell array")
    else:
        found.add(name, value)
