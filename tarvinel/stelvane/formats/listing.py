"""Name/value listings printed once per snapshot, one row per snapshot:

    #kernel                                   nstat -as: a name, its value
    IpInReceives          209759   0.0        (and its rate, `.2`)
    MemTotal:       24684748 kB               /proc/meminfo: a unit after the value
                 total     used     free      free: `Mem.used`, `Swap.free`
    Mem:      24683728  1462848 21968864
    Swap:            0        0        0
    # TYPE http_requests_total counter        Prometheus text exposition: the
    http_requests_total{code="200"} 1027      labels stay in the column name
    Inter-|   Receive       |  Transmit       /proc/net/dev: `iface.group.name`
     face |bytes    packets |bytes    packets   from its two header lines
        lo: 150652810 43389  150652810 43389
    1: lo: <LOOPBACK,UP> mtu 65536 ...        ip -s link: `iface.RX.bytes`
        RX:  bytes packets errors
        150652810   43389      0

A snapshot ends where a name comes again: the values so far are one row,
and the repeated name begins the next. Lines of other shapes (ip's
`link/ether` line, a tool's banner) are titles.

This module imports no Qt: the producer process uses it.
"""

import re

from ..protocol import NUMBER
from .units import SUFFIXES
from .values import WORD, value_class

# A Prometheus sample's name with its labels, the value, a timestamp maybe.
_SAMPLE = re.compile(r"([A-Za-z_:][\w:]*\{.*\})\s+(\S+)(?:\s+(-?\d+))?$")
# ip's line of an interface: "2: eth0@if3: <BROADCAST,...> mtu 1500 ...".
_ENTITY = re.compile(r"\d+:\s+([^\s:@]+)(?:@\S+)?:\s+<")
# A header that names the values of the line below: "RX:  bytes packets".
_LABELLED = re.compile(r"([A-Za-z][\w-]*):\s+([A-Za-z].*)$")
# Distinct names a listing shows before any comes again: fewer tell nothing.
_FEWEST_NAMES = 4


def _values(tokens) -> bool:
    return bool(tokens) and all(value_class(token) == NUMBER for token in tokens)


def _named(text: str):
    """(name, value texts) of a `name value...` line, or None."""
    sample = _SAMPLE.match(text)
    if sample:
        name, value, stamp = sample.groups()
        return name, [value] + ([stamp] if stamp else [])
    tokens = text.split()
    if len(tokens) == 3 and tokens[2] in SUFFIXES:  # /proc/meminfo: "MemTotal:  2468 kB"
        tokens = [tokens[0], tokens[1] + tokens[2]]
    if len(tokens) < 2 or value_class(tokens[0].rstrip(":")) != WORD or not _values(tokens[1:]):
        return None
    name = tokens[0][:-1] if tokens[0].endswith(":") else tokens[0]
    return (name, tokens[1:]) if name and not name[0].isdigit() else None


class Listing:
    """A listing's lines one by one: `line(text)` gives the (name, value
    text) pairs a line holds and whether it was a header (names) line."""

    def __init__(self):
        self._entity = ""     # ip's interface the lines below belong to
        self._names = None    # the names a header gave the values below
        self._groups = None   # /proc/net/dev's groups (Receive, Transmit)
        self._columns = None  # free's names line over its labelled rows

    def line(self, text: str) -> tuple[list, bool]:
        entity = _ENTITY.match(text)
        if entity:
            self._entity = entity.group(1) + "."
            return [], False
        named = _named(text)
        if named:
            name, values = named
            if self._columns and _labelled_row(text, values, self._columns):
                return [(f"{name}.{column}", value)
                        for column, value in zip(self._columns, values)], False
            return self._pairs(name, values), False
        tokens = text.split()
        if self._names and _values(tokens) and len(tokens) == len(self._names):
            return [(f"{self._entity}{name}", value) for name, value in zip(self._names, tokens)], False
        return [], self._header(text)

    def _pairs(self, name: str, values) -> list:
        names = self._names if self._names and len(self._names) == len(values) else None
        if names is None:
            return [(name if i == 0 else f"{name}.{i + 1}", value) for i, value in enumerate(values)]
        return [(f"{name}.{part}", value) for part, value in zip(names, values)]

    def _header(self, text: str) -> bool:
        """Takes a header line's names (True), or says it is none (False)."""
        if "|" in text:
            pieces = text.split("|")
            if self._groups is None or len(pieces) != len(self._groups):
                self._groups, self._names = [p.strip().lower() for p in pieces], None
                return True
            self._names = [f"{group}.{name}" for group, piece in zip(self._groups[1:], pieces[1:])
                           for name in piece.split()]
            return True
        labelled = _LABELLED.match(text)
        if labelled and not _values(labelled.group(2).split()):
            self._names = [f"{labelled.group(1)}.{name}" for name in labelled.group(2).split()]
            return True
        if _words(text.split()) and ":" not in text:  # (ip's link lines hold addresses)
            self._columns = text.split()
            return True
        return False


def _words(tokens) -> bool:
    return len(tokens) >= 2 and all(value_class(token) == WORD for token in tokens)


def _labelled_row(text: str, values, columns) -> bool:
    """Whether a line is a row of a table of labelled rows ("Mem:  2468
    1462", as free prints under its names line): a label with its colon,
    then values, two at least and no more than the names."""
    return text.split()[0].endswith(":") and 2 <= len(values) <= len(columns)


def is_listing(content) -> bool:
    """Whether lines (those that are no comments, stripped) are a listing:
    ip's interface lines, a header of groups drawn apart by bars over named
    values, or at least _FEWEST_NAMES lines of a name and its values whose
    names differ until the listing begins again, under no names line of a
    table (as many names as a line has values, a table of words), or rows
    labelled with a colon under a names line (`free`: `Mem.used`)."""
    if any(_ENTITY.match(line) for line in content) and any(
            _LABELLED.match(line) for line in content):
        return True
    named = [(i, _named(line)) for i, line in enumerate(content)]
    named = [(i, found) for i, found in named if found]
    if not named:
        return False
    first = named[0][0]
    if 0 < first <= 2 and all("|" in line for line in content[:first]):
        return True  # /proc/net/dev's two lines of groups and names
    if first and _words(content[first - 1].split()) and _labelled_row(
            content[first], named[0][1][1], content[first - 1].split()):
        return True  # free's rows, each under its label, below a names line
    if 2 * len(named) <= len(content):
        return False
    if first and len(content[first - 1].split()) - len(named[0][1][1]) in (0, 1):
        return False  # a names line over them (the first column's name, or none): a table
    seen = []
    for _, (name, _) in named:
        if name in seen:
            break
        seen.append(name)
    return len(seen) >= _FEWEST_NAMES


def may_be_listing(content) -> bool:
    """Whether lines so far are a listing's beginning (named values, no name
    twice, too few yet to tell): the next lines decide."""
    named = [_named(line) for line in content]
    names = [found[0] for found in named if found]
    if not 0 < len(names) < _FEWEST_NAMES or len(set(names)) < len(names):
        return False
    first = next(i for i, found in enumerate(named) if found)
    return first <= 2 and all(named[first:])  # under a header of two lines at most
