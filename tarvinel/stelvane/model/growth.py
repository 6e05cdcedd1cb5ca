"""Whether an X column grows with the rows (each row's X at least the one
before): what decides between bisection and a full look at every row, and
whether a replay can keep X's pace. One test, asked of a whole column, or
of a growing run a block at a time (`GrowingX`); the test itself is the
recordings cache's, which knows a mapped column that rises."""

from dataclasses import dataclass
import math

import numpy as np

from ..formats.recordings.cache import grows


@dataclass(frozen=True)
class Growth:
    """Whether X grew over the run's rows up to `end` (counted from the
    run's first row), whose last X was `last`."""
    end: int
    last: float
    grows: bool


class GrowingX:
    """Whether an X column grows over a run's rows (each row's X at least
    the one before), per key (a column as it is read), looking only at the
    rows since the last look."""

    def __init__(self):
        self.memo: dict = {}  # key -> Growth

    def clear(self) -> None:
        self.memo.clear()

    def grows(self, x: np.ndarray, offset: int, key) -> bool:
        """Whether X grows over all of `x` (the run's rows from `offset`)."""
        memo = self.memo.get(key)
        end = offset + len(x)
        if memo is not None and offset < memo.end <= end and (
                x[memo.end - offset - 1] == memo.last
                or (math.isnan(memo.last) and math.isnan(x[memo.end - offset - 1]))):
            result = memo.grows and grows(x[memo.end - offset - 1:])
        elif memo is not None and memo.end > end and memo.grows:
            return True  # rows cut short (a pause's, a replay's) of rows that grow
        else:
            result = grows(x)
        if len(x):
            self.memo[key] = Growth(end, float(x[-1]), result)
        return result
