"""netCDF-3 files and MATLAB v4/v5 files (scipy.io): their variables as one
table (see arrays.py). netCDF's coordinate variables (`time` along the
dimension `time`) come first, so that one is the X; its fill values are
NaN, its scale and offset applied, "days since ..." times read as times.
A MATLAB struct's fields are columns named `struct.field`.

Both formats are read into memory whole (scipy reads them so).

This module imports no Qt: the producer process uses it.
"""

import numpy as np

from .arrays import ArrayColumns, text_of
from .columnar import send_recording
from .recordings import need


def read(recording, kind: str) -> str | None:
    io = need("scipy.io", "scipy")
    found = ArrayColumns()
    (_netcdf if kind == "netcdf" else _matlab)(io, recording.path, found)
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


def _matlab(io, path: str, found: ArrayColumns) -> None:
    variables = io.loadmat(path, squeeze_me=False, struct_as_record=True)
    for name, value in variables.items():
        if name.startswith("__"):
            continue  # the file's header and version
        _add_matlab(found, name, value, depth=0)


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
