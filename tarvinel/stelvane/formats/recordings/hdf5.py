"""HDF5 files (h5py), netCDF-4 and MATLAB v7.3 among them: a table of
records (a compound dataset) where there is one, else the 1-D datasets of
one length as columns, found in every group and named by their path. A
netCDF coordinate (a dimension scale, as `time`) comes first, so that it is
the X; times kept as "seconds since ..." become times; `units` attributes
are the columns' units. MATLAB v7.3 keeps its matrices transposed: a
1000×3 matrix is three columns of 1000 rows here as in MATLAB.

This module imports no Qt: the producer process uses it.
"""

from .arrays import ArrayColumns, shape_text, text_of
from .columnar import send_recording
from . import need

# What netCDF-4 and MATLAB keep for themselves, holding no data of the user's.
_PHONY = "This is a netCDF dimension but not a netCDF variable"
_MATLAB_OWN = ("#refs#", "#subsystem#")
_MATLAB_NOT_NUMBERS = ("char", "cell", "struct", "function_handle")


def read(recording) -> str | None:
    h5py = need("h5py")
    with open(recording.path, "rb") as file:
        matlab = file.read(10) == b"MATLAB 7.3"
    with h5py.File(recording.path, "r") as stored:
        found = ArrayColumns()
        datasets = []
        stored.visititems(lambda name, item: datasets.append((name, item))
                          if isinstance(item, h5py.Dataset) else None)
        records = [(name, item) for name, item in datasets if item.dtype.names]
        if records:  # the largest table of records is the table
            name, table = max(records, key=lambda pair: pair[1].size)
            found.add(name, table)
            _pass_over(found, [(n, item) for n, item in datasets if n != name])
        else:
            for name, item in sorted(datasets, key=lambda pair: not _is_coordinate(pair[1])):
                _add(found, name, item, h5py, matlab)
        return send_recording(recording, found.table(), found.skipped)


def _is_coordinate(item) -> bool:
    return text_of(item.attrs.get("CLASS")) == "DIMENSION_SCALE"


def _pass_over(found: ArrayColumns, datasets) -> None:
    for name, item in datasets:
        if not text_of(item.attrs.get("NAME")).startswith(_PHONY):
            found.skipped.add(name, f"beside the table of records, {shape_text(item.shape)}")


def _add(found: ArrayColumns, name: str, item, h5py, matlab: bool) -> None:
    attrs = item.attrs
    if text_of(attrs.get("NAME")).startswith(_PHONY):
        return  # a dimension without a variable: no data
    if matlab and name.startswith(_MATLAB_OWN):
        return
    matlab_class = text_of(attrs.get("MATLAB_class"))
    if matlab and matlab_class in _MATLAB_NOT_NUMBERS:
        found.skipped.add(name, f"a MATLAB {matlab_class}")
        return
    if h5py.check_dtype(ref=item.dtype) is not None:
        found.skipped.add(name, "references")
        return
    fill = attrs.get("_FillValue")
    found.add(name, item, unit=text_of(attrs.get("units")), transposed=matlab,
              fill=None if fill is None else fill.item() if hasattr(fill, "item") else fill)
