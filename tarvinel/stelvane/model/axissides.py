"""Which curves go on the right-hand Y axis.

A pattern part whose Y ends with the regular expression comment `(?#right)`
puts the pairs it matches on the right axis:

    time,volts;time,(amps|watts)(?#right)

A comment matches nothing, so the toolbar matches the pattern as ever; the
mark is read here, from the same text. A pair belongs to the first part
that matches it whole, as the toolbar decides. The legend's menu moves a
curve to either side, whatever its pattern says, for as long as its pair is
shown.
"""

from collections.abc import Iterable
import re

# The mark, after the toolbar drops the pattern's blanks.
RIGHT_MARK = re.compile(r"\(\?#right\)$", re.IGNORECASE)


def pattern_parts(pattern: str) -> list[str]:
    """The pattern's parts as the toolbar reads them: blanks dropped, split at `;`."""
    return pattern.replace(" ", "").split(";")


def part_of(parts: list[str], pair: tuple[str, str]) -> str | None:
    """The first of `parts` that matches the pair ("X,Y") whole, or None."""
    test = f"{pair[0]},{pair[1]}"
    for part in parts:
        try:
            found = re.match(part, test)
        except re.error:
            continue
        if found and found.group(0) == test:
            return part
    return None


def marked_right(pattern: str, pairs: Iterable[tuple[str, str]]) -> frozenset:
    """The pairs whose pattern part carries the right axis' mark."""
    parts = pattern_parts(pattern or "")
    if not any(RIGHT_MARK.search(part) for part in parts):
        return frozenset()
    return frozenset(tuple(pair) for pair in pairs
                     if RIGHT_MARK.search(part_of(parts, tuple(pair)) or ""))


class AxisSides:
    """The side of each curve: the pattern's marks, then the user's choices
    from the legend's menu (pair -> right or not); and whether the right
    axis is logarithmic."""

    def __init__(self):
        self.chosen: dict[tuple[str, str], bool] = {}
        self.right_log = False
        self._cache = None  # (pattern, pairs, chosen) -> the right pairs

    def choose(self, pair, right: bool) -> None:
        self.chosen[tuple(pair)] = bool(right)

    def right(self, pattern: str, pairs) -> frozenset:
        """The pairs of `pairs` drawn on the right axis."""
        pairs = tuple(tuple(pair) for pair in pairs)
        key = (pattern, pairs, tuple(sorted(self.chosen.items())))
        if self._cache is None or self._cache[0] != key:
            marked = marked_right(pattern, pairs)
            right = frozenset(pair for pair in pairs
                              if self.chosen.get(pair, pair in marked))
            self._cache = (key, right)
        return self._cache[1]
