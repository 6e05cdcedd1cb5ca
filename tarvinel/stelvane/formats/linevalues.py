"""The values of one line of the keyed line formats (lines.py reads them):
label:value pairs, a marked `>name:value` line, a JSON object.

This module imports no Qt: the producer process uses it.
"""

import json
import re

from .values import is_missing

_LABEL = r"[A-Za-z_][\w.\-/%°]*"
_PAIR = re.compile(rf"\s*({_LABEL})\s*[:=]\s*(.*?)\s*$")
_LABEL_ONLY = re.compile(rf"\s*({_LABEL})\s*$")
# Lines that open or close a JSON array of objects, one object a line.
ARRAY_ENDS = frozenset(("[", "]", "],", "[]"))
_MARKED = re.compile(r">([^:|§]+):([^|§]*)(?:§([^|]*))?(?:\|.*)?$")


def keyvalue_pairs(line: str):
    """The (label, value) pairs of a label:value line, label None for a bare
    value and value None for a label alone; None when a piece is neither."""
    text = line.strip()
    if "," in text or ";" in text:
        pieces = re.split(r"[,;]", text)
    else:
        pieces = _space_pieces(text)
    pairs = []
    for piece in pieces:
        if not piece.strip():
            continue
        pair = _PAIR.match(piece)
        if pair:
            pairs.append((pair.group(1), pair.group(2).strip().strip('"')))
        elif _LABEL_ONLY.match(piece) and not is_missing(piece):
            pairs.append((piece.strip(), None))
        elif " " not in piece.strip():
            pairs.append((None, piece.strip()))
        else:
            return None
    return pairs


def _space_pieces(text: str) -> list[str]:
    """Pieces of a line whose pairs are separated by spaces or tabs; a
    label with its ':' or '=' apart from the value ("temp: 21.5") is one."""
    pieces = []
    for token in text.split():
        if pieces and pieces[-1][-1] in ":=":
            pieces[-1] += token
        else:
            pieces.append(token)
    return pieces


def marked_value(line: str):
    """(name, time text or None, value text, unit) of a `>` line, or None."""
    match = _MARKED.match(line.strip())
    if not match:
        return None
    name, rest, unit = match.group(1).strip(), match.group(2), (match.group(3) or "").strip()
    time_text, _, value = rest.rpartition(":")
    return name, time_text or None, value.strip(), unit


def json_values(line: str) -> dict | None:
    """A JSON line's values by flat name (a.b for nested keys), or None
    where the line holds no object. A line of a JSON array written one
    object a line (`[{...},`, `{...},`, `{...}]`) is read as its object."""
    text = line.strip()
    if text[:1] == "[" and text[1:].lstrip()[:1] == "{":
        text = text[1:]
    text = text.rstrip(",").rstrip()
    if text[-1:] == "]" and text[:-1].rstrip()[-1:] == "}":
        text = text[:-1].rstrip().rstrip(",")
    try:
        value = json.loads(text)
        if not isinstance(value, dict):
            return None
        flat = {}
        _flatten(value, "", flat)
    except (ValueError, RecursionError):  # no JSON, or nested too deep to read
        return None
    return flat


def _flatten(value, prefix: str, flat: dict) -> None:
    if isinstance(value, dict):
        for key, item in value.items():
            _flatten(item, f"{prefix}{key}." if isinstance(item, (dict, list)) else
                     f"{prefix}{key}", flat)
        return
    if isinstance(value, list):
        for index, item in enumerate(value):
            _flatten(item, f"{prefix}{index}." if isinstance(item, (dict, list)) else
                     f"{prefix}{index}", flat)
        return
    flat[prefix.rstrip(".")] = value
