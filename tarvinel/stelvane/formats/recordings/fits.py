"""FITS binary tables, read here with numpy alone: a binary table is rows of
fixed width whose fields are big-endian numbers, so a structured dtype over
a memory map reads it, and no astronomy library is needed for that. The
first binary table of the file is the table (TTYPEn its names, TUNITn its
units, TSCALn/TZEROn applied, TNULLn as missing); images and further tables
are listed as passed over, and so are columns of bits or of
variable-length arrays.

This module imports no Qt: the producer process uses it.
"""

import math
import os
import re

import numpy as np

from .arrays import ArrayColumn, shape_text
from .columnar import MATRIX_COLUMNS, RecordingError, Skipped, Table, send_recording, unique_names

BLOCK = 2880
CARD = 80
# TFORM letters: the big-endian dtype of one value.
_TYPES = {"L": "S1", "B": "u1", "I": ">i2", "J": ">i4", "K": ">i8", "A": "S1",
          "E": ">f4", "D": ">f8", "C": ">c8", "M": ">c16"}
_FORM = re.compile(r"^(\d*)([A-Z])")
_UNREAD = {"X": "bits", "P": "variable-length arrays", "Q": "variable-length arrays"}


def read(recording) -> str | None:
    size = os.path.getsize(recording.path)
    skipped, table = Skipped(), None
    with open(recording.path, "rb") as file:
        offset, number = 0, 0
        while offset < size:
            header, data_at = _header(file, offset, number)
            data_size = _data_size(header)
            kind = header.get("XTENSION", "PRIMARY")
            if kind == "BINTABLE" and table is None:
                table = _binary_table(recording, header, data_at, size, skipped)
            elif data_size:
                what = "another table" if kind == "BINTABLE" else \
                    f"{kind.lower()}, {shape_text(_axes(header))}"
                skipped.add(header.get("EXTNAME", f"HDU {number}"), what)
            offset = data_at + math.ceil(data_size / BLOCK) * BLOCK
            number += 1
    if table is None:
        cut = " (it is cut short)" if offset > size else ""
        raise RecordingError(f"no binary table in it{cut}" +
                             (f"; {skipped.message()}" if skipped.items else ""))
    return send_recording(recording, table, skipped)


def _header(file, offset: int, number: int) -> tuple[dict, int]:
    """The cards of the header at `offset`, and where its data starts."""
    cards = {}
    file.seek(offset)
    while True:
        block = file.read(BLOCK)
        if len(block) < BLOCK:
            raise RecordingError(f"cut short in the header of HDU {number}")
        offset += BLOCK
        for at in range(0, BLOCK, CARD):
            card = block[at:at + CARD].decode("ascii", "replace")
            key = card[:8].strip()
            if key == "END":
                return cards, offset
            if card[8:10] == "= ":
                cards[key] = _value(card[10:])


def _value(text: str):
    """A card's value: a quoted text ('' inside is a quote), T or F, a number."""
    text = text.strip()
    if text.startswith("'"):
        end = 1
        while True:
            end = text.find("'", end)
            if end < 0 or text[end + 1:end + 2] != "'":
                break
            end += 2
        return text[1:end if end > 0 else None].replace("''", "'").rstrip()
    text = text.split("/", 1)[0].strip()
    if text in ("T", "F"):
        return text == "T"
    try:
        return int(text)
    except ValueError:
        try:
            return float(text.replace("D", "E"))
        except ValueError:
            return text


def _axes(header: dict) -> tuple:
    return tuple(int(header.get(f"NAXIS{i}", 0)) for i in range(1, int(header.get("NAXIS", 0)) + 1))


def _data_size(header: dict) -> int:
    axes = _axes(header)
    if not axes:
        return 0
    values = int(header.get("PCOUNT", 0)) + math.prod(axes)
    return abs(int(header.get("BITPIX", 8))) // 8 * int(header.get("GCOUNT", 1)) * values


def _binary_table(recording, header: dict, data_at: int, size: int, skipped: Skipped) -> Table:
    width, rows = int(header.get("NAXIS1", 0)), int(header.get("NAXIS2", 0))
    fields, columns = _fields(header, skipped)
    present = min(rows, (size - data_at) // width) if width else 0
    if present < rows:
        recording.problem(f"{recording.name}: cut short: it holds {present:,} of the {rows:,} "
                          "rows its table header counts")
    dtype = np.dtype({"names": [f[0] for f in fields], "formats": [f[1] for f in fields],
                      "offsets": [f[2] for f in fields], "itemsize": width})
    stored = np.memmap(recording.path, dtype, "r", data_at, (present,)) if present else \
        np.zeros(0, dtype)
    for column in columns:
        column.array, column.rows = stored, present
    return Table(unique_names([c.name for c in columns]), present,
                 lambda start, stop: [c.values(start, stop) for c in columns],
                 units=[c.unit for c in columns])


def _fields(header: dict, skipped: Skipped) -> tuple[list, list[ArrayColumn]]:
    """The table's fields (name, dtype, offset in the row) and its columns."""
    fields, columns, offset = [], [], 0
    for n in range(1, int(header.get("TFIELDS", 0)) + 1):
        form = str(header.get(f"TFORM{n}", "")).strip().upper()
        parts = _FORM.match(form)
        repeat, letter = (int(parts.group(1) or 1), parts.group(2)) if parts else (0, "?")
        name = str(header.get(f"TTYPE{n}", f"c{n}")) or f"c{n}"
        byte_size = _byte_size(letter, repeat)
        if letter not in _TYPES:
            skipped.add(name, _UNREAD.get(letter, f"of form {form}"))
        elif repeat > MATRIX_COLUMNS and letter != "A" or repeat == 0:
            skipped.add(name, f"{repeat} values a row")
        else:
            field = f"f{n}"
            dtype = f"S{repeat}" if letter == "A" else np.dtype(_TYPES[letter])
            fields.append((field, dtype if letter == "A" or repeat == 1 else (dtype, (repeat,)), offset))
            columns.extend(_columns(header, n, name, field, letter, repeat))
        offset += byte_size
    return fields, columns


def _byte_size(letter: str, repeat: int) -> int:
    if letter == "X":
        return (repeat + 7) // 8
    if letter in "PQ":
        return 8 if letter == "P" else 16
    return repeat * np.dtype(_TYPES.get(letter, "u1")).itemsize


def _columns(header: dict, n: int, name: str, field: str, letter: str, repeat: int):
    unit = str(header.get(f"TUNIT{n}", ""))
    convert = _converter(header, n, letter)
    if letter == "A" or repeat == 1:
        return [ArrayColumn(name, None, slice(None), 0, unit, field=field, convert=convert)]
    return [ArrayColumn(f"{name}[{i}]", None, (slice(None), i), 0, unit, field=field,
                        convert=convert) for i in range(repeat)]


def _converter(header: dict, n: int, letter: str):
    """Logicals as 1/0 (NaN where undefined), the null value as NaN, then
    TSCALn and TZEROn."""
    if letter == "A":
        return lambda values: np.char.rstrip(values)
    if letter == "L":
        return lambda values: np.where(values == b"T", 1.0, np.where(values == b"F", 0.0, np.nan))
    scale, zero = float(header.get(f"TSCAL{n}", 1.0)), float(header.get(f"TZERO{n}", 0.0))
    null = header.get(f"TNULL{n}") if letter in "BIJK" else None
    if scale == 1.0 and zero == 0.0 and null is None:
        return None

    def convert(values: np.ndarray) -> np.ndarray:
        numbers = values.astype(np.complex128 if letter in "CM" else np.float64)
        if null is not None:
            numbers[values == null] = np.nan
        return numbers * scale + zero

    return convert
