"""Text with key=value pairs inside, as ping prints its replies:

    64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.043 ms

The pairs are the values (icmp_seq, ttl, time); a unit word right after a
value (`ms`) is its column's unit; the words around them are the tool's own
talk, left out. A line without a pair (ping's banner and statistics) holds
no values: it is passed over as a title line.

This module imports no Qt: the producer process uses it.
"""

import re

from .units import SUFFIXES

_PAIR = re.compile(r"([A-Za-z_][\w.\-/]*)=([^\s=,;]+)$")


def text_pairs(line: str) -> dict | None:
    """{name: (value text, unit)} of the pairs inside a line of text, or
    None where it holds no pair."""
    tokens = line.split()
    pairs, last = {}, None
    for token in tokens:
        pair = _PAIR.match(token)
        if pair:
            last = pair.group(1)
            pairs[last] = (pair.group(2), "")
            continue
        if last is not None and token in SUFFIXES and not pairs[last][1]:
            # A unit word after its value: the value carries it, so that a
            # reply in another unit (1.2 s among ms) is converted.
            pairs[last] = (pairs[last][0] + token, token)
        last = None
    return pairs or None


def has_text_pairs(line: str) -> bool:
    """Whether a line holds pairs among words that are no pairs (ping's
    reply); a line of pairs alone is label=value, not this."""
    pairs = text_pairs(line)
    if not pairs:
        return False
    units = sum(1 for _, unit in pairs.values() if unit)
    others = len(line.split()) - len(pairs) - units
    return others > 0 and any(c.isalpha() for token in line.split()
                              if not _PAIR.match(token) for c in token)
