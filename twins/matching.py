"""matched_xy_pairs written in plain Python: the reference the native module
is compared with (differential tests, benchmark)."""

import itertools
import re


def matched_xy_pairs(patterns: str, lst: list[str]) -> list[tuple[str, str]]:
    if type(patterns) is not str:
        raise TypeError(f"patterns must be str, not {type(patterns).__name__}")
    if type(lst) is not list:
        raise TypeError(f"lst must be list, not {type(lst).__name__}")
    pattern_list = patterns.replace(" ", "").split(";")
    pairs = []
    for x, y in itertools.product(lst, repeat=2):
        test = f"{x},{y}"
        for pattern in pattern_list:
            r = re.match(pattern, test)
            if r and r.group(0) == test:
                pairs.append((x, y))
                break
    return pairs
